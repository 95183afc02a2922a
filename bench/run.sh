#!/usr/bin/env bash
# Builds and runs the benchmarks at 10,000 and 100,000 cards, or at the count given
# (bench/run.sh 1000000); prints one line per figure with its workload size, each beside the
# sqlcipher tool's time for the same statements. Generated databases are kept in
# $OSTREL_BENCH_CACHE (default ~/.cache/ostrel-bench) for later runs. The load average at
# start and end tells whether others were using the machine meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "# start: $(uptime)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j 2 --target ostrel_bench_list ostrel_bench_gen ostrel_bench_export ostrel_bench_backup \
    ostrel_bench_import ostrel_bench_quickfind ostrel_bench_server_list ostrel_bench_vcard >/dev/null
./build/bench/ostrel_bench_list "$@"
./build/bench/ostrel_bench_export "$@"
./build/bench/ostrel_bench_import --cards "${1:-100000}" --only xlsx100000
./build/bench/ostrel_bench_backup "$@"
./build/bench/ostrel_bench_quickfind "$@"
./build/bench/ostrel_bench_vcard "$@"
# Both engines at 100,000 and 1,000,000 cards unless a count is given.
./build/bench/ostrel_bench_server_list "$@"
echo "# end: $(uptime)"
