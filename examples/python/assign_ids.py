#!/usr/bin/env python3
"""Gives new actuators their IDs: connect them one after the other, each is moved to the next
ID at the target baud-rate code and checked there. Ctrl+C stops after the actuator in hand.

    python3 assign_ids.py --port /dev/ttyUSB0 --ids 1-12 --baud 1 --codes 34
"""
import argparse
import sys

import movantrix


def id_list(text):
    """'1-4,7' -> [1, 2, 3, 4, 7]."""
    ids = []
    for part in text.split(","):
        first, _, last = part.partition("-")
        ids += range(int(first), int(last or first) + 1)
    return ids


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", default="0")
    parser.add_argument("--virtual-time", action="store_true")
    parser.add_argument("--ids", type=id_list, required=True, help="e.g. 1-12 or 1,3,5")
    parser.add_argument("--baud", type=int, default=1, help="target baud-rate code (default 1)")
    parser.add_argument("--codes", type=lambda t: [int(c) for c in t.split(",")],
                        help="where new actuators answer, e.g. 34 (default: the common codes)")
    parser.add_argument("--settings", help="a settings file restored onto each actuator")
    args = parser.parse_args()

    def on_event(event):
        if event.kind == "row":
            print(event.row.line, flush=True)
        elif event.kind in ("waiting", "trouble", "refused", "still looking"):
            print(f"  {event.text}", flush=True)

    with movantrix.open(args.port, virtual_time=args.virtual_time) as bus:
        try:
            report = bus.assign(args.ids, args.baud, codes=args.codes, settings=args.settings,
                                on_event=on_event)
        except KeyboardInterrupt:
            print("stopped: the actuators given so far keep their IDs")
            return 130
    print(report.summary)
    return 0 if report.ok else 1


if __name__ == "__main__":
    sys.exit(main())
