# The module as a script uses it: open, search, the devices found, the context manager.
import threading

import pytest

import movantrix

DEFAULT_BUS = [(1, 1, 28), (1, 2, 12), (1, 3, 106), (1, 4, 64), (1, 9, 255),  # 9: pings only
               (34, 7, 10), (34, 100, 13), (207, 21, 113)]


@pytest.mark.parametrize("kwargs", [{}, {"fast": False}, {"codes": [1, 34, 207]}])
def test_scan_finds_the_default_bus(bus, kwargs):
    found = bus.scan(**kwargs)
    assert isinstance(found, list) and isinstance(found, movantrix.ScanResult)
    assert sorted((d.code, d.id, d.model) for d in found) == sorted(DEFAULT_BUS)
    assert found.sure and list(found.unsure_codes) == [] and not found.stopped


def test_scan_reports_progress(bus):
    seen = []
    bus.scan(codes=[34], progress=lambda percent, code, id: seen.append((percent, code)))
    assert seen and all(code == 34 for _, code in seen)
    assert [p for p, _ in seen] == sorted(p for p, _ in seen) and seen[-1][0] <= 100


def test_a_progress_callback_that_raises_stops_the_search(bus):
    def fail(percent, code, id):
        raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough"):
        bus.scan(full=True, progress=fail)
    assert len(bus.scan(codes=[1])) == 5  # the bus is usable afterwards


def test_device_identity(bus):
    device = bus.device(1, 3)
    assert (device.code, device.id, device.address) == (1, 3, (1, 3))
    assert (device.model, device.model_name, device.firmware) == (106, "PW-900", 38)
    assert device.return_level == 2 and device.is_actuator
    assert repr(device) == "<Device PW-900 at code 1 ID 3 firmware 38>"
    assert device == bus.device(1, 3) and len({device, bus.device(1, 3)}) == 1


def test_status_and_settings(bus):
    device = bus.device(1, 3)
    status = device.status()
    assert status["present-position"] == device.read("present-position")
    assert isinstance(status["present-voltage"], float)
    settings = device.settings()
    assert settings["max-torque"] == device.read("max-torque")
    assert isinstance(settings["alarm-shutdown"], list)


def test_led_and_ping(bus):
    device = bus.device(1, 1)
    device.ping()
    device.led(True)
    assert device.read("led") == 1
    device.led(False)
    assert device.read("led") == 0


def test_with_closes_the_adapter():
    with movantrix.open("sim", virtual_time=True) as bus:
        assert bus.is_open and bus.port == "sim"
        device = bus.device(1, 1)
    assert not bus.is_open
    with pytest.raises(movantrix.AdapterLost):
        device.read("goal-position")
    bus.close()  # again: nothing happens


def test_calls_from_threads_wait_for_each_other(bus):
    devices = [bus.device(1, i) for i in (1, 2, 3, 4)]
    errors = []

    def work(device, position):
        try:
            for _ in range(20):
                device.write("goal-position", position)
                assert device.read("goal-position") == position
        except Exception as error:  # reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(d, 100 + 10 * i))
               for i, d in enumerate(devices)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []


def test_help_texts():
    for item in (movantrix, movantrix.open, movantrix.Bus.scan, movantrix.Device.write,
                 movantrix.Device.watch, movantrix.Bus.assign, movantrix.Sample,
                 movantrix.CheckRow, movantrix.BusError):
        assert item.__doc__ and len(item.__doc__) > 20, item
    assert movantrix.Row is movantrix.CheckRow
    assert movantrix.__version__.count(".") == 2


def test_a_callback_that_uses_the_bus_is_refused_not_stuck(bus):
    def progress(percent, code, id):
        bus.device(1, 1)

    with pytest.raises(RuntimeError):
        bus.scan(codes=[1], progress=progress)
    assert len(bus.scan(codes=[1])) == 5
