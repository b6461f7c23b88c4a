# The error classes: which failure raises which class, with the result code and the core's
# words; bad arguments raise ValueError or TypeError before anything goes on the wire.
import pickle

import pytest

import movantrix


@pytest.mark.parametrize("cls, base", [
    (movantrix.BusError, Exception),
    (movantrix.Timeout, movantrix.BusError),
    (movantrix.NoAnswer, movantrix.Timeout),
    (movantrix.AdapterLost, movantrix.BusError),
    (movantrix.Refused, movantrix.BusError),
])
def test_class_tree(cls, base):
    assert issubclass(cls, base)
    assert cls.__module__ == "movantrix"
    assert cls.__doc__


def _nobody_there(bus):
    bus.device(1, 99)


def _read_from_ping_only_device(bus):
    bus.device(1, 9).read_raw(0, 2)  # KV-410 at return level 0: answers pings only


def _closed_bus(bus):
    device = bus.device(1, 1)
    bus.close()
    device.ping()


def _scan_closed_bus(bus):
    bus.close()
    bus.scan()


@pytest.mark.parametrize("action, cls, code, words", [
    (_nobody_there, movantrix.NoAnswer, 103, "no reply (timeout) (103)"),
    (_read_from_ping_only_device, movantrix.Timeout, 103, "no reply (timeout) (103)"),
    (_closed_bus, movantrix.AdapterLost, 101, "adapter access failed (101)"),
    (_scan_closed_bus, movantrix.AdapterLost, 101, "adapter access failed (101)"),
])
def test_bus_failures(bus, action, cls, code, words):
    with pytest.raises(cls) as raised:
        action(bus)
    error = raised.value
    assert type(error) is cls
    assert (error.result_code, error.words) == (code, words)
    assert words in str(error)


def test_bus_error_pickles_with_its_code():
    error = movantrix.NoAnswer("code 1 ID 99: no reply (timeout) (103)", 103,
                               "no reply (timeout) (103)")
    copy = pickle.loads(pickle.dumps(error))
    assert type(copy) is movantrix.NoAnswer
    assert (str(copy), copy.result_code, copy.words) == (str(error), 103, error.words)


@pytest.mark.parametrize("call, error", [
    (lambda b: b.device(1, 254), ValueError),
    (lambda b: b.device(256, 1), ValueError),
    (lambda b: b.device("1", 1), TypeError),
    (lambda b: b.scan(codes=[300]), ValueError),
    (lambda b: b.scan(codes="1"), TypeError),
    (lambda b: b.assign([1, 300], 1), ValueError),
    (lambda b: b.assign([1], 256), ValueError),
    (lambda b: b.assign([1, 1], 1), ValueError),
    (lambda b: b.device(1, 1).watch(rate_hz=0), ValueError),
    (lambda b: b.device(1, 1).watch(duration=-1), ValueError),
    (lambda b: b.restore("/nonexistent/settings.json"), ValueError),
    (lambda b: b.profile_check("/nonexistent/profile.json"), ValueError),
])
def test_bad_arguments(bus, call, error):
    with pytest.raises(error):
        call(bus)


@pytest.mark.parametrize("port", ["", "sim:/nonexistent/bus.json"])
def test_bad_ports(port):
    with pytest.raises(ValueError) as raised:
        movantrix.open(port, virtual_time=True)
    assert str(raised.value)
