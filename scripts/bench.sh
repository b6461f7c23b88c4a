#!/usr/bin/env bash
# Builds the benchmarks in the default preset and runs them. Not part of the tests.
# Usage: scripts/bench.sh [benchmark options...]   e.g. --benchmark_filter=Loopback
#   transaction_bench  CPU time of a ping and a 26-byte read (loopback adapter, simulated bus)
#   search_bench       quick search of the empty and the default simulated bus, virtual time
#   firmware_bench     download of a 65526-byte image to one simulated device, virtual time
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target transaction_bench search_bench firmware_bench
for bench in transaction_bench search_bench firmware_bench; do
    "build/default/bench/$bench" "$@"
done
