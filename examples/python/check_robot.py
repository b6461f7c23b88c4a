#!/usr/bin/env python3
"""Checks a robot against its profile: every joint at its address with its model, firmware and
settings. Exits 0 when all is as the profile says. --save makes the profile from the bus.

    python3 check_robot.py --port /dev/ttyUSB0 --save robot.json   # once, on a good robot
    python3 check_robot.py --port /dev/ttyUSB0 robot.json          # before each demo
"""
import argparse
import sys

import movantrix


def where(address):
    return f"code {address[0]} ID {address[1]}" if address else "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("profile")
    parser.add_argument("--port", default="0")
    parser.add_argument("--virtual-time", action="store_true")
    parser.add_argument("--save", action="store_true", help="save the bus to the profile")
    args = parser.parse_args()

    with movantrix.open(args.port, virtual_time=args.virtual_time) as bus:
        if args.save:
            saved = bus.profile_save(args.profile)
            print(f"saved {len(saved)} devices to {args.profile}")
            return 0
        rows = bus.profile_check(args.profile)
    for row in rows:
        print(f"{where(row.expected_at or row.found_at):<16} {row.kind:<16} {row.detail}")
    bad = [row for row in rows if not row.ok]
    print("all as the profile says" if not bad else f"{len(bad)} of {len(rows)} not as the profile says")
    return 0 if not bad else 1


if __name__ == "__main__":
    sys.exit(main())
