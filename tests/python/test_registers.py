# Register names: every readable name reads in its unit, the setters' values go through and
# read back, and values the command line refuses are refused with its message.
import pytest

import movantrix

VOLTS = {"min-voltage", "max-voltage", "present-voltage"}
FLAGS = {"alarm-led", "alarm-shutdown"}


def test_every_readable_register_reads_in_its_unit(bus):
    device = bus.device(1, 1)
    names = movantrix.readable_registers()
    assert {"goal-position", "present-position", "max-voltage", "alarm-shutdown"} <= set(names)
    for name in names:
        value = device.read(name)
        if name in VOLTS:
            assert isinstance(value, float), name
        elif name in FLAGS:
            assert isinstance(value, list) and all(isinstance(f, str) for f in value), name
        else:
            assert isinstance(value, int) and not isinstance(value, bool), name


def test_every_writable_register_is_a_command_line_name():
    assert set(movantrix.writable_registers()) == {
        "torque-enable", "led", "cw-compliance-margin", "ccw-compliance-margin",
        "cw-compliance-slope", "ccw-compliance-slope", "goal-position", "moving-speed",
        "torque-limit", "punch", "cw-angle-limit", "ccw-angle-limit", "max-torque",
        "temperature-limit", "min-voltage", "max-voltage", "wheel-mode", "alarm-led",
        "alarm-shutdown", "id", "baud", "return-delay", "return-level"}


@pytest.mark.parametrize("name, value, read_back", [
    ("goal-position", 512, 512),
    ("goal-position", "300", 300),
    ("torque-enable", True, 1),
    ("torque-enable", "off", 0),
    ("led", "on", 1),
    ("cw-compliance-margin", 4, 4),
    ("ccw-compliance-slope", 64, 64),
    ("torque-limit", 800, 800),
    ("punch", 40, 40),
    ("max-torque", 900, 900),
    ("temperature-limit", 70, 70),
    ("min-voltage", 6.5, 6.5),
    ("max-voltage", "16", 16.0),
    ("alarm-led", ["overload", "overheating"], ["overload", "overheating"]),
    ("alarm-shutdown", "overheating,input-voltage", ["overheating", "input-voltage"]),
    ("alarm-shutdown", "none", []),
    ("alarm-led", 36, ["overload", "overheating"]),
    ("return-delay", 10, 10),
])
def test_write_then_read(bus, name, value, read_back):
    device = bus.device(1, 1)
    device.write(name, value)
    assert device.read(name) == read_back


def test_id_write_moves_the_device_and_the_object_follows(bus):
    device = bus.device(1, 2)
    device.write("id", 30)
    assert (device.code, device.id) == (1, 30)
    assert bus.device(1, 30).model == device.model
    with pytest.raises(movantrix.NoAnswer):
        bus.device(1, 2)


@pytest.mark.parametrize("name, value, error, words", [
    ("no-such-register", 1, ValueError, "no-such-register"),
    ("goal-position", 5000, ValueError, "goal-position: 5000 is out of range (0-4095)"),
    ("goal-position", 10**12, ValueError, "goal-position"),
    ("goal-position", "12a", ValueError, 'goal-position: "12a" is not a whole number'),
    ("torque-enable", "maybe", ValueError, 'torque-enable: "maybe" is not on or off'),
    ("max-voltage", "14.55", ValueError,
     'max-voltage: "14.55" is not a voltage in volts with at most one decimal'),
    ("max-voltage", 30.0, ValueError, "max-voltage: 30.0 V is out of range (5.0-25.0 V)"),
    ("alarm-led", "overload,bogus", ValueError, 'unknown alarm flag "bogus"'),
    ("goal-position", None, TypeError, "goal-position"),
    ("alarm-led", ["overload", 3], TypeError, "flag names must be str"),
    ("goal-position", {"x": 1}, TypeError, "not dict"),
])
def test_bad_values_are_refused_before_the_bus(bus, name, value, error, words):
    device = bus.device(1, 1)
    before = device.read("goal-position")
    with pytest.raises(error) as raised:
        device.write(name, value)
    assert words in str(raised.value)
    assert device.read("goal-position") == before


def test_position_above_the_models_max_is_refused(bus):
    device = bus.device(1, 1)  # MQ-35: positions 0-1023
    with pytest.raises(movantrix.Refused):
        device.write("goal-position", 2000)
    assert bus.device(1, 3).model == 106  # PW-900 takes it
    bus.device(1, 3).write("goal-position", 2000)


@pytest.mark.parametrize("address, length, error", [
    (0, 0, ValueError), (0, 151, ValueError), (-1, 1, ValueError), (256, 1, ValueError),
])
def test_raw_read_arguments(bus, address, length, error):
    with pytest.raises(error):
        bus.device(1, 1).read_raw(address, length)


def test_raw_read_and_write(bus):
    device = bus.device(1, 1)
    head = device.read_raw(0, 3)
    assert isinstance(head, bytes) and len(head) == 3
    assert head[0] | head[1] << 8 == device.model
    assert head[2] == device.firmware
    device.write_raw(30, 700, word=True)
    assert device.read("goal-position") == 700
    device.write_raw(25, 1)
    assert device.read("led") == 1
    with pytest.raises(ValueError):
        device.write_raw(30, 256)
