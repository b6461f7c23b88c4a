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

// Each row: the exchange's result, then what a write makes of it at return level 0 or 1, and at
// level 2 (where a reply is expected and therefore judged as it is).
TEST(WriteJudgementTest, RecordAndEntryRules) {
    struct Case {
        ResultCode result, recordLow, entryLow;
    };
    const Case cases[] = {
        {Success, Success, Success},
        {Timeout, Success, Success},
        {CorruptReply, CorruptReply, Success},
        {AdapterFailure, AdapterFailure, AdapterFailure},
        {WriteIncomplete, WriteIncomplete, WriteIncomplete},
        {Busy, Busy, Busy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.result));
        for (int level : {0, 1}) {
            EXPECT_EQ(judgeByRecordRule(c.result, level), c.recordLow);
            EXPECT_EQ(judgeByEntryRule(c.result, level), c.entryLow);
        }
    }
    for (ResultCode result :
         {Success, Timeout, CorruptReply, AdapterFailure, WriteIncomplete, Busy}) {
        SCOPED_TRACE(int(result));
        EXPECT_EQ(judgeByRecordRule(result, 2), result);
        EXPECT_EQ(judgeByEntryRule(result, 2), result);
    }
}

}  // namespace
}  // namespace mvx
