#!/usr/bin/env bash
# Builds the benchmarks in the default preset and runs them. Not part of the tests.
# Usage: scripts/bench.sh [benchmark options...]   e.g. --benchmark_filter=Loopback
#   transaction_bench  CPU time of a ping and a 26-byte read (loopback adapter, simulated bus)
#   search_bench       quick search of the empty and the default simulated bus, virtual time
#   firmware_bench     download of a 65526-byte image to one simulated device, virtual time
#   gui_search_bench   the desktop program's start-up and search on the default simulated bus
#                      in real time (blocked event loop, start-up time, peak memory); a plain
#                      program that takes no options. Without DISPLAY it runs under xvfb-run -a
#                      (or on whatever QT_QPA_PLATFORM names).
#   gui_poll_bench     the Operation page polling one actuator for 10 s in real time (CPU use,
#                      longest event-loop block); run like gui_search_bench.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target transaction_bench search_bench firmware_bench \
    gui_search_bench gui_poll_bench
for bench in transaction_bench search_bench firmware_bench; do
    "build/default/bench/$bench" "$@"
done
for bench in gui_search_bench gui_poll_bench; do
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
        "build/default/bench/$bench"
    else
        xvfb-run -a "build/default/bench/$bench"
    fi
done
