# The examples of examples/python, each run as a user runs it, on the simulated bus with
# virtual time.
import csv
import json
import subprocess
import sys

from conftest import EXAMPLES, SAMPLES


def run(example, *args):
    done = subprocess.run([sys.executable, str(EXAMPLES / example), *args],
                          capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


def test_find_devices():
    status, out, err = run("find_devices.py", "--port", "sim", "--virtual-time")
    assert status == 0, err
    lines = out.splitlines()
    assert lines[0].split() == ["code", "id", "model", "firmware"]
    assert lines[1].split() == ["1", "1", "MQ-35", "30"]
    assert lines[-1] == "8 devices"


def test_assign_ids():
    port = f"sim:{SAMPLES / 'sim-bus-twelve-new-actuators.json'}"
    status, out, err = run("assign_ids.py", "--port", port, "--virtual-time", "--ids", "1-12",
                           "--baud", "1", "--codes", "34")
    assert status == 0, err
    checked = [line for line in out.splitlines() if line.endswith("checked")]
    assert len(checked) == 12 and checked[0].startswith("ID 1:")


def test_record_positions(tmp_path):
    out = tmp_path / "positions.csv"
    port = f"sim:{SAMPLES / 'sim-bus.json'}"  # ID 3 starts at position 1024
    status, _, err = run("record_positions.py", "--port", port, "--virtual-time", "--id", "3",
                         "--rate", "100", "--duration", "2", "--goal", "3000", "--out", str(out))
    assert status == 0, err
    with out.open() as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == 200 and err.strip() == "200 samples"
    assert rows[0]["time_s"] == "0.000" and rows[1]["time_s"] == "0.010"
    positions = [int(r["present_position"]) for r in rows]
    assert 1024 <= positions[0] < positions[-1] <= 3000  # on its way from 1024 to 3000
    assert positions == sorted(positions)
    assert {r["goal_position"] for r in rows} == {"3000"}


def test_check_robot(tmp_path):
    profile = tmp_path / "robot.json"
    port = f"sim:{SAMPLES / 'sim-bus.json'}"
    status, out, err = run("check_robot.py", "--port", port, "--virtual-time", "--save",
                           str(profile))
    assert status == 0, err
    assert out.strip() == f"saved 8 devices to {profile}"
    status, out, _ = run("check_robot.py", "--port", port, "--virtual-time", str(profile))
    assert status == 0 and out.splitlines()[-1] == "all as the profile says"

    bus = json.loads((SAMPLES / "sim-bus.json").read_text())
    bus["devices"] = [d for d in bus["devices"] if d["id"] != 3]
    missing = tmp_path / "bus.json"
    missing.write_text(json.dumps(bus))
    status, out, _ = run("check_robot.py", "--port", f"sim:{missing}", "--virtual-time",
                         str(profile))
    assert status == 1
    assert any(line.split()[:5] == ["code", "1", "ID", "3", "missing"]
               for line in out.splitlines())
    assert out.splitlines()[-1] == "1 of 8 not as the profile says"
