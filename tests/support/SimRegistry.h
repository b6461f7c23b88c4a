// Shared set-up for the tests of the device model, the search and the firmware download: a
// registry opened on a simulated bus on a virtual clock, with helpers over the bus's traffic.
//
//   class MyTest : public mvx::test::SimRegistryTest {};
//   TEST_F(MyTest, ...) {
//       start({simSpec(1, 3, 12)});               // or startDefault() for the built-in bus
//       DeviceEntry& entry = registerDevice(1, 3);  // probed as the search does
//       EXPECT_EQ(packets(Write).size(), 0u);
//   }
//
// The registry talks to the bus through a HookedDriver, whose hook runs before every call of
// the open adapter: tests sample state there, stop a search at a given point or fail one call.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/Bytes.h"

namespace mvx::test {

// Forwards every call to another driver; `hook` (when set) is called first with the call's
// name ("write", "read", "setBaudRate", ...) and a status other than FT_OK is returned instead
// of making the call.
//
// A driver call made on `forbiddenThread` (the desktop program's GUI thread in its tests, which
// must never reach the adapter) is recorded with its name; forbiddenCalls() lists them.
class HookedDriver final : public FtDriver {
public:
    FtDriver* target = nullptr;
    std::function<FtStatus(const std::string& call)> hook;
    // When not negative, the next write puts only this many bytes on the wire and returns
    // FT_OK with that count (a short write); then it is -1 again. Hooks may set it.
    int shortWrite = -1;
    std::atomic<std::thread::id> forbiddenThread{};

    FtStatus listNumber(std::uint32_t* count) override {
        noteThread("listNumber");
        return target->listNumber(count);
    }
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override {
        noteThread("listDescription");
        return target->listDescription(index, buffer, size);
    }
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

    FtStatus before(const std::string& call) {
        noteThread(call);
        return hook ? hook(call) : FT_OK;
    }
    // Records `call` when it is made on the forbidden thread.
    void noteThread(const std::string& call);
    std::vector<std::string> forbiddenCalls() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> forbiddenCalls_;
};

// A device at (code, id) of `model` with firmware `version`, return level `level` and
// control-table overrides (address -> value, 16-bit at the low address).
SimDeviceSpec simSpec(int code, int id, int model, int version = 30, int level = 2,
                      std::map<int, int> registers = {});

// The virtual time (s after the host's first write) of moment `s` of a setup run's script: the
// first search, which hears every broadcast for its whole wait (twice at a silent code), is over
// by the script's 0, and
// the moments are stretched so that a look at every code (each silent one heard for its whole
// broadcast wait) and a move fit between two of them.
inline double runS(double s) {
    return s < 0 ? s : 12.0 + 4.0 * s;
}

// A new MQ-35 (or `model`) at (code, id), connected `appearS` seconds after the host's first
// write and disconnected at `disappearS` (never when negative).
SimDeviceSpec newcomer(int code, int id, double appearS, double disappearS = -1, int model = 28);

class SimRegistryTest : public ::testing::Test {
protected:
    ~SimRegistryTest() override;

    // Builds the bus with these devices and opens the registry on it; again in the same test
    // replaces the bus and the registry.
    void start(std::vector<SimDeviceSpec> devices);
    // The same with a whole description; `latencyKnown` false makes the adapter report its
    // receive latency unknown, as a pseudo-terminal does.
    void startBus(const BusDescription& description, bool latencyKnown = true);
    void startDefault();

    SimulatedDevice& dev(int code, int id);
    // Registers the device at (code, id) as the search does, then forgets the traffic.
    DeviceEntry& registerDevice(int code, int id);

    // What the host wrote, one entry per driver write; `rate` 0: any rate.
    std::vector<SimTraffic> hostWrites(std::uint32_t rate = 0) const;
    // Host packets with this instruction (and to this ID when not -1).
    std::vector<SimTraffic> packets(int instruction, int id = -1) const;
    // Host writes at `rate` that are not packets (the firmware loader's bytes).
    std::vector<SimTraffic> rawWrites(std::uint32_t rate) const;
    // The parameters of a packet.
    static Bytes params(const SimTraffic& packet);
    static Bytes bytes(std::initializer_list<int> values);

    VirtualClock clock;
    std::unique_ptr<SimulatedBus> sim;
    std::unique_ptr<SimDriver> simDriver;
    HookedDriver driver;
    std::optional<DeviceRegistry> registry;
};

}  // namespace mvx::test
