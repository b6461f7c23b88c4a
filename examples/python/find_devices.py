#!/usr/bin/env python3
"""Finds the devices on the bus and prints one line for each.

    python3 find_devices.py --port /dev/ttyUSB0
    python3 find_devices.py --port sim --virtual-time --full
"""
import argparse
import sys

import movantrix


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", default="0",
                        help="adapter index, device path, sim or sim:FILE (default: 0)")
    parser.add_argument("--virtual-time", action="store_true",
                        help="run the simulated bus on virtual time")
    parser.add_argument("--full", action="store_true", help="search all 255 baud-rate codes")
    args = parser.parse_args()

    with movantrix.open(args.port, virtual_time=args.virtual_time) as bus:
        found = bus.scan(full=args.full)
    print(f"{'code':>4} {'id':>3}  {'model':<8} firmware")
    for device in found:
        print(f"{device.code:>4} {device.id:>3}  {device.model_name:<8} {device.firmware}")
    print(f"{len(found)} devices" + ("" if found.sure else
                                     f", not sure of codes {list(found.unsure_codes)}"))
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
