// The exceptions a program sees: which class each failure of the bus or a device comes as,
// with the core's result code and words, and what opening a port refuses.
#include <stdexcept>

#include "FacadeFixture.h"
#include "facade/LongCall.h"

namespace movantrix::test {
namespace {

class FacadeErrorsTest : public FacadeTest {};

// Runs `call` and tells which class it threw, the result code and the message.
struct Thrown {
    std::string kind = "nothing";
    int result = 0;
    std::string message;
};

template <typename Call>
Thrown thrownBy(Call call) {
    Thrown t;
    try {
        call();
    } catch (const NoAnswer& e) {
        t = {"NoAnswer", e.resultCode(), e.what()};
    } catch (const Timeout& e) {
        t = {"Timeout", e.resultCode(), e.what()};
    } catch (const AdapterLost& e) {
        t = {"AdapterLost", e.resultCode(), e.what()};
    } catch (const Refused& e) {
        t = {"Refused", e.resultCode(), e.what()};
    } catch (const BusError& e) {
        t = {"BusError", e.resultCode(), e.what()};
    } catch (const std::invalid_argument& e) {
        t = {"invalid_argument", 0, e.what()};
    }
    return t;
}

TEST_F(FacadeErrorsTest, EachFailureComesAsItsClassWithTheResultCode) {
    struct Case {
        const char* what;
        std::function<void(FacadeTest&)> call;
        const char* kind;
        int result;
        const char* message;
    };
    const Case cases[] = {
        {"nothing at the address", [](FacadeTest& t) { t.bus->device(1, 50); }, "NoAnswer", 103,
         "no device found at code 1 ID 50: no reply (timeout) (103)"},
        {"a device that answers pings only",
         [](FacadeTest& t) { t.bus->device(1, 9).read("goal-position"); }, "invalid_argument", 0,
         "a device of unknown model has no register \"goal-position\""},
        {"a position above the model's",
         [](FacadeTest& t) { t.bus->device(1, 1).write("goal-position", 2000); }, "Refused", 105,
         "code 1 ID 1: goal-position: 2000 is above the max position of this model (1023)"},
        {"the device refuses a raw write",
         [](FacadeTest& t) { t.bus->device(1, 1).writeRaw(30, 2000, true); }, "Refused", 105,
         "code 1 ID 1: the device refused the write (range)"},
        {"no servo registers to back up",
         [](FacadeTest& t) { t.bus->backup(t.bus->device(34, 100), t.tempPath("sensor.json")); },
         "Refused", 105,
         "code 34 ID 100: the device has no servo registers (Sensor LT-P1, return level 2)"},
        {"a closed bus",
         [](FacadeTest& t) {
             Device d = t.bus->device(1, 1);
             t.bus->close();
             d.read("led");
         },
         "AdapterLost", 101, "sim: the bus is closed: adapter access failed (101)"},
        {"the adapter unplugged",
         [](FacadeTest& t) {
             Device d = t.bus->device(1, 1);
             t.unplug();
             d.write("led", 1);
         },
         "AdapterLost", 101, "code 1 ID 1: adapter access failed (101)"},
        {"the adapter unplugged during a search",
         [](FacadeTest& t) {
             t.unplug();
             t.bus->scan();
         },
         "AdapterLost", 101, "search failed: adapter access failed (101)"},
        {"a device found by a search, silent since",
         [](FacadeTest& t) {
             t.bus->scan({.codes = {1}});
             t.sim->device(0).setReg(3, 40);  // it answers at ID 40 now
             t.bus->device(1, 1);
         },
         "NoAnswer", 103, "no device found at code 1 ID 1: no reply (timeout) (103)"},
        {"a bad address", [](FacadeTest& t) { t.bus->device(1, 254); }, "invalid_argument", 0,
         "id: 254 is out of range (0-253)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        startDefault();
        const Thrown t = thrownBy([&] { c.call(*this); });
        EXPECT_EQ(t.kind, c.kind);
        EXPECT_EQ(t.result, c.result);
        EXPECT_EQ(t.message, c.message);
    }
}

TEST_F(FacadeErrorsTest, ADeviceThatFallsSilentIsATimeoutThenNoAnswer) {
    mvx::SimDeviceSpec leaving = mvx::test::simSpec(1, 5, 28);
    leaving.disappearAtUs = 2000000;
    start({leaving});
    Device device = bus->device(1, 5);
    // A watch at 10 Hz runs into the silence: gaps, then NoAnswer after five in a row.
    Watch watch = bus->watch(device, {"present-position"}, 10.0);
    int samples = 0;
    int gaps = 0;
    const Thrown ended = thrownBy([&] {
        while (auto s = watch.next()) {
            ++(s->ok ? samples : gaps);
            EXPECT_EQ(s->ok, s->timeS < 2.0) << s->timeS;
        }
    });
    EXPECT_EQ(ended.kind, "NoAnswer");
    EXPECT_EQ(ended.message,
              "code 1 ID 5: no answer to 5 status reads in a row: no reply (timeout) (103)");
    EXPECT_GE(samples, 19);
    EXPECT_EQ(gaps, 5);
    EXPECT_FALSE(watch.next().has_value()) << "ended";
    EXPECT_EQ(thrownBy([&] { device.read("led"); }).kind, "Timeout");
    EXPECT_EQ(thrownBy([&] { device.ping(); }).kind, "NoAnswer");
}

TEST(FacadeOpenTest, PortTextsAreRefusedAsTheCommandLineRefusesThem) {
    struct Case {
        const char* port;
        const char* message;
    };
    const Case cases[] = {
        {"", "port: empty port name"},
        {"12345", "port: adapter index 12345 is out of range"},
        {"sim:", "port: \"sim:\" needs a bus description file after the colon"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        const Thrown t = thrownBy([&] { open(c.port); });
        EXPECT_EQ(t.kind, "invalid_argument");
        EXPECT_EQ(t.message, c.message);
    }
    EXPECT_EQ(thrownBy([] { open("sim:/nonexistent/bus.json"); }).kind, "invalid_argument");
    EXPECT_EQ(thrownBy([] { open("/nonexistent/tty"); }).kind, "invalid_argument");
}

TEST(FacadeOpenTest, TheBuiltInSimulatedBusOnVirtualTime) {
    Bus bus = open("sim", OpenOptions{.virtualTime = true});
    EXPECT_TRUE(bus.isOpen());
    EXPECT_EQ(bus.port(), "sim");
    const ScanResult found = bus.scan();
    EXPECT_EQ(found.size(), 8u);
    EXPECT_TRUE(found.sure);
    bus.close();
    bus.close();
    EXPECT_FALSE(bus.isOpen());
}

TEST(FacadeLongCallTest, ACallbackThatThrowsStopsTheWorkAndIsThrownOnTheCallingThread) {
    const Stop stop;
    detail::LongCall call(stop);
    int steps = 0;
    EXPECT_THROW(call.run([&] {
        call.post([] { throw std::runtime_error("from the callback"); });
        // The work goes on until it sees the flag, as the core does between its steps.
        while (!call.stopped() && steps < 1000000) {
            ++steps;
            std::this_thread::yield();
        }
    }),
                 std::runtime_error);
    EXPECT_TRUE(call.stopped());
    EXPECT_LT(steps, 1000000);
}

TEST(FacadeLongCallTest, AStopTokenAndAPredicateBothStopTheWork) {
    std::stop_source source;
    const Stop byToken{source.get_token(), {}};
    detail::LongCall first(byToken);
    first.run([&] {
        source.request_stop();
        while (!first.stopped()) {
            std::this_thread::yield();
        }
    });
    EXPECT_TRUE(first.stopped());

    int asked = 0;
    const Stop byPredicate{{}, [&asked] { return ++asked >= 3; }};
    detail::LongCall second(byPredicate);
    second.run([&] {
        while (!second.stopped()) {
            std::this_thread::yield();
        }
    });
    EXPECT_EQ(asked, 3) << "asked on the calling thread until it said stop";
}

}  // namespace
}  // namespace movantrix::test
