#!/usr/bin/env python3
"""The Python module against the same calls in C++ (facade_call_bench), each figure printed
next to its target; exits 1 when one misses it.

  register read   goal-position from the simulated bus with virtual time, the best of 5
                  rounds: Python's time per read at most 5 us above C++'s
  watch 200 Hz    the simulated bus in real time, 10 s: Python delivers at least 99 % of the
                  samples C++ delivers

Usage: PYTHONPATH=build/default/python python3 bench/python_bench.py build/default/bench/facade_call_bench
"""
import subprocess
import sys
import time

import movantrix

READS = 20000
WATCH_HZ = 200.0
WATCH_S = 10.0
READ_CEILING_US = 5.0
WATCH_FLOOR = 0.99


def python_read_us():
    with movantrix.open("sim", virtual_time=True) as bus:
        device = bus.device(1, 1)
        read = device.read
        best = float("inf")
        for _ in range(5):
            start = time.perf_counter()
            for _ in range(READS):
                read("goal-position")
            best = min(best, (time.perf_counter() - start) / READS * 1e6)
    return best


def python_watch_samples():
    with movantrix.open("sim") as bus:
        device = bus.device(1, 1)
        return sum(1 for s in device.watch(rate_hz=WATCH_HZ, duration=WATCH_S) if s.ok)


def main():
    cpp = sys.argv[1]
    failed = []
    cpp_us = float(subprocess.check_output([cpp, "read", str(READS)], text=True))
    py_us = python_read_us()
    overhead = py_us - cpp_us
    verdict = "ok" if overhead <= READ_CEILING_US else "FAILED"
    print(f"register read: C++ {cpp_us:.2f} us, Python {py_us:.2f} us, overhead "
          f"{overhead:.2f} us (ceiling {READ_CEILING_US:.0f} us) {verdict}")
    if verdict != "ok":
        failed.append("register read")

    cpp_samples = int(subprocess.check_output([cpp, "watch", str(WATCH_HZ), str(WATCH_S)],
                                              text=True))
    py_samples = python_watch_samples()
    share = py_samples / cpp_samples if cpp_samples else 0.0
    verdict = "ok" if share >= WATCH_FLOOR else "FAILED"
    due = round(WATCH_HZ * WATCH_S)
    if cpp_samples > due or py_samples > due:
        verdict = "FAILED (more samples than the schedule has)"
    print(f"watch {WATCH_HZ:.0f} Hz for {WATCH_S:.0f} s ({due} due): C++ {cpp_samples} samples, "
          f"Python {py_samples} = {share * 100:.1f} % (floor {WATCH_FLOOR * 100:.0f} %) {verdict}")
    if verdict != "ok":
        failed.append("watch")
    if failed:
        print("python_bench: failed: " + ", ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
