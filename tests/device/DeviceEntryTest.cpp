#include "device/DeviceEntry.h"

#include "device/ServoRecord.h"
#include "protocol/Packet.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

using DeviceEntryTest = SimRegistryTest;

TEST_F(DeviceEntryTest, IdentityOfAnActuator) {
    start({simSpec(3, 9, 116)});
    DeviceEntry* entry = registry->appendPlaceholder();
    ASSERT_EQ(entry->probe(3, 9), 100);
    const auto reads = packets(Read);
    ASSERT_GE(reads.size(), 1u);
    EXPECT_EQ(params(reads[0]), bytes({0, 17}));
    EXPECT_EQ(reads[0].rateBps, 500000u);
    EXPECT_EQ(entry->modelNumber(), 116);
    EXPECT_EQ(entry->modelClass(), Actuator);
    EXPECT_EQ(entry->firmwareVersion(), 30);
    EXPECT_EQ(entry->returnDelay(), 250);
    EXPECT_EQ(entry->returnLevel(), 2);
    ASSERT_NE(entry->servoRecord(), nullptr);
    EXPECT_EQ(entry->servoRecord()->highestLimitVoltage(), 190);
}

TEST_F(DeviceEntryTest, SensorHasNoRecordAndResetSendsNothing) {
    start({simSpec(1, 100, 13)});
    DeviceEntry& entry = registerDevice(1, 100);
    EXPECT_EQ(entry.modelClass(), Sensor);
    EXPECT_EQ(entry.servoRecord(), nullptr);
    EXPECT_EQ(entry.resetToDefaults(), 100);
    EXPECT_TRUE(hostWrites().empty());
}

TEST_F(DeviceEntryTest, LevelZeroDeviceIsUnknown) {
    start({simSpec(1, 4, 12, 30, 0)});
    DeviceEntry& entry = registerDevice(1, 4);
    EXPECT_EQ(entry.modelNumber(), 255);
    EXPECT_EQ(entry.modelClass(), UnknownModel);
    EXPECT_EQ(entry.returnLevel(), 0);
    EXPECT_EQ(entry.firmwareVersion(), 0);
    EXPECT_EQ(entry.servoRecord(), nullptr);
    EXPECT_STREQ(displayName(entry.modelNumber()), "Unknown");
    EXPECT_STREQ(classText(entry.modelClass()), "Unknown");
}

TEST_F(DeviceEntryTest, FailedIdentityReadLeavesTheEntry) {
    start({simSpec(1, 4, 12)});
    DeviceEntry& entry = registerDevice(1, 4);
    dev(1, 4).setReg16(0, 64);
    dev(1, 4).setFaults({.corruptChecksum = true});
    EXPECT_EQ(entry.readIdentity(), 104);
    EXPECT_EQ(entry.modelNumber(), 12);
    EXPECT_NE(entry.servoRecord(), nullptr);
    dev(1, 4).setFaults({.dropReply = true});  // neither read nor ping
    EXPECT_EQ(entry.readIdentity(), 103);
    EXPECT_EQ(entry.modelNumber(), 12);
    EXPECT_EQ(entry.returnLevel(), 2);
}

TEST_F(DeviceEntryTest, ReusedPlaceholderDropsAnEarlierRecord) {
    start({simSpec(1, 1, 12), simSpec(1, 2, 28, 30, 2, {{30, 321}})});
    dev(1, 1).setFaults({.answerReads = 1});  // identity answered, the record's first load is not
    DeviceEntry* placeholder = registry->appendPlaceholder();
    EXPECT_EQ(placeholder->probe(1, 1), 103);
    ASSERT_EQ(placeholder->probe(1, 2), 100);
    ASSERT_NE(placeholder->servoRecord(), nullptr);
    EXPECT_EQ(placeholder->modelNumber(), 28);
    EXPECT_EQ(placeholder->servoRecord()->goalPosition(), 321);
    EXPECT_EQ(&placeholder->servoRecord()->owner(), placeholder);

    placeholder->reset();
    EXPECT_EQ(placeholder->id(), -1);
    EXPECT_EQ(placeholder->returnLevel(), -1);
    EXPECT_EQ(placeholder->servoRecord(), nullptr);
}

TEST_F(DeviceEntryTest, ChangeIdAtLevelTwo) {
    start({simSpec(1, 5, 12)});
    DeviceEntry& entry = registerDevice(1, 5);
    const std::int64_t before = clock.nowUs();
    ASSERT_EQ(entry.changeId(7), 100);
    EXPECT_GE(clock.nowUs() - before, 100'000);
    const auto writes = packets(Write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes[2], 5);
    EXPECT_EQ(params(writes[0]), bytes({3, 7}));
    EXPECT_EQ(entry.id(), 7);
    EXPECT_NE(sim->find(1, 7), nullptr);
    EXPECT_TRUE(packets(Ping).empty());  // no ping-back at level 2
}

TEST_F(DeviceEntryTest, ChangeIdBelowLevelTwoPingsBack) {
    start({simSpec(1, 5, 12, 30, 1)});
    DeviceEntry& entry = registerDevice(1, 5);
    ASSERT_EQ(entry.changeId(7), 100);
    EXPECT_EQ(entry.id(), 7);
    EXPECT_EQ(packets(Ping).size(), 1u);
    EXPECT_EQ(packets(Ping, 7).size(), 1u);

    dev(1, 7).setFaults({.ignoreWrites = true});  // the change is not answered
    EXPECT_EQ(entry.changeId(9), 103);
    EXPECT_EQ(entry.id(), 7);
    EXPECT_EQ(packets(Ping).back().bytes[2], 9);
}

TEST_F(DeviceEntryTest, ChangeBaudFollowsTheDevice) {
    start({simSpec(1, 5, 12, 30, 0)});
    DeviceEntry& entry = registerDevice(1, 5);
    ASSERT_EQ(entry.changeBaud(34), 100);
    EXPECT_EQ(packets(Write).at(0).rateBps, 1000000u);
    EXPECT_EQ(params(packets(Write).at(0)), bytes({4, 34}));
    EXPECT_EQ(packets(Ping).back().rateBps, 57142u);
    EXPECT_EQ(entry.baudCode(), 34);
    EXPECT_NE(sim->find(34, 5), nullptr);
    dev(34, 5).setFaults({.ignoreWrites = true});
    EXPECT_EQ(entry.changeBaud(3), 103);
    EXPECT_EQ(entry.baudCode(), 34);
}

TEST_F(DeviceEntryTest, AdapterFailureOnAddressChange) {
    start({simSpec(1, 5, 12, 30, 1)});
    DeviceEntry& entry = registerDevice(1, 5);
    driver.hook = [](const std::string& call) { return call == "write" ? FT_IO_ERROR : FT_OK; };
    EXPECT_EQ(entry.changeId(7), 101);
    EXPECT_EQ(entry.id(), 5);
}

TEST_F(DeviceEntryTest, ReturnDelayByEntryRule) {
    start({simSpec(1, 3, 12, 30, 1), simSpec(1, 4, 12)});
    DeviceEntry& q = registerDevice(1, 3);
    DeviceEntry& l = registerDevice(1, 4);
    dev(1, 3).setFaults({.corruptChecksum = true});  // no reply is expected at level 1
    EXPECT_EQ(q.setReturnDelay(10), 100);
    EXPECT_EQ(q.returnDelay(), 10);
    EXPECT_EQ(q.setReturnDelay(10), 100);
    EXPECT_EQ(packets(Write).size(), 1u);
    dev(1, 4).setFaults({.corruptChecksum = true});
    EXPECT_EQ(l.setReturnDelay(10), 104);
    EXPECT_EQ(l.returnDelay(), 250);
    dev(1, 4).setFaults({});
    const std::int64_t before = clock.nowUs();
    EXPECT_EQ(l.setReturnDelay(10), 100);
    EXPECT_GE(clock.nowUs() - before, 100'000);
    EXPECT_EQ(dev(1, 4).reg(5), 10);
}

TEST_F(DeviceEntryTest, ReturnLevelIntoAndOutOfZero) {
    start({simSpec(1, 3, 12)});
    DeviceEntry& entry = registerDevice(1, 3);
    ASSERT_EQ(entry.setReturnLevel(1), 100);
    EXPECT_EQ(entry.returnLevel(), 1);
    EXPECT_NE(entry.servoRecord(), nullptr);
    EXPECT_TRUE(packets(Read).empty());  // between nonzero levels: no identity read

    ASSERT_EQ(entry.setReturnLevel(0), 100);
    EXPECT_EQ(dev(1, 3).reg(16), 0);
    EXPECT_EQ(entry.returnLevel(), 0);
    EXPECT_EQ(entry.modelNumber(), 255);
    EXPECT_EQ(entry.modelClass(), UnknownModel);
    EXPECT_EQ(entry.servoRecord(), nullptr);

    ASSERT_EQ(entry.setReturnLevel(2), 100);
    EXPECT_EQ(entry.returnLevel(), 2);
    EXPECT_EQ(entry.modelNumber(), 12);
    EXPECT_EQ(entry.modelClass(), Actuator);
    ASSERT_NE(entry.servoRecord(), nullptr);
    EXPECT_EQ(entry.servoRecord()->goalPosition(), 512);

    dev(1, 3).setFaults({.dropReply = true});
    EXPECT_EQ(entry.setReturnLevel(1), 103);
    EXPECT_EQ(entry.returnLevel(), 2);
}

TEST_F(DeviceEntryTest, AdapterLostDuringTheIdentityReadAfterALevelChange) {
    // The level write goes through, then the adapter fails before the identity read: the
    // change must not be reported as a success the entry does not show.
    start({simSpec(1, 3, 12)});
    DeviceEntry& entry = registerDevice(1, 3);
    int writes = 0;
    driver.hook = [&writes](const std::string& call) {
        writes += call == "write" ? 1 : 0;
        return call == "write" && writes > 1 ? FT_IO_ERROR : FT_OK;
    };
    EXPECT_EQ(entry.setReturnLevel(0), 101);
    EXPECT_EQ(dev(1, 3).reg(16), 0);
}

TEST_F(DeviceEntryTest, NoAdapter) {
    start({simSpec(1, 3, 12)});
    DeviceEntry& entry = registerDevice(1, 3);
    registry->bus().close();
    EXPECT_EQ(entry.ping(), 101);
    EXPECT_EQ(entry.readIdentity(), 101);
    EXPECT_EQ(entry.setReturnDelay(3), 101);
    EXPECT_EQ(entry.modelNumber(), 12);
}

}  // namespace
}  // namespace mvx::test
