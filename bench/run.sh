#!/usr/bin/env bash
# Builds and runs the benchmarks; prints one line per figure with its workload size.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ostrel_bench_list ostrel_bench_gen ostrel_bench_export ostrel_bench_backup
./build/bench/ostrel_bench_list "$@"
./build/bench/ostrel_bench_export "$@"
./build/bench/ostrel_bench_backup "$@"
