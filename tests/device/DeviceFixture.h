// Shared set-up for the device tests: a registry on a fake bus with virtual time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "FakeServoBus.h"
#include "device/DeviceRegistry.h"
#include "device/ServoRecord.h"
#include "drivers/Clock.h"

namespace mvx::test {

class DeviceTest : public ::testing::Test {
protected:
    DeviceTest() { bus.devices.reserve(64); }

    void SetUp() override { ASSERT_TRUE(registry.bus().open(0)); }

    FakeDevice& addDevice(int model, int code, int id, int level) {
        bus.devices.push_back(makeFakeDevice(model, code, id, level));
        return bus.devices.back();
    }

    // Registers the device at (code, id) as the search would, then forgets the traffic.
    DeviceEntry& registerDevice(int code, int id) {
        DeviceEntry* entry = registry.appendPlaceholder();
        EXPECT_EQ(entry->probe(code, id), 100);
        bus.sent.clear();
        return *entry;
    }

    std::vector<SentPacket> writes() const { return bus.sentWith(3); }
    static std::vector<std::uint8_t> params(std::initializer_list<int> values) {
        std::vector<std::uint8_t> out;
        for (int v : values) {
            out.push_back(static_cast<std::uint8_t>(v));
        }
        return out;
    }

    VirtualClock clock;
    FakeServoBus bus{clock};
    DeviceRegistry registry{bus, clock};
};

}  // namespace mvx::test
