// The host layers (link, transactions, registry, search, firmware download) against the
// simulated bus, as the application uses them.
#include <gtest/gtest.h>

#include <thread>

#include "device/DeviceRegistry.h"
#include "firmware/FirmwareDownload.h"
#include "firmware/FirmwareImage.h"
#include "link/AdapterLink.h"
#include "protocol/Transaction.h"
#include "search/SearchEngine.h"
#include "sim/SimDriver.h"

namespace mvx {
namespace {

class SimEndToEndTest : public ::testing::Test {
protected:
    VirtualClock clock;
    SimulatedBus bus{SimulatedBus::defaultBus(), clock};
    SimDriver driver{bus};
};

TEST_F(SimEndToEndTest, TransactionsAtEveryReturnLevel) {
    auto link = AdapterLink::open(driver, clock, 0, 1);
    ASSERT_TRUE(link);
    EXPECT_EQ(ping(*link, 1), Success);
    std::uint8_t value = 0;
    EXPECT_EQ(readByte(*link, 2, 0, value), Success);
    EXPECT_EQ(value, 12);
    EXPECT_EQ(writeWord(*link, 1, 34, 700), Success);
    EXPECT_EQ(bus.find(1, 1)->reg16(34), 700);
    EXPECT_EQ(keyedWrite(*link, 1, 45, 10), Success);
    EXPECT_EQ(ping(*link, 60), Timeout);
    // Level 0: ping only; level 1: writes time out but take effect.
    EXPECT_EQ(ping(*link, 9), Success);
    EXPECT_EQ(readByte(*link, 9, 0, value), Timeout);
    EXPECT_EQ(link->setBaudCode(34), Success);
    EXPECT_EQ(writeByte(*link, 7, 25, 1), Timeout);
    EXPECT_EQ(readByte(*link, 7, 25, value), Success);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(instruction7(*link, 100), Success);
}

TEST_F(SimEndToEndTest, FaultsBecomeTheExpectedResultCodes) {
    auto link = AdapterLink::open(driver, clock, 0, 1);
    ASSERT_TRUE(link);
    SimulatedDevice& d = *bus.find(1, 1);
    d.setFaults({.dropReply = true});
    EXPECT_EQ(ping(*link, 1), Timeout);
    d.setFaults({.corruptChecksum = true});
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    d.setFaults({.truncateReply = true});
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    d.setFaults({.noiseBytes = 3});
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    clock.sleepMs(5);  // let the rest of the noisy reply arrive (and be purged)
    d.setFaults({.extraDelayUs = 100000});
    EXPECT_EQ(ping(*link, 1), Timeout);
    d.setFaults({});
    clock.sleepMs(200);
    EXPECT_EQ(ping(*link, 1), Success) << "stale bytes are purged before the next send";
    bus.failAdapterFrom(1);
    EXPECT_EQ(ping(*link, 1), AdapterFailure);
}

TEST_F(SimEndToEndTest, QuickSearchFindsTheDefaultBus) {
    DeviceRegistry registry(driver, clock);
    ASSERT_TRUE(registry.bus().open(0));
    SearchEngine engine(registry);
    ASSERT_EQ(engine.search(QuickSearch), Success);
    const auto devices = registry.snapshot();
    std::vector<std::pair<int, int>> addresses;
    for (const auto& s : devices) {
        addresses.emplace_back(s.baudCode, s.id);
    }
    const std::vector<std::pair<int, int>> expected = {{1, 1}, {1, 2},  {1, 3},    {1, 4},
                                                       {1, 9}, {34, 7}, {34, 100}, {207, 21}};
    EXPECT_EQ(addresses, expected);
    ASSERT_EQ(devices.size(), 8u);
    EXPECT_EQ(devices[2].modelNumber, 106);
    EXPECT_EQ(devices[4].modelNumber, 255) << "level 0 answers pings only";
    EXPECT_EQ(devices[4].returnLevel, 0);
    EXPECT_EQ(devices[5].returnLevel, 1);
    EXPECT_EQ(devices[6].modelClass, Sensor);
    EXPECT_EQ(registry.searchProgress.load(), 100);
}

TEST_F(SimEndToEndTest, FirmwareDownloadUpdatesTheDeviceAndLeavesTheBusAsItWas) {
    DeviceRegistry registry(driver, clock);
    ASSERT_TRUE(registry.bus().open(0));
    SearchEngine engine(registry);
    ASSERT_EQ(engine.search(QuickSearch), Success);
    LoadFirmware(MVX_SOURCE_DIR "/samples/MQ-35_v31.mvx", registry.firmware, registry.updates);
    ASSERT_EQ(registry.firmware.valid, 1);
    BuildUpdateList(registry, 1);
    ASSERT_EQ(registry.updates.count, 1);
    EXPECT_EQ(DownloadAll(registry), Success);
    EXPECT_EQ(registry.updates.resultFlags[0], 1);
    EXPECT_EQ(registry.find(1, 1)->firmwareVersion(), 31);
    SimulatedDevice* target = bus.find(1, 1);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->reg(2), 31);
    for (std::size_t i = 0; i < bus.deviceCount(); ++i) {
        EXPECT_EQ(bus.device(i).mode(), SimDeviceMode::Normal);
    }
    EXPECT_EQ(registry.refresh(), Success);
    EXPECT_EQ(registry.deviceCount(), 8) << "every device answers at its old address";
}

TEST_F(SimEndToEndTest, RealTimeModeWaitsForRealAndNeverPastTheTimeout) {
    SystemClock real;
    SimulatedBus realBus(SimulatedBus::defaultBus(), real);
    SimDriver realDriver(realBus);
    auto link = AdapterLink::open(realDriver, real, 0, 1);  // 200 ms of real set-up waits
    ASSERT_TRUE(link);
    const std::int64_t start = real.nowUs();
    EXPECT_EQ(ping(*link, 1), Success);
    EXPECT_GE(real.nowUs() - start, 1500) << "wire time, return delay and USB latency";
    const std::int64_t silentStart = real.nowUs();
    EXPECT_EQ(ping(*link, 77), Timeout);
    const std::int64_t waited = real.nowUs() - silentStart;
    EXPECT_GE(waited, 20000);
    EXPECT_LT(waited, 200000);
}

TEST_F(SimEndToEndTest, BusIsSafeToShareBetweenThreads) {
    auto link = AdapterLink::open(driver, clock, 0, 1);
    ASSERT_TRUE(link);
    std::thread poller([&] {
        for (int i = 0; i < 200; ++i) {
            bus.find(1, 1)->reg16(36);
            bus.traffic();
            bus.pendingBytes();
        }
    });
    int ok = 0;
    for (int i = 0; i < 100; ++i) {
        ok += ping(*link, static_cast<std::uint8_t>(1 + i % 4)) == Success ? 1 : 0;
    }
    poller.join();
    EXPECT_EQ(ok, 100);
}

}  // namespace
}  // namespace mvx
