#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for a
# bounded time over the seed corpus in engine/fuzz/corpus. New inputs go to
# build-fuzz/corpus, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${RUNS:-100000}
SECONDS_PER_TARGET=${SECONDS_PER_TARGET:-120}
cmake -S engine/fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "${JOBS:-$(nproc)}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in DescriptorFuzzer DeviceTreeFuzzer UsbIdsFuzzer ParserFuzzer PanesFuzzer; do
  work=build-fuzz/corpus/$target
  mkdir -p "$work"
  echo "== $target =="
  dict=()
  [ -f "engine/fuzz/${target%Fuzzer}.dict" ] && dict=(-dict="engine/fuzz/${target%Fuzzer}.dict")
  "build-fuzz/$target" -artifact_prefix=build-fuzz/ "${dict[@]}" -runs="$RUNS" -max_total_time="$SECONDS_PER_TARGET" -max_len=8192 \
    -print_final_stats=1 "$work" "engine/fuzz/corpus/$target"
done
