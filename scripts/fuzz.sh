#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time over its seed corpus (engine/fuzz/corpus, tooltip/fuzz/corpus,
# view/fuzz/corpus).
# TARGETS picks some, RUNS and SECONDS_PER_TARGET bound each (MILLION_RUNS and
# MILLION_SECONDS the targets that get a million inputs). New inputs go
# to build-fuzz/corpus, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-100000}
SECONDS_PER_TARGET=${SECONDS_PER_TARGET:-120}
cmake -S engine/fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "${JOBS:-$(nproc)}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TARGETS=${TARGETS:-"DescriptorFuzzer DeviceTreeFuzzer UsbIdsFuzzer ParserFuzzer PanesFuzzer SetupFuzzer HtmlFuzzer GarthoFuzzer HidFuzzer PalvineFuzzer ViewsFuzzer AudioFuzzer"}
for target in $TARGETS; do
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  echo "== $target =="
  src=engine/fuzz runs=$RUNS seconds=$SECONDS_PER_TARGET million=0
  # Tip texts and the class plug-ins' input (still-image containers and
  # datasets, bulk-only wrappers, report descriptors, audio entity tables and
  # parameter blocks) come from captured data or editable configurations:
  # each of them gets a million inputs, in the time that takes on a loaded machine.
  [ "$target" = HtmlFuzzer ] && src=tooltip/fuzz
  [ "$target" = ViewsFuzzer ] && src=view/fuzz
  case "$target" in HtmlFuzzer | PalvineFuzzer | GarthoFuzzer | HidFuzzer | AudioFuzzer) million=1 ;; esac
  ((million)) && runs=${MILLION_RUNS:-1000000} seconds=${MILLION_SECONDS:-2400}
  dict=()
  [ -f "$src/${target%Fuzzer}.dict" ] && dict=(-dict="$src/${target%Fuzzer}.dict")
  parallel=()
  if ((million)); then
    # Spread over the build's jobs; each writes build-fuzz/fuzz-N.log.
    n=${JOBS:-$(nproc)}
    parallel=(-jobs="$n" -workers="$n")
    runs=$(((runs + n - 1) / n))  # at least the whole count over the jobs
    rm -f build-fuzz/fuzz-*.log
  fi
  (cd build-fuzz && "./$target" -artifact_prefix=./ "${dict[@]/-dict=/-dict=../}" -runs="$runs" \
    -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 "${parallel[@]}" \
    "${work#build-fuzz/}" "../$src/corpus/$target")
  if ((${#parallel[@]})); then
    grep -h "number_of_executed_units" build-fuzz/fuzz-*.log |
      awk -v t="$target" '{ n += $2 } END { print t ": " n " inputs in all jobs" }'
    if grep -l "ERROR\|deadly signal" build-fuzz/fuzz-*.log; then exit 1; fi
  fi
done
