#!/usr/bin/env bash
# Builds every fuzz target and runs its seeds, then every test twice: a normal build and an ASan+UBSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
JOBS=${JOBS:-$(nproc)}
# Every fuzz target builds and runs its seeds (new inputs are scripts/fuzz.sh's
# long runs, so a finding never makes this run flaky). First, so the test
# summary ends the output.
echo "== fuzz targets =="
FUZZ_BUILD=build-test-fuzz JOBS=$JOBS SECONDS_PER_TARGET=60 RUNS=0 MILLION_RUNS=0 \
  ./scripts/fuzz.sh >build-test-fuzz.log 2>&1 || { tail -n 60 build-test-fuzz.log; echo "fuzz targets failed"; exit 1; }
grep -c "^== " build-test-fuzz.log | xargs echo "fuzz targets run:"
for variant in release sanitize; do
  dir=build-test-$variant
  extra=()
  [ "$variant" = sanitize ] && extra=(-DORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  cmake -S . -B "$dir" -G Ninja "${extra[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS"
  echo "== tests ($variant) =="
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS"
done
