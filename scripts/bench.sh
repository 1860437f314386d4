#!/usr/bin/env bash
# Builds the benchmarks in an optimised build and runs them: the parser's and class
# decoding's, the project's and the mark rows', the opening of a saved 32 M-record
# project in a new process, the charts', the packet list's, find's, then the
# summary's walk. Arguments go to each (for example --benchmark_filter=...).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BENCH=ON -DORVANE_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target orvane_bench orvane_open_bench velmora_bench orvane_list_bench \
  orvane_find_bench ombrel_bench
./build-bench/bin/orvane_bench "$@"
./build-bench/bin/orvane_open_bench "$@"
./build-bench/bin/velmora_bench "$@"
./build-bench/bin/orvane_list_bench "$@"
./build-bench/bin/orvane_find_bench "$@"
./build-bench/bin/ombrel_bench "$@"
