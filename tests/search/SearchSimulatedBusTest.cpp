// The search against the simulated bus with its built-in devices.
#include <gtest/gtest.h>

#include "device/DeviceRegistry.h"
#include "device/ServoRecord.h"
#include "search/SearchEngine.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx {
namespace {

class SearchSimulatedBusTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.bus().open(0)); }

    VirtualClock clock_;
    SimulatedBus bus_{SimulatedBus::defaultBus(), clock_};
    SimDriver driver_{bus_};
    DeviceRegistry registry_{driver_, clock_};
    SearchEngine engine_{registry_};
};

TEST_F(SearchSimulatedBusTest, QuickSearchFindsTheDefaultBus) {
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    EXPECT_EQ(registry_.searchProgress.load(), 100);
    EXPECT_EQ(registry_.searching.load(), 0);

    struct Expected {
        int code, id, model, version, level;
        ModelClass modelClass;
        bool record;
    };
    const std::vector<Expected> expected = {
        {1, 1, 28, 30, 2, Actuator, true},      {1, 2, 12, 24, 2, Actuator, true},
        {1, 3, 106, 38, 2, Actuator, true},     {1, 4, 64, 35, 2, Actuator, true},
        {1, 9, 255, 0, 0, UnknownModel, false}, {34, 7, 10, 27, 1, Actuator, true},
        {34, 100, 13, 20, 2, Sensor, false},    {207, 21, 113, 36, 2, Actuator, true},
    };
    const std::vector<DeviceSummary> found = registry_.snapshot();
    ASSERT_EQ(found.size(), expected.size());
    EXPECT_EQ(registry_.entryCount(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const Expected& e = expected[i];
        EXPECT_EQ(found[i].baudCode, e.code);
        EXPECT_EQ(found[i].id, e.id);
        EXPECT_EQ(found[i].modelNumber, e.model);
        EXPECT_EQ(found[i].firmwareVersion, e.version);
        EXPECT_EQ(found[i].returnLevel, e.level);
        EXPECT_EQ(found[i].modelClass, e.modelClass);
        DeviceEntry* entry = registry_.find(e.code, e.id);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->servoRecord() != nullptr, e.record);
    }
    // The PW-900's record knows its larger range.
    EXPECT_EQ(registry_.find(1, 3)->servoRecord()->maxPosition(), 4095);
}

TEST_F(SearchSimulatedBusTest, AdapterFailureKeepsTheDevicesFoundSoFar) {
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    std::vector<std::pair<int, int>> all;
    for (const DeviceSummary& d : registry_.snapshot()) {
        all.emplace_back(d.baudCode, d.id);
    }
    ASSERT_EQ(all.size(), 8u);

    // The adapter fails at different points of the search: each time the search ends with
    // 101, no placeholder is left and the devices found before the failure stay, in order.
    bool sawPartial = false;
    for (int from = 50; from < 20000; from *= 2) {
        SCOPED_TRACE(from);
        bus_.failAdapterFrom(from);
        const int result = engine_.search(QuickSearch);
        bus_.failAdapterFrom(0);
        if (result == 100) {
            break;  // the search got through before the failure point
        }
        EXPECT_EQ(result, 101);
        EXPECT_EQ(registry_.searching.load(), 0);
        EXPECT_EQ(registry_.entryCount(), registry_.deviceCount());
        EXPECT_LT(registry_.searchProgress.load(), 100);
        std::vector<std::pair<int, int>> found;
        for (const DeviceSummary& d : registry_.snapshot()) {
            found.emplace_back(d.baudCode, d.id);
        }
        ASSERT_LE(found.size(), all.size());
        EXPECT_TRUE(std::equal(found.begin(), found.end(), all.begin()));
        sawPartial = sawPartial || (!found.empty() && found.size() < all.size());
        // The failed search left the adapter in a failed state; open it anew.
        registry_.bus().close();
        ASSERT_TRUE(registry_.bus().open(0));
    }
    EXPECT_TRUE(sawPartial);
}

}  // namespace
}  // namespace mvx
