#!/usr/bin/env bash
# Builds and runs every test twice: a normal build and an ASan+UBSan build.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
JOBS=${JOBS:-$(nproc)}
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
