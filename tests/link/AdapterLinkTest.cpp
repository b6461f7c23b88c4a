#include "link/AdapterLink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/Bytes.h"
#include "support/ScriptedDriver.h"

namespace mvx {
namespace {

using test::hexBytes;
using test::ScriptedDriver;
using Calls = std::vector<std::string>;

const Calls kOpenSequence = {
    "open(0)",
    "resetDevice()",
    "setDataCharacteristics(8,0,0)",
    "setFlowControl(0,0,0)",
    "setTimeouts(0,0)",
    "setLatencyTimer(1)",
    "setUsbParameters(512,0)",
    "setBaudRate(1000000)",
    "setBitMode(136,32)",
    "purge(1)",  // after the bit-mode switch
    "purge(1)",  // the open's own
};

class AdapterLinkTest : public ::testing::Test {
protected:
    std::unique_ptr<AdapterLink> openLink(std::uint8_t code = 1) {
        auto link = AdapterLink::open(driver, clock, 0, code);
        driver.clearCalls();
        return link;
    }

    VirtualClock clock;
    ScriptedDriver driver{clock};
};

TEST_F(AdapterLinkTest, OpenRunsTheConfigurationInOrder) {
    auto link = AdapterLink::open(driver, clock, 0, 1);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(driver.calls(), kOpenSequence);
    EXPECT_EQ(link->currentBaudCode(), 1);
    EXPECT_EQ(link->busy().load(), 0);
    EXPECT_EQ(link->purgePending().load(), 0);
    EXPECT_EQ(clock.nowUs(), 200000);  // 100 ms after the rate, 100 ms after the bit mode
}

TEST_F(AdapterLinkTest, OpenOfAMissingAdapterOpensNothing) {
    EXPECT_EQ(AdapterLink::open(driver, clock, 3, 1), nullptr);
    EXPECT_EQ(driver.calls(), Calls{"open(3)"});
    EXPECT_EQ(driver.openDevices(), 0);
}

TEST_F(AdapterLinkTest, EachFailingOpenStepClosesTheAdapter) {
    const std::vector<std::string> steps = {
        "resetDevice",     "setDataCharacteristics", "setFlowControl", "setTimeouts",
        "setLatencyTimer", "setUsbParameters",       "setBaudRate",    "setBitMode"};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i]);
        driver.clearCalls();
        driver.clearFailures();
        driver.failNext(steps[i], FT_OTHER_ERROR);
        EXPECT_EQ(AdapterLink::open(driver, clock, 0, 1), nullptr);
        EXPECT_EQ(driver.openDevices(), 0);
        Calls expected(kOpenSequence.begin(), kOpenSequence.begin() + 2 + i);
        expected.push_back("close()");
        EXPECT_EQ(driver.calls(), expected);
    }
}

TEST_F(AdapterLinkTest, AFailingPurgeDoesNotFailTheOpen) {
    driver.failAlways("purge", FT_IO_ERROR);
    auto link = AdapterLink::open(driver, clock, 0, 1);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(driver.openDevices(), 1);
    link.reset();
    EXPECT_EQ(driver.openDevices(), 0);
    EXPECT_EQ(driver.calls().back(), "close()");
}

TEST_F(AdapterLinkTest, CodesProgramTheTruncatedRate) {
    const std::vector<std::pair<std::uint8_t, std::string>> cases = {
        {0, "setBaudRate(2000000)"}, {1, "setBaudRate(1000000)"}, {34, "setBaudRate(57142)"},
        {207, "setBaudRate(9615)"},  {255, "setBaudRate(7812)"},
    };
    for (const auto& [code, call] : cases) {
        SCOPED_TRACE(int(code));
        driver.clearCalls();
        auto link = AdapterLink::open(driver, clock, 0, code);
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(driver.calls("setBaudRate"), Calls{call});
        EXPECT_EQ(link->currentBaudCode(), code);
    }
}

TEST_F(AdapterLinkTest, ByteTimeComesFromTheUnroundedRate) {
    auto link = openLink(207);
    EXPECT_FLOAT_EQ(link->byteTimeMs(), 1.248f);  // not 1000 / 9615 * 12 = 1.24805...
    EXPECT_EQ(link->setBaudCode(1), 100);
    EXPECT_FLOAT_EQ(link->byteTimeMs(), 0.012f);
}

TEST_F(AdapterLinkTest, SameCodeMakesNoCallAndNoWait) {
    auto link = openLink(34);
    const auto before = clock.nowUs();
    EXPECT_EQ(link->setBaudCode(34), 100);
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_EQ(clock.nowUs(), before);

    EXPECT_EQ(link->setBaudCode(1), 100);
    EXPECT_EQ(driver.calls(), Calls{"setBaudRate(1000000)"});
    EXPECT_EQ(clock.nowUs(), before + 100000);
}

TEST_F(AdapterLinkTest, FailedRateChangeKeepsCodeAndByteTime) {
    auto link = openLink(1);
    driver.failNext("setBaudRate", FT_INVALID_BAUD_RATE);
    const auto before = clock.nowUs();
    EXPECT_EQ(link->setBaudCode(207), 101);
    EXPECT_EQ(link->currentBaudCode(), 1);
    EXPECT_FLOAT_EQ(link->byteTimeMs(), 0.012f);
    EXPECT_EQ(clock.nowUs(), before);
    // The next attempt programs again.
    EXPECT_EQ(link->setBaudCode(207), 100);
    EXPECT_EQ(driver.calls("setBaudRate"), (Calls{"setBaudRate(9615)", "setBaudRate(9615)"}));
}

TEST_F(AdapterLinkTest, ReadTimeoutFollowsCountAndRate) {
    auto link = openLink(1);
    std::uint8_t buf[255];
    std::uint32_t got = 99;

    driver.queueRx(hexBytes("01 02 03 04"));
    EXPECT_EQ(link->read(buf, 4, got, true), 100);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(driver.calls(), (Calls{"setTimeouts(20,0)", "read(4)"}));

    ASSERT_EQ(link->setBaudCode(207), 100);
    driver.clearCalls();
    const auto before = clock.nowUs();
    EXPECT_EQ(link->read(buf, 255, got, true), 103);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(driver.calls(), (Calls{"setTimeouts(378,0)", "read(255)"}));
    EXPECT_EQ(clock.nowUs() - before, 378000);
    // The untimed read (1 ms) is checked through receivePacket in TransactionTest.
}

TEST_F(AdapterLinkTest, SlowMarginStartsAtCode103) {
    auto link = openLink(102);
    EXPECT_EQ(link->readTimeoutMs(0, true), 20u);
    ASSERT_EQ(link->setBaudCode(103), 100);
    EXPECT_EQ(link->readTimeoutMs(0, true), 60u);
    EXPECT_EQ(link->readTimeoutMs(10, true), 66u);  // 0.624 ms per byte
}

TEST_F(AdapterLinkTest, ShortReadReportsWhatArrived) {
    auto link = openLink(1);
    std::uint8_t buf[4];
    std::uint32_t got = 0;
    driver.queueRx(hexBytes("FF FF"));
    EXPECT_EQ(link->read(buf, 4, got, true), 103);
    EXPECT_EQ(got, 2u);
}

TEST_F(AdapterLinkTest, ReadAndWriteStatusesOtherThanIoErrorAreJudgedByCount) {
    auto link = openLink(1);
    std::uint8_t buf[2];
    std::uint32_t n = 0;

    driver.queueRx(hexBytes("AA BB"));
    driver.failNext("read", FT_OTHER_ERROR);
    EXPECT_EQ(link->read(buf, 2, n, true), 100);
    EXPECT_EQ(n, 2u);

    driver.queueRx(hexBytes("AA BB"));
    driver.failNext("read", FT_IO_ERROR);
    EXPECT_EQ(link->read(buf, 2, n, true), 101);
    EXPECT_EQ(n, 0u);

    driver.failNext("setTimeouts", FT_OTHER_ERROR);
    EXPECT_EQ(link->read(buf, 2, n, true), 101);

    const auto bytes = hexBytes("01 02 03");
    driver.failNext("write", FT_OTHER_ERROR);
    EXPECT_EQ(link->write(bytes.data(), 3, n), 100);
    EXPECT_EQ(n, 3u);
    driver.failNext("write", FT_IO_ERROR);
    EXPECT_EQ(link->write(bytes.data(), 3, n), 101);
    driver.limitNextWrite(2);
    EXPECT_EQ(link->write(bytes.data(), 3, n), 102);
    EXPECT_EQ(n, 2u);
}

TEST_F(AdapterLinkTest, PurgeQueueAndBitMode) {
    auto link = openLink(1);
    std::uint32_t queued = 0;
    driver.queueRx(hexBytes("01 02 03"));
    EXPECT_EQ(link->queueLength(queued), 100);
    EXPECT_EQ(queued, 3u);
    EXPECT_EQ(link->purgeReceive(), 100);
    EXPECT_EQ(driver.rxReadable(), 0u);
    driver.failNext("purge", FT_OTHER_ERROR);
    EXPECT_EQ(link->purgeReceive(), 101);
    driver.failNext("getQueueStatus", FT_OTHER_ERROR);
    EXPECT_EQ(link->queueLength(queued), 101);

    driver.clearCalls();
    const auto before = clock.nowUs();
    EXPECT_EQ(link->setBitMode(false), 100);
    EXPECT_EQ(driver.calls(), Calls{"setBitMode(128,32)"});
    EXPECT_EQ(clock.nowUs(), before);
    driver.failNext("setBitMode", FT_OTHER_ERROR);
    EXPECT_EQ(link->setBitMode(true), 101);
}

// A write with a deadline hands the driver the bytes' wire time plus 1000 ms as its write
// timeout; only a write still short when that time is up is overdue.
TEST_F(AdapterLinkTest, WriteWithinTellsTheDriverItsDeadline) {
    struct Row {
        const char* name;
        std::function<void()> script;
        int result;
        std::uint32_t written;
    };
    const Row rows[] = {
        {"whole", [] {}, 100, 200},
        {"short at once", [&] { driver.limitNextWrite(150); }, 102, 150},
        {"I/O error", [&] { driver.failNext("write", FT_IO_ERROR); }, 101, 0},
        {"timeouts refused", [&] { driver.failNext("setTimeouts", FT_OTHER_ERROR); }, 101, 0},
    };
    auto link = openLink(34);
    EXPECT_EQ(link->writeDeadlineMs(200), 1042u);  // 200 x 0.21 ms + 1000 ms
    EXPECT_EQ(link->writeDeadlineMs(1), 1000u);
    const std::vector<std::uint8_t> block(200, 0x5A);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        driver.clearCalls();
        row.script();
        std::uint32_t written = 7;
        bool overdue = true;
        EXPECT_EQ(link->writeWithin(block.data(), 200, written, overdue), row.result);
        EXPECT_EQ(written, row.written);
        EXPECT_FALSE(overdue);
        EXPECT_EQ(driver.calls().front(), "setTimeouts(1,1042)");
    }
}

TEST(AdapterLinkFrozenTest, WriteWithinIsOverdueOnAPortThatTakesNoBytes) {
    VirtualClock clock;
    SimulatedBus bus(SimulatedBus::defaultBus(), clock);
    SimDriver driver(bus);
    auto link = AdapterLink::open(driver, clock, 0, 34);
    ASSERT_NE(link, nullptr);
    bus.setAdapterFrozen(true);
    const std::vector<std::uint8_t> block(200, 0x5A);
    std::uint32_t written = 7;
    bool overdue = false;
    const std::int64_t start = clock.nowUs();
    EXPECT_EQ(link->writeWithin(block.data(), 200, written, overdue), 102);
    EXPECT_TRUE(overdue);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(clock.nowUs() - start, 1042000) << "given up at the deadline";
}

TEST_F(AdapterLinkTest, AdapterListing) {
    driver.setAdapters({"USB2Movantrix A", "USB2Movantrix B"});
    EXPECT_EQ(adapterCount(driver), 2);
    char buffer[128];
    EXPECT_EQ(adapterDescription(driver, 1, buffer), 100);
    EXPECT_STREQ(buffer, "USB2Movantrix B");

    std::memset(buffer, 'x', sizeof buffer);
    driver.failNext("listDescription", FT_OTHER_ERROR);
    EXPECT_EQ(adapterDescription(driver, 0, buffer), 101);
    EXPECT_EQ(buffer[0], '\0');

    driver.failNext("listNumber", FT_OTHER_ERROR);
    EXPECT_EQ(adapterCount(driver), -1);
}

}  // namespace
}  // namespace mvx
