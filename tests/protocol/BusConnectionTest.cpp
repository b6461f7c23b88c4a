#include "protocol/BusConnection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/ResultCode.h"
#include "support/ScriptedDriver.h"

namespace mvx {
namespace {

using test::ScriptedDriver;
using Calls = std::vector<std::string>;

class BusConnectionTest : public ::testing::Test {
protected:
    VirtualClock clock;
    ScriptedDriver driver{clock};
    BusConnection bus{driver, clock};
};

TEST_F(BusConnectionTest, OpensAtOneMegabit) {
    EXPECT_FALSE(bus.isOpen());
    EXPECT_EQ(bus.link(), nullptr);
    ASSERT_TRUE(bus.open(0));
    EXPECT_TRUE(bus.isOpen());
    EXPECT_EQ(bus.link()->currentBaudCode(), 1);
    EXPECT_EQ(driver.calls("setBaudRate"), Calls{"setBaudRate(1000000)"});
}

TEST_F(BusConnectionTest, FailedOpenLeavesNoLink) {
    driver.failNext("setBitMode", FT_OTHER_ERROR);
    EXPECT_FALSE(bus.open(0));
    EXPECT_FALSE(bus.isOpen());
    EXPECT_EQ(driver.openDevices(), 0);
}

TEST_F(BusConnectionTest, CloseIsHarmlessAndWaitsForHolders) {
    bus.close();
    ASSERT_TRUE(bus.open(0));
    auto held = bus.link();
    bus.close();
    EXPECT_FALSE(bus.isOpen());
    EXPECT_EQ(driver.openDevices(), 1);  // still in use by `held`
    held.reset();
    EXPECT_EQ(driver.openDevices(), 0);
    bus.close();
}

TEST_F(BusConnectionTest, TuneRules) {
    EXPECT_EQ(bus.tune(1), AdapterFailure);
    EXPECT_TRUE(driver.calls().empty());

    ASSERT_TRUE(bus.open(0));
    driver.clearCalls();
    const auto before = clock.nowUs();
    EXPECT_EQ(bus.tune(1), Success);
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_EQ(clock.nowUs(), before);

    EXPECT_EQ(bus.tune(34), Success);
    EXPECT_EQ(driver.calls(), Calls{"setBaudRate(57142)"});
    EXPECT_EQ(bus.link()->currentBaudCode(), 34);

    driver.failNext("setBaudRate", FT_OTHER_ERROR);
    EXPECT_EQ(bus.tune(207), AdapterFailure);
    EXPECT_EQ(bus.link()->currentBaudCode(), 34);
}

TEST_F(BusConnectionTest, AdapterNames) {
    driver.setAdapters({"USB2Movantrix", "Zweiter Adapter \xC3\xA4"});
    EXPECT_EQ(bus.adapterCount(), 2);
    std::string name = "old";
    EXPECT_TRUE(bus.adapterName(1, name));
    EXPECT_EQ(name, "Zweiter Adapter \xC3\xA4");

    name = "old";
    EXPECT_FALSE(bus.adapterName(2, name));
    EXPECT_EQ(name, "old");
    driver.failNext("listDescription", FT_OTHER_ERROR);
    EXPECT_FALSE(bus.adapterName(0, name));
    EXPECT_EQ(name, "old");

    driver.failNext("listNumber", FT_OTHER_ERROR);
    EXPECT_EQ(bus.adapterCount(), -1);
}

TEST(WriteJudgementTest, RecordRule) {
    for (int level : {0, 1}) {
        EXPECT_EQ(judgeByRecordRule(Success, level), Success);
        EXPECT_EQ(judgeByRecordRule(Timeout, level), Success);
        EXPECT_EQ(judgeByRecordRule(CorruptReply, level), CorruptReply);
        EXPECT_EQ(judgeByRecordRule(AdapterFailure, level), AdapterFailure);
        EXPECT_EQ(judgeByRecordRule(WriteIncomplete, level), WriteIncomplete);
        EXPECT_EQ(judgeByRecordRule(Busy, level), Busy);
    }
    EXPECT_EQ(judgeByRecordRule(Success, 2), Success);
    EXPECT_EQ(judgeByRecordRule(Timeout, 2), Timeout);
    EXPECT_EQ(judgeByRecordRule(CorruptReply, 2), CorruptReply);
}

TEST(WriteJudgementTest, EntryRule) {
    for (int level : {0, 1}) {
        EXPECT_EQ(judgeByEntryRule(Success, level), Success);
        EXPECT_EQ(judgeByEntryRule(Timeout, level), Success);
        EXPECT_EQ(judgeByEntryRule(CorruptReply, level), Success);
        EXPECT_EQ(judgeByEntryRule(WriteIncomplete, level), Success);
        EXPECT_EQ(judgeByEntryRule(Busy, level), Success);
        EXPECT_EQ(judgeByEntryRule(AdapterFailure, level), AdapterFailure);
    }
    EXPECT_EQ(judgeByEntryRule(Success, 2), Success);
    EXPECT_EQ(judgeByEntryRule(Timeout, 2), Timeout);
    EXPECT_EQ(judgeByEntryRule(CorruptReply, 2), CorruptReply);
    EXPECT_EQ(judgeByEntryRule(AdapterFailure, 2), AdapterFailure);
}

}  // namespace
}  // namespace mvx
