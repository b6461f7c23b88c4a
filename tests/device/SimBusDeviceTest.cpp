// The device model against the simulated bus: identities of the built-in bus's devices,
// setters that land in the virtual control tables, and address changes that move devices.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/DeviceRegistry.h"
#include "device/ServoRecord.h"
#include "drivers/Clock.h"
#include "search/SearchEngine.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx {
namespace {

class SimBusDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry.bus().open(0)); }

    // Registers the device at (code, id) the way the search does.
    DeviceEntry& registerDevice(int code, int id) {
        DeviceEntry* entry = registry.appendPlaceholder();
        EXPECT_EQ(entry->probe(code, id), 100) << code << "/" << id;
        return *entry;
    }
    SimulatedDevice& simDevice(int code, int id) {
        SimulatedDevice* device =
            sim.find(static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(id));
        EXPECT_NE(device, nullptr);
        return *device;
    }

    VirtualClock clock;
    SimulatedBus sim{SimulatedBus::defaultBus(), clock};
    SimDriver driver{sim};
    DeviceRegistry registry{driver, clock};
};

TEST_F(SimBusDeviceTest, IdentitiesOfTheDefaultBus) {
    struct Expected {
        int code, id, model, version, level;
        ModelClass modelClass;
        bool record;
    };
    const Expected expected[] = {
        {1, 1, 28, 30, 2, Actuator, true},      {1, 2, 12, 24, 2, Actuator, true},
        {1, 3, 106, 38, 2, Actuator, true},     {1, 4, 64, 35, 2, Actuator, true},
        {1, 9, 255, 0, 0, UnknownModel, false}, {34, 100, 13, 20, 2, Sensor, false},
        {34, 7, 10, 27, 1, Actuator, true},     {207, 21, 113, 36, 2, Actuator, true},
    };
    for (const auto& e : expected) {
        DeviceEntry& entry = registerDevice(e.code, e.id);
        EXPECT_EQ(entry.modelNumber(), e.model) << e.id;
        EXPECT_EQ(entry.firmwareVersion(), e.version) << e.id;
        EXPECT_EQ(entry.returnLevel(), e.level) << e.id;
        EXPECT_EQ(entry.modelClass(), e.modelClass) << e.id;
        EXPECT_EQ(entry.servoRecord() != nullptr, e.record) << e.id;
    }
    EXPECT_EQ(registry.entryAt(2)->servoRecord()->maxPosition(), 4095);
    EXPECT_EQ(registry.codesInUse(), (std::vector<int>{1, 34, 207}));
}

TEST_F(SimBusDeviceTest, SettersLandInTheControlTable) {
    ServoRecord& r = *registerDevice(1, 1).servoRecord();
    SimulatedDevice& dev = simDevice(1, 1);
    ASSERT_EQ(r.setGoalPosition(300), 100);
    EXPECT_EQ(dev.reg16(30), 300);
    EXPECT_EQ(dev.reg(24), 1);
    ASSERT_EQ(r.setMovingSpeed(-300), 100);
    EXPECT_EQ(dev.reg16(32), 1324);
    ASSERT_EQ(r.setHighestLimitTemperature(70), 100);
    EXPECT_EQ(dev.reg(11), 70);
    ASSERT_EQ(r.setAlarmShutdown(1, 0, 0, 0, 0, 0, 1), 100);
    EXPECT_EQ(dev.reg(18), 65);
    ASSERT_EQ(r.setOperatingMode(1), 100);
    EXPECT_EQ(dev.reg16(6), 0);
    EXPECT_EQ(dev.reg16(8), 0);
    ASSERT_EQ(r.setCcwAngleLimit(1000), 100);
    EXPECT_EQ(dev.reg16(8), 1000);
    EXPECT_EQ(r.wheelMode(), 0);
    ASSERT_EQ(r.load(LoadAll), 100);
    EXPECT_EQ(r.movingSpeed(), -300);
    EXPECT_EQ(r.alarmShutdown(), 65);
}

TEST_F(SimBusDeviceTest, LevelOneDeviceTakesWritesWithoutReplies) {
    ServoRecord& r = *registerDevice(34, 7).servoRecord();
    SimulatedDevice& dev = simDevice(34, 7);
    ASSERT_EQ(r.setPunch(50), 100);
    EXPECT_EQ(dev.reg16(48), 50);
    const int goal = r.goalPosition();
    EXPECT_EQ(r.setGoalPosition(goal + 10), 103);
    EXPECT_EQ(r.goalPosition(), goal);
    EXPECT_EQ(dev.reg16(30), goal + 10);
}

TEST_F(SimBusDeviceTest, ResetToDefaultsOnTheWideModel) {
    DeviceEntry& entry = registerDevice(1, 3);
    ASSERT_EQ(entry.servoRecord()->setOperatingMode(1), 100);
    ASSERT_EQ(entry.resetToDefaults(), 100);
    SimulatedDevice& dev = simDevice(1, 3);
    EXPECT_EQ(dev.reg16(8), 4095);
    EXPECT_EQ(dev.reg16(14), 1023);
    EXPECT_EQ(dev.reg(17), 36);
    EXPECT_EQ(dev.reg(18), 36);
    EXPECT_EQ(dev.reg(11), 80);
    EXPECT_EQ(dev.reg(13), 240);
    EXPECT_EQ(dev.reg(12), 60);
}

TEST_F(SimBusDeviceTest, ChangeAddressMovesTheDevice) {
    for (auto [code, id] : {std::pair{1, 1}, {1, 2}, {1, 4}, {34, 7}}) {
        registerDevice(code, id);
    }
    ASSERT_EQ(registry.changeAddress(1, 4, 1, 0), 100);
    EXPECT_EQ(registry.indexOf(1, 0), 0);
    EXPECT_EQ(sim.find(1, 4), nullptr);
    EXPECT_EQ(simDevice(1, 0).model(), 64);

    // A level-1 device follows by ping to its new ID and then to its new code.
    ASSERT_EQ(registry.changeAddress(34, 7, 1, 8), 100);
    EXPECT_EQ(registry.indexOf(1, 8), 3);
    EXPECT_EQ(simDevice(1, 8).model(), 10);
    EXPECT_EQ(registry.find(1, 8)->ping(), 100);
    EXPECT_EQ(registry.codesInUse(), (std::vector<int>{1}));

    EXPECT_EQ(registry.changeAddress(1, 8, 1, 2), 105);
    EXPECT_EQ(simDevice(1, 8).model(), 10);
}

TEST_F(SimBusDeviceTest, RefreshDropsADeviceThatWentSilent) {
    registerDevice(1, 1);
    registerDevice(1, 2);
    registerDevice(207, 21);
    SimFaults faults;
    faults.dropReply = true;
    simDevice(1, 2).setFaults(faults);
    EXPECT_EQ(registry.refresh(), 100);
    EXPECT_EQ(registry.deviceCount(), 2);
    EXPECT_EQ(registry.indexOf(207, 21), 1);
}

TEST_F(SimBusDeviceTest, SearchFillsTheRegistry) {
    SearchEngine engine(registry);
    ASSERT_EQ(engine.search(QuickSearch), 100);
    const auto devices = registry.snapshot();
    ASSERT_EQ(devices.size(), 8u);
    EXPECT_EQ(registry.codesInUse(), (std::vector<int>{1, 34, 207}));
    EXPECT_EQ(registry.idsAt(1), (std::vector<int>{1, 2, 3, 4, 9}));
    EXPECT_EQ(registry.idsAt(34), (std::vector<int>{7, 100}));
    EXPECT_EQ(registry.find(1, 9)->modelNumber(), 255);
    EXPECT_EQ(registry.find(1, 9)->servoRecord(), nullptr);
}

// The search runs on a worker while this thread polls the list and finally stops it, as the
// search dialog does; under ThreadSanitizer this checks the registry's locking.
TEST_F(SimBusDeviceTest, PollingAndStoppingARunningSearch) {
    SearchEngine engine(registry);
    std::atomic<int> result{0};
    std::thread worker([&] { result = engine.search(FullSearch); });
    int code = 0;
    int id = 0;
    int polls = 0;
    while (result.load() == 0) {
        for (const auto& device : registry.snapshot()) {
            EXPECT_NE(device.id, -1);
            EXPECT_NE(device.modelNumber, 0);
        }
        registry.codesInUse();
        registry.idsAt(1);
        registry.progress(code, id);
        if (++polls == 200) {
            registry.stopSearch();
        }
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(result.load(), 100);
    EXPECT_EQ(registry.entryCount(), registry.deviceCount());
    for (int i = 0; i < registry.entryCount(); ++i) {
        EXPECT_NE(registry.entryAt(i)->modelNumber(), 0);
    }
}

}  // namespace
}  // namespace mvx
