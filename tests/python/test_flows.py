# The flows on the simulated bus with virtual time: backup and restore, assign with its
# events, and a robot profile saved, checked, applied and adopted.
import pytest

import movantrix

NEW_ACTUATORS = [{"id": 1, "baud": 34, "model": 28, "version": 30, "appearAtS": t}
                 for t in (2, 6, 10)]


def test_backup_and_restore_round_trip(bus, tmp_path):
    device = bus.device(1, 1)
    path = tmp_path / "mq35.json"
    bus.backup(device, path)
    saved = device.settings()
    device.write("max-torque", 500)
    device.write("alarm-shutdown", "none")

    dry = bus.restore(path, dry_run=True)
    assert dry.dry_run and dry.ok
    assert {d.name for d in dry.rows[0].differences} == {"max-torque", "alarm-shutdown"}
    assert device.read("max-torque") == 500

    report = bus.restore(str(path))
    assert report.ok and report.rows[0].at == (1, 1)
    assert set(report.rows[0].written) == {"max-torque", "alarm-shutdown"}
    assert device.settings() == saved


def test_restore_onto_other_devices(bus, tmp_path):
    path = tmp_path / "mq35.json"
    bus.backup(bus.device(1, 1), path)
    report = bus.restore(path, devices=[bus.device(1, 2), (1, 4)], force=True)
    assert [row.at for row in report.rows] == [(1, 2), (1, 4)]


def test_assign_gives_the_ids_in_order_with_events(sim_file):
    events = []
    with movantrix.open(sim_file(NEW_ACTUATORS), virtual_time=True) as bus:
        report = bus.assign([5, 6, 7], 1, codes=[34], on_event=events.append)
        assert report.ok and not report.stopped and report.given == 3
        assert [(r.id, r.state, r.at) for r in report.rows] == [
            (5, "checked", (1, 5)), (6, "checked", (1, 6)), (7, "checked", (1, 7))]
        assert sorted(d.address for d in bus.scan(codes=[1, 34])) == [(1, 5), (1, 6), (1, 7)]
    kinds = [e.kind for e in events]
    assert kinds[0] == "searching" and kinds[-1] == "finished"
    checked = [e.row.id for e in events if e.kind == "row" and e.row.state == "checked"]
    assert checked == [5, 6, 7]


def test_an_event_callback_that_raises_stops_between_actuators(sim_file):
    def stop_after_first(event):
        if event.kind == "row" and event.row.state == "checked":
            raise RuntimeError("enough")

    with movantrix.open(sim_file(NEW_ACTUATORS), virtual_time=True) as bus:
        with pytest.raises(RuntimeError, match="enough"):
            bus.assign([5, 6, 7], 1, codes=[34], on_event=stop_after_first)
        found = sorted(d.address for d in bus.scan(codes=[1, 34]))
    # The first is at its ID; the others were never moved (or had not come yet).
    assert found[0] == (1, 5) and all(a in ((1, 5), (34, 1)) for a in found)


def test_profile_save_check_apply(bus, tmp_path):
    path = tmp_path / "robot.json"
    saved = bus.profile_save(path, codes=[1, 34, 207])
    assert sorted(d.at for d in saved) == sorted(
        [(1, 1), (1, 2), (1, 3), (1, 4), (1, 9), (34, 7), (34, 100), (207, 21)])
    assert all(row.ok for row in bus.profile_check(path))

    bus.device(1, 2).write("max-torque", 300)
    bus.device(1, 4).write("id", 40)
    rows = {row.expected_at or row.found_at: row for row in bus.profile_check(path)}
    assert rows[(1, 2)].kind == "settings differ"
    assert [(s.name, s.now) for s in rows[(1, 2)].settings] == [("max-torque", 300)]
    assert rows[(1, 4)].kind == "moved" and rows[(1, 4)].found_at == (1, 40)

    applied = {row.at: row for row in bus.profile_apply(path)}
    assert applied[(1, 2)].applied and bus.device(1, 2).read("max-torque") != 300


def test_profile_adopt_takes_the_missing_joints_place(bus, tmp_path, sim_file):
    path = tmp_path / "robot.json"
    bus.profile_save(path, codes=[1])
    devices = [{"id": i, "baud": 1, "model": m, "version": v}
               for i, m, v in ((1, 28, 30), (2, 12, 24), (3, 106, 38))]
    devices.append({"id": 9, "baud": 1, "model": 116, "version": 21, "returnLevel": 0})
    devices.append({"id": 50, "baud": 1, "model": 64, "version": 35})  # replaces ID 4
    with movantrix.open(sim_file(devices), virtual_time=True) as replaced:
        report = replaced.profile_adopt(path)
        assert report.ok, report.reason
        assert (report.newcomer, report.target) == ((1, 50), (1, 4))
        assert all(row.ok for row in replaced.profile_check(path))
