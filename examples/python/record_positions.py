#!/usr/bin/env python3
"""Records an actuator's positions to a CSV file (time in seconds, then the registers watched),
optionally moving it to a goal first.

    python3 record_positions.py --port /dev/ttyUSB0 --code 1 --id 3 --rate 100 --duration 5 \\
        --goal 512 --out positions.csv
"""
import argparse
import csv
import sys

import movantrix

COLUMNS = ["present-position", "goal-position", "present-speed", "present-load", "moving"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", default="0")
    parser.add_argument("--virtual-time", action="store_true")
    parser.add_argument("--code", type=int, default=1)
    parser.add_argument("--id", type=int, required=True)
    parser.add_argument("--rate", type=float, default=50.0, help="samples per second")
    parser.add_argument("--duration", type=float, default=5.0, help="seconds (Ctrl+C stops)")
    parser.add_argument("--goal", type=int, help="a goal position written before recording")
    parser.add_argument("--out", default="-", help="the CSV file (default: standard output)")
    args = parser.parse_args()

    out = sys.stdout if args.out == "-" else open(args.out, "w", newline="")
    rows = 0
    with movantrix.open(args.port, virtual_time=args.virtual_time) as bus:
        device = bus.device(args.code, args.id)
        if args.goal is not None:
            device.write("goal-position", args.goal)
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["time_s"] + [c.replace("-", "_") for c in COLUMNS])
        try:
            for sample in device.watch(COLUMNS, rate_hz=args.rate, duration=args.duration):
                if sample.ok:
                    writer.writerow([f"{sample.time:.3f}"] + [sample[c] for c in COLUMNS])
                    rows += 1
        except KeyboardInterrupt:
            pass
    if out is not sys.stdout:
        out.close()
    print(f"{rows} samples", file=sys.stderr)
    return 0 if rows else 1


if __name__ == "__main__":
    sys.exit(main())
