#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz (the project with
# ORVANE_FUZZ: each component's fuzz/ folder) and runs each for a bounded
# time over its seed corpus (fuzz/corpus/TARGET beside the target's source).
# TARGETS picks some, RUNS and SECONDS_PER_TARGET bound each (MILLION_RUNS and
# MILLION_SECONDS the targets that get a million inputs); RUNS=0 MILLION_RUNS=0
# runs the seeds alone. New inputs go
# to build-fuzz/corpus, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-100000}
SECONDS_PER_TARGET=${SECONDS_PER_TARGET:-120}
BUILD=${FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$BUILD" -G Ninja -DORVANE_FUZZ=ON -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target orvane_fuzz_targets
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# "NAME FOLDER" a line: where each target's corpus and dictionary lie.
declare -A folder
while read -r name dir; do [ -n "$name" ] && folder[$name]=$dir; done <"$BUILD/fuzz/targets.txt"
TARGETS=${TARGETS:-$(printf '%s\n' "${!folder[@]}" | sort | tr '\n' ' ')}
root=$PWD
for target in $TARGETS; do
  src=${folder[$target]:?"unknown fuzz target $target"}
  work=$BUILD/corpus/$target
  mkdir -p "$work"
  echo "== $target =="
  runs=$RUNS seconds=$SECONDS_PER_TARGET million=0
  # Tip texts and the class plug-ins' input (still-image containers and
  # datasets, bulk-only wrappers, report descriptors, audio entity tables and
  # parameter blocks) come from captured data or editable configurations:
  # each of them gets a million inputs, in the time that takes on a loaded machine.
  case "$target" in HtmlFuzzer | PalvineFuzzer | GarthoFuzzer | HidFuzzer | AudioFuzzer) million=1 ;; esac
  ((million)) && runs=${MILLION_RUNS:-1000000} seconds=${MILLION_SECONDS:-2400}
  dict=()
  [ -f "$src/${target%Fuzzer}.dict" ] && dict=(-dict="$root/$src/${target%Fuzzer}.dict")
  parallel=()
  if ((million && runs > 0)); then
    # Spread over the build's jobs; each writes $BUILD/fuzz-N.log.
    n=${JOBS:-$(nproc)}
    parallel=(-jobs="$n" -workers="$n")
    runs=$(((runs + n - 1) / n))  # at least the whole count over the jobs
    rm -f "$BUILD"/fuzz-*.log
  fi
  (cd "$BUILD" && "./fuzz/$target" -artifact_prefix=./ "${dict[@]}" -runs="$runs" \
    -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 "${parallel[@]}" \
    "${work#"$BUILD"/}" "$root/$src/corpus/$target")
  if ((${#parallel[@]})); then
    grep -h "number_of_executed_units" "$BUILD"/fuzz-*.log |
      awk -v t="$target" '{ n += $2 } END { print t ": " n " inputs in all jobs" }'
    if grep -l "ERROR\|deadly signal" "$BUILD"/fuzz-*.log; then exit 1; fi
  fi
done
