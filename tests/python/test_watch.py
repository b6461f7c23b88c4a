# Device.watch on virtual time: the samples' times follow the rate, the names asked for, the
# end of a duration, and gaps.
import pytest

import movantrix


@pytest.mark.parametrize("rate, duration", [(50, 1.0), (200, 0.5), (10, 3.0)])
def test_samples_follow_the_rate(bus, rate, duration):
    samples = list(bus.device(1, 1).watch(rate_hz=rate, duration=duration))
    assert abs(len(samples) - rate * duration) <= 1
    assert all(s.ok and s.result == 100 for s in samples)
    gaps = [b.time - a.time for a, b in zip(samples, samples[1:])]
    assert all(abs(g - 1 / rate) < 1e-3 for g in gaps)


def test_names_asked_for(bus):
    device = bus.device(1, 3)
    device.write("goal-position", 2000)
    with device.watch(["present-position", "present-voltage"], rate_hz=100) as watch:
        first = next(watch)
        assert set(first.values) == {"present-position", "present-voltage"}
        assert isinstance(first["present-voltage"], float)
        with pytest.raises(KeyError):
            first["moving"]
        positions = [next(watch)["present-position"] for _ in range(100)]
    assert positions[-1] == 2000
    assert watch.ended


def test_all_names_by_default(bus):
    sample = next(iter(bus.device(1, 1).watch()))
    assert {"present-position", "present-speed", "present-load", "present-voltage",
            "present-temperature", "goal-position", "moving", "torque-enable"} <= set(sample.values)


def test_a_closed_watch_frees_the_bus(bus):
    watch = bus.device(1, 1).watch(rate_hz=100)
    next(watch)
    watch.close()
    with pytest.raises(StopIteration):
        next(watch)
    assert bus.device(1, 2).read("goal-position") >= 0


def test_a_device_that_goes_silent_ends_the_watch_with_no_answer(sim_file):
    port = sim_file([{"id": 1, "baud": 1, "model": 28, "version": 30, "disappearAtS": 1}])
    with movantrix.open(port, virtual_time=True) as bus:
        watch = bus.device(1, 1).watch(rate_hz=50)
        samples = []
        with pytest.raises(movantrix.NoAnswer) as raised:
            for sample in watch:
                samples.append(sample)
        assert raised.value.result_code == 103
        answered = [s for s in samples if s.ok]
        assert 0 < len(answered) <= 50 and samples[:len(answered)] == answered
        assert [(s.ok, s.result, s.values) for s in samples[len(answered):]] == \
            [(False, 103, {})] * 5
        assert watch.ended
        assert len(bus.scan(codes=[1])) == 0  # the bus is free again


def test_a_device_that_answers_no_reads_is_refused(bus):
    with pytest.raises(movantrix.Refused):
        bus.device(1, 9).watch()  # KV-410 at return level 0: pings only
