# Ctrl+C during a long call: a child process is sent SIGINT while it searches, assigns or
# watches. The call ends between its steps with KeyboardInterrupt, and the bus is left whole:
# usable, every device at an address where it answers in full.
import json
import os
import signal
import subprocess
import sys
import textwrap

import pytest

CHILD_TIMEOUT_S = 60


def run_interrupted(script, ready_line, *args):
    """Runs `script` in a child, sends it SIGINT once it prints `ready_line`; its output."""
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(script), *args],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    lines = []
    try:
        for line in child.stdout:
            lines.append(line.rstrip("\n"))
            if line.startswith(ready_line):
                child.send_signal(signal.SIGINT)
                break
        out, err = child.communicate(timeout=CHILD_TIMEOUT_S)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    lines += out.splitlines()
    assert child.returncode == 0, err
    return lines


def interrupted(lines):
    """Whether the line before the last tells of the interrupt. Ctrl+C may land inside the child's
    own print of a progress line, which then ends where "interrupted" begins."""
    return len(lines) >= 2 and lines[-2].endswith("interrupted")


def test_ctrl_c_stops_a_search():
    lines = run_interrupted("""
        import movantrix
        announced = False
        def progress(percent, code, id):
            global announced
            if not announced:
                print("searching", flush=True)
                announced = True
        with movantrix.open("sim") as bus:
            try:
                bus.scan(full=True, fast=False, progress=progress)
                print("finished")
            except KeyboardInterrupt:
                print("interrupted")
            print("after", len(bus.scan(codes=[207])))
    """, "searching")
    assert interrupted(lines) and lines[-1] == "after 1"


@pytest.mark.parametrize("ready", ["found", "moved", "checked"])
def test_ctrl_c_stops_an_assign_with_nothing_half_moved(tmp_path, ready):
    bus_file = tmp_path / "bus.json"
    # One new actuator after the first search; the flow then waits for the second for ever.
    bus_file.write_text(json.dumps({"adapter": "Test Bus", "devices": [
        {"id": 1, "baud": 34, "model": 28, "version": 30, "appearAtS": 5}]}))
    lines = run_interrupted("""
        import json, sys
        import movantrix
        def on_event(event):
            if event.kind == "row":
                print(event.row.state, flush=True)
        with movantrix.open("sim:" + sys.argv[1], virtual_time=True) as bus:
            try:
                bus.assign([5, 6], 1, codes=[34], on_event=on_event)
                print("finished")
            except KeyboardInterrupt:
                print("interrupted")
            found = [(d.code, d.id, d.model) for d in bus.scan(codes=[1, 34])]
            print("after", json.dumps(found))
    """, ready, str(bus_file))
    assert any(line.endswith("interrupted") for line in lines) and "finished" not in lines
    found = json.loads(lines[-1].removeprefix("after "))
    assert found in ([[1, 5, 28]], [[34, 1, 28]])


def test_ctrl_c_stops_a_watch():
    lines = run_interrupted("""
        import movantrix
        with movantrix.open("sim", virtual_time=True) as bus:
            device = bus.device(1, 1)
            try:
                for sample in device.watch(rate_hz=100):
                    print("sample", sample.time, flush=True)
            except KeyboardInterrupt:
                print("interrupted")
            print("after", device.read("led"))
    """, "sample")
    assert interrupted(lines) and lines[-1] == "after 0"
