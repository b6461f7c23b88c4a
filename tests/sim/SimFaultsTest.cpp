// Fault injection per device and per bus, adapter failure, and the driver's adapter list.
#include <cstring>

#include "SimFixture.h"
#include "sim/SimChaos.h"

namespace mvx::test {
namespace {

class SimFaultsTest : public SimFixture {};

TEST_F(SimFaultsTest, DroppedReplyTimesOutAfterExactlyTheReadTimeout) {
    dev(1, 1).setFaults({.dropReply = true});
    const std::int64_t start = clock.nowUs();
    EXPECT_TRUE(ping(1).empty());
    EXPECT_EQ(clock.nowUs() - start, 20000);
    EXPECT_EQ(ping(2), statusBytes(2, 0)) << "other devices are unaffected";
    dev(1, 1).setFaults({});
    EXPECT_EQ(ping(1), statusBytes(1, 0));
}

TEST_F(SimFaultsTest, CorruptedTruncatedAndNoisyReplies) {
    SimulatedDevice& d = dev(1, 1);
    d.setFaults({.corruptChecksum = true});
    EXPECT_EQ(hexString(ping(1)), "FF FF 01 02 00 03");
    d.setFaults({.truncateReply = true});
    EXPECT_EQ(hexString(ping(1)), "FF FF 01");
    d.setFaults({.noiseBytes = 2});
    EXPECT_EQ(hexString(exchange(instructionBytes(1, 1), 8)), "55 55 FF FF 01 02 00 FC");
}

TEST_F(SimFaultsTest, DelayedReplyArrivesAfterTheTimeout) {
    dev(1, 1).setFaults({.extraDelayUs = 50000});
    EXPECT_TRUE(ping(1).empty());
    clock.sleepMs(40);
    EXPECT_EQ(receive(6, 0), statusBytes(1, 0)) << "the late reply is still queued";
}

TEST_F(SimFaultsTest, DelayedReplyHoldsUpNoOtherDevicesAnswer) {
    dev(1, 1).setFaults({.extraDelayUs = 50000});
    EXPECT_TRUE(ping(1).empty());
    EXPECT_EQ(ping(2), statusBytes(2, 0)) << "answered in its time, not after the late reply";
    clock.sleepMs(40);
    EXPECT_EQ(receive(6, 0), statusBytes(1, 0));
}

TEST_F(SimFaultsTest, DeviceGoesSilentAfterNPackets) {
    dev(1, 1).setFaults({.silentAfterPackets = 2});
    EXPECT_EQ(ping(1), statusBytes(1, 0));
    EXPECT_EQ(exchange(instructionBytes(1, 3, {25, 1}), 6), statusBytes(1, 0));
    EXPECT_TRUE(ping(1).empty());
    EXPECT_TRUE(exchange(instructionBytes(1, 3, {25, 0}), 6).empty());
    EXPECT_EQ(dev(1, 1).reg(25), 1) << "a silent device no longer acts either";
    EXPECT_EQ(dev(1, 1).packetsHeard(), 2);
}

TEST_F(SimFaultsTest, BusFaultsApplyToEveryDevice) {
    bus->setFaults({.dropReply = true});
    send(instructionBytes(254, 1));
    clock.sleepMs(500);
    EXPECT_TRUE(receive(64, 0).empty());
    bus->setFaults({.silentAfterPackets = 0});
    dev(1, 2).setFaults({.silentAfterPackets = 5});
    EXPECT_TRUE(ping(1).empty());
    EXPECT_EQ(ping(2), statusBytes(2, 0)) << "a device's own setting wins";
}

TEST_F(SimFaultsTest, ReadsRunOutWritesAreIgnoredAndErrorBitsAreSet) {
    const Bytes readModel = instructionBytes(1, 2, {0, 2});
    dev(1, 1).setFaults({.answerReads = 1});
    EXPECT_EQ(exchange(readModel, 8), statusBytes(1, 0, {28, 0}));
    EXPECT_TRUE(exchange(readModel, 8).empty());
    EXPECT_EQ(ping(1), statusBytes(1, 0)) << "pings are still answered";

    dev(1, 2).setFaults({.ignoreWrites = true, .errorBits = 0x21});
    EXPECT_EQ(exchange(instructionBytes(2, 3, {25, 1}), 6), statusBytes(2, 0x21));
    send(keyedBytes(2, 250, 255));
    EXPECT_EQ(dev(1, 2).reg(25), 0);
    EXPECT_EQ(dev(1, 2).reg(250), 0);
    EXPECT_EQ(exchange(instructionBytes(2, 2, {2, 1}), 7), statusBytes(2, 0x21, {24}));
}

TEST_F(SimFaultsTest, AdapterFailsFromCallN) {
    const std::size_t recorded = bus->traffic().size();
    bus->failAdapterFrom(3);
    std::uint32_t queued = 0;
    EXPECT_EQ(handle->getQueueStatus(&queued), FT_OK);  // call 1
    EXPECT_EQ(handle->purge(FT_PURGE_RX), FT_OK);       // call 2
    std::uint32_t written = 0;
    const Bytes p = instructionBytes(1, 1);
    EXPECT_EQ(handle->write(p.data(), 6, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(bus->traffic().size(), recorded) << "nothing went on the wire";
    Bytes buffer(6);
    std::uint32_t received = 7;
    EXPECT_EQ(handle->read(buffer.data(), 6, &received), FT_IO_ERROR);
    EXPECT_EQ(received, 0u);
    EXPECT_EQ(handle->setBaudRate(1000000), FT_IO_ERROR);
    std::uint32_t count = 0;
    EXPECT_EQ(driver->listNumber(&count), FT_IO_ERROR);
    bus->failAdapterFrom(0);
    EXPECT_EQ(driver->listNumber(&count), FT_OK);
    EXPECT_EQ(ping(1), statusBytes(1, 0));
}

// A frozen adapter takes no bytes: each write waits its write timeout (1 s when none is set)
// and comes back with nothing written; reads, rate changes and purges still work.
TEST_F(SimFaultsTest, FrozenAdapterWritesTakeNothingForTheirWriteTimeout) {
    const std::size_t recorded = bus->traffic().size();
    bus->setAdapterFrozen(true);
    const Bytes p = instructionBytes(1, 1);
    for (const auto& [writeTimeoutMs, waitedUs] : {std::pair{0u, 1000000}, {250u, 250000}}) {
        ASSERT_EQ(handle->setTimeouts(20, writeTimeoutMs), FT_OK);
        std::uint32_t written = 7;
        const std::int64_t start = clock.nowUs();
        EXPECT_EQ(handle->write(p.data(), 6, &written), FT_OK);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(clock.nowUs() - start, waitedUs) << writeTimeoutMs;
    }
    EXPECT_EQ(bus->traffic().size(), recorded) << "nothing went on the wire";
    EXPECT_EQ(handle->purge(FT_PURGE_RX), FT_OK);
    EXPECT_TRUE(receive(6).empty());
    bus->setAdapterFrozen(false);
    EXPECT_EQ(ping(1), statusBytes(1, 0));
}

TEST_F(SimFaultsTest, ChaosPicksReplyFaultsAndUnplugsTheOpenAdapter) {
    SimChaos chaos(1, {.dropReply = 1.0, .adapterFails = 0.0, .adapterUnplug = 1.0});
    bus->setChaos(&chaos);
    EXPECT_TRUE(ping(1).empty()) << "every reply dropped";
    chaos.beforeOperation(*bus);  // arms the unplug at one of the next driver calls
    std::uint32_t queued = 0;
    while (handle->getQueueStatus(&queued) == FT_OK) {
    }
    EXPECT_TRUE(chaos.adapterStruck());
    EXPECT_EQ(chaos.counts().unplugs, 1);
    chaos.disarmAdapter();
    EXPECT_FALSE(bus->adapterPlugged());
    EXPECT_EQ(handle->getQueueStatus(&queued), FT_IO_ERROR) << "the open handle went with it";
    bus->setAdapterPlugged(true);
    EXPECT_EQ(handle->getQueueStatus(&queued), FT_OK);
    bus->setChaos(nullptr);
}

// Rates with one fault certain and every other one off.
SimChaosRates only(double SimChaosRates::*fault) {
    SimChaosRates rates{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (fault != nullptr) {
        rates.*fault = 1.0;
    }
    return rates;
}

TEST_F(SimFaultsTest, ChaosTellsWhichDevicesItTouched) {
    struct Case {
        const char* name;
        double SimChaosRates::*fault;
        bool touches;
    };
    const Case cases[] = {
        {"no fault", nullptr, false},
        {"dropped", &SimChaosRates::dropReply, true},
        {"truncated", &SimChaosRates::truncateReply, true},
        {"corrupt", &SimChaosRates::corruptChecksum, true},
        {"noise", &SimChaosRates::noise, true},
        {"delayed", &SimChaosRates::delayReply, true},
        {"write ignored", &SimChaosRates::ignoreWrite, true},
        {"error bits", &SimChaosRates::errorBits, true},
        {"silenced", &SimChaosRates::goSilent, true},
    };
    SimulatedDevice& pinged = dev(1, 1);
    SimulatedDevice* other = &bus->device(0) == &pinged ? &bus->device(1) : &bus->device(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimChaos chaos(7, only(c.fault));
        bus->setChaos(&chaos);
        chaos.beforeOperation(*bus);
        ping(1);
        clock.advanceUs(300000);  // a delayed reply too is over
        EXPECT_EQ(chaos.touched(&pinged), c.touches);
        EXPECT_FALSE(chaos.touched(other)) << "a device that handled no packet";
        if (c.fault != &SimChaosRates::goSilent) {
            chaos.beforeOperation(*bus);
            EXPECT_FALSE(chaos.touched(&pinged)) << "the next operation starts afresh";
        }
        bus->setChaos(nullptr);
        chaos.calm(*bus);
        EXPECT_FALSE(chaos.touched(&pinged));
        bus->purgeHostInput();
    }
}

TEST_F(SimFaultsTest, DriverListsOneAdapterAndOpensItOnce) {
    std::uint32_t count = 0;
    ASSERT_EQ(driver->listNumber(&count), FT_OK);
    EXPECT_EQ(count, 1u);
    char name[128];
    std::memset(name, 'x', sizeof name);
    ASSERT_EQ(driver->listDescription(0, name, sizeof name), FT_OK);
    EXPECT_STREQ(name, "Movantrix Simulated Bus");
    EXPECT_EQ(driver->listDescription(1, name, sizeof name), FT_DEVICE_NOT_FOUND);
    char small[5];
    ASSERT_EQ(driver->listDescription(0, small, sizeof small), FT_OK);
    EXPECT_STREQ(small, "Mova");

    FtHandle second;
    EXPECT_EQ(driver->open(0, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(driver->open(1, &second), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle->close(), FT_OK);
    EXPECT_EQ(handle->purge(FT_PURGE_RX), FT_INVALID_HANDLE);
    EXPECT_EQ(driver->open(0, &second), FT_OK);
    EXPECT_EQ(second->setBaudRate(0), FT_INVALID_BAUD_RATE);
    second.reset();  // destroying the handle closes it
    EXPECT_EQ(driver->open(0, &second), FT_OK);

    bus->setAdapterPlugged(false);
    ASSERT_EQ(driver->listNumber(&count), FT_OK);
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace mvx::test
