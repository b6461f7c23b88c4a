#!/usr/bin/env bash
# Builds the benchmarks in their own preset (bench: -O2, build/bench) and runs them. Not part of the tests.
# Usage: scripts/bench.sh [benchmark options...]   e.g. --benchmark_filter=Loopback
# Options go to the Google Benchmark programs; when there are any, the plain real-time programs
# (cli_pty_bench, watch_pty_bench and the two GUI ones) are left out.
#   transaction_bench  CPU time of a ping and a 26-byte read (loopback adapter, simulated bus)
#   search_bench       quick and full search of the empty and the default simulated bus,
#                      virtual time, against the floor of the search's waits, read timeouts
#                      and answered wire time (ratio measured / floor, ceiling 1.01); and the
#                      fast search against that floor (ceilings 1/30 to 1/2 where the devices
#                      answer the broadcast at once, 0.4 and 0.8 where they space their answers
#                      out by ID) and its own floor (the wire and the 500 ms broadcast wait at
#                      codes with devices)
#   firmware_bench     download of a 65526-byte image to one simulated device, virtual time,
#                      against its floor (ceiling 1.01)
#   flash_scaling_bench  CPU time of flashing N = 25 .. 300 devices of one model on the
#                      simulated bus, in total and per device (the simulator's own cost)
#   assign_bench       movantrix-cli assign's flow, virtual time: twelve new actuators at code
#                      34 connected every 3 s, IDs 1-12 at code 1; per actuator from its
#                      connection to "checked" against the wire and settling floor (ceiling
#                      1.5 s beyond it), and all twelve assigned in order, none missed, none
#                      moved twice
#   facade_bench       libmovantrix: what Device::read adds to the core's read of the same
#                      register on the simulated bus (ceiling 20 us), and a watch sample's CPU
#   cli_pty_bench      movantrix-cli against movantrix-bus-sim on a pseudo-terminal in real
#                      time: quick scans of the default and the empty bus, a ping and a read of
#                      one device, 3 runs each, wall time against the floor of each command
#                      (ceilings 1.10 for the scans, 1.5 for the ping and the read), then
#                      scan --fast against scan with the server's latency at 1 and 16 ms, and
#                      at 1 ms with the broadcast answers spaced out by ID; a plain program
#                      that takes no benchmark options. It takes about five minutes.
#   watch_pty_bench    movantrix-cli watch against movantrix-bus-sim on a pseudo-terminal in
#                      real time: 100 Hz at code 1 for 10 s (delivered >= 99 %, p99 gap <= 15
#                      ms), and the highest rate sustained at codes 1, 34 and 207 against the
#                      wire limit of one status read (ceiling 1.15); about 20 s, no options.
#   gui_search_bench   the desktop program's start-up and search on the default simulated bus
#                      in real time (blocked event loop, start-up time, peak memory); a plain
#                      program, run once with the standard search and once with --fast (the
#                      dialog's "Fast" box). Without DISPLAY it runs under xvfb-run -a (or on
#                      whatever QT_QPA_PLATFORM names).
#   gui_poll_bench     the Operation page polling one actuator for 10 s in real time (CPU use,
#                      longest event-loop block); run like gui_search_bench.
#   gui_telemetry_bench the telemetry window at 100 Hz for 10 s in real time (CPU use, longest
#                      event-loop block) and a simulated 10-minute recording (memory growth);
#                      run like gui_search_bench.
#   gui_command_bench  every command of the desktop program that goes to the bus (Configure's
#                      Apply and Set Default, Load Settings, the Network changes, selecting a
#                      device, the refresh, the wizard, the search dialog, the Control Table's
#                      Read All and an edit in place) at codes 1 and 207
#                      in real time: the GUI thread's longest block (ceiling 16 ms) and the
#                      time to the last result (ceiling: the baseline before the bus executor
#                      plus 5 ms), with the devices' floor; the Operation page's poll and the
#                      telemetry beside it (block), and telemetry at 100 Hz beside the poll of
#                      a device at code 1 and at code 34 (>= 95 % of the rate the bus allows,
#                      the poll at 250 ms), and the Control Table's live refresh at code 207
#                      (>= 90 % of the rate the wire allows for its reads, block); about 10
#                      minutes, run like gui_search_bench. The machine should be quiet: the
#                      figures are wall time.
#   gui_bus_log_bench  the Bus Log window open beside the telemetry window at 100 Hz: the
#                      longest block in 20 s of real time, the memory growth over 10 minutes of
#                      it on virtual time (ceiling 50 MB), and a second window opened on the
#                      full log (block); run like gui_search_bench.
#   python_bench.py    the Python module against the same calls in C++ (facade_call_bench): a
#                      register read on the simulated bus with virtual time (ceiling 5 us over
#                      C++) and a watch at 200 Hz for 10 s in real time (floor 99 % of the
#                      samples C++ delivers); run with /usr/bin/python3, about 25 s, no options.
# A benchmark that measures below its floor (the floor or the code is wrong) or above its
# ceiling fails; every benchmark still runs, and the script then exits with 1 naming them.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench --target transaction_bench search_bench firmware_bench \
    flash_scaling_bench assign_bench facade_bench cli_pty_bench watch_pty_bench gui_search_bench \
    gui_poll_bench gui_telemetry_bench gui_command_bench gui_bus_log_bench
if grep -q 'movantrix_python' build/bench/build.ninja; then
    cmake --build --preset bench --target movantrix_python facade_call_bench
    python_bench=1
else
    python_bench=0  # no Python module (pybind11 or python3's headers missing)
fi
failed=()
for bench in transaction_bench search_bench firmware_bench flash_scaling_bench assign_bench \
    facade_bench; do
    "build/bench/bench/$bench" "$@" || failed+=("$bench")
done
real_time=(gui_search_bench gui_poll_bench gui_telemetry_bench gui_command_bench gui_bus_log_bench)
if [ $# -gt 0 ]; then
    real_time=()
else
    build/bench/bench/cli_pty_bench || failed+=(cli_pty_bench)
    build/bench/bench/watch_pty_bench || failed+=(watch_pty_bench)
    if [ "$python_bench" -eq 1 ]; then
        PYTHONPATH=build/bench/python /usr/bin/python3 bench/python_bench.py \
            build/bench/bench/facade_call_bench || failed+=(python_bench)
    fi
fi
run_gui() {
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]; then
        "$@"
    else
        xvfb-run -a "$@"
    fi
}
for bench in "${real_time[@]}"; do
    run_gui "build/bench/bench/$bench" || failed+=("$bench")
    if [ "$bench" = gui_search_bench ]; then
        run_gui "build/bench/bench/$bench" --fast || failed+=("$bench --fast")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "bench.sh: failed: ${failed[*]}" >&2
    exit 1
fi
