#include "device/DeviceEntry.h"

#include "DeviceFixture.h"

namespace mvx::test {
namespace {

using DeviceEntryTest = DeviceTest;

TEST_F(DeviceEntryTest, IdentityOfAnActuator) {
    auto& dev = addDevice(116, 3, 9, 2);
    dev.table[3] = 9;
    DeviceEntry* entry = registry.appendPlaceholder();
    ASSERT_EQ(entry->probe(3, 9), 100);
    const auto reads = bus.sentWith(2);
    ASSERT_GE(reads.size(), 1u);
    EXPECT_EQ(reads[0].parameters, params({0, 17}));
    EXPECT_EQ(reads[0].bitsPerSecond, 500000u);
    EXPECT_EQ(entry->modelNumber(), 116);
    EXPECT_EQ(entry->modelClass(), Actuator);
    EXPECT_EQ(entry->firmwareVersion(), 30);
    EXPECT_EQ(entry->returnDelay(), 250);
    EXPECT_EQ(entry->returnLevel(), 2);
    ASSERT_NE(entry->servoRecord(), nullptr);
    EXPECT_EQ(entry->servoRecord()->highestLimitVoltage(), 160);
}

TEST_F(DeviceEntryTest, SensorHasNoRecordAndResetSendsNothing) {
    addDevice(13, 1, 100, 2);
    DeviceEntry& entry = registerDevice(1, 100);
    EXPECT_EQ(entry.modelClass(), Sensor);
    EXPECT_EQ(entry.servoRecord(), nullptr);
    EXPECT_EQ(entry.resetToDefaults(), 100);
    EXPECT_TRUE(bus.sent.empty());
}

TEST_F(DeviceEntryTest, LevelZeroDeviceIsUnknown) {
    addDevice(12, 1, 4, 0);
    DeviceEntry* entry = registry.appendPlaceholder();
    ASSERT_EQ(entry->probe(1, 4), 100);
    EXPECT_EQ(entry->modelNumber(), 255);
    EXPECT_EQ(entry->modelClass(), UnknownModel);
    EXPECT_EQ(entry->returnLevel(), 0);
    EXPECT_EQ(entry->firmwareVersion(), 0);
    EXPECT_EQ(entry->servoRecord(), nullptr);
    EXPECT_STREQ(displayName(entry->modelNumber()), "Unknown");
    EXPECT_STREQ(classText(entry->modelClass()), "Unknown");
}

TEST_F(DeviceEntryTest, FailedIdentityReadLeavesTheEntry) {
    auto& dev = addDevice(12, 1, 4, 2);
    DeviceEntry& entry = registerDevice(1, 4);
    dev.setWord(0, 64);
    dev.corruptReplies = 1;
    EXPECT_EQ(entry.readIdentity(), 104);
    EXPECT_EQ(entry.modelNumber(), 12);
    EXPECT_NE(entry.servoRecord(), nullptr);
    dev.silent = true;  // neither read nor ping
    EXPECT_EQ(entry.readIdentity(), 103);
    EXPECT_EQ(entry.modelNumber(), 12);
    EXPECT_EQ(entry.returnLevel(), 2);
}

TEST_F(DeviceEntryTest, ReusedPlaceholderDropsAnEarlierRecord) {
    auto& first = addDevice(12, 1, 1, 2);
    auto& second = addDevice(28, 1, 2, 2);
    first.readsLeft = 1;  // identity answered, the record's first load is not
    second.setWord(30, 321);
    DeviceEntry* placeholder = registry.appendPlaceholder();
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
    auto& dev = addDevice(12, 1, 5, 2);
    DeviceEntry& entry = registerDevice(1, 5);
    const std::int64_t before = clock.nowUs();
    ASSERT_EQ(entry.changeId(7), 100);
    EXPECT_GE(clock.nowUs() - before, 100'000);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].id, 5);
    EXPECT_EQ(writes()[0].parameters, params({3, 7}));
    EXPECT_EQ(entry.id(), 7);
    EXPECT_EQ(dev.id(), 7);
    EXPECT_TRUE(bus.sentWith(1).empty());  // no ping-back at level 2
}

TEST_F(DeviceEntryTest, ChangeIdBelowLevelTwoPingsBack) {
    addDevice(12, 1, 5, 1);
    DeviceEntry& entry = registerDevice(1, 5);
    ASSERT_EQ(entry.changeId(7), 100);
    EXPECT_EQ(entry.id(), 7);
    ASSERT_EQ(bus.sentWith(1).size(), 1u);
    EXPECT_EQ(bus.sentWith(1)[0].id, 7);
}

TEST_F(DeviceEntryTest, ChangeIdNotAnsweredKeepsTheOldId) {
    auto& dev = addDevice(12, 1, 5, 1);
    DeviceEntry& entry = registerDevice(1, 5);
    dev.ignoresWrites = true;
    EXPECT_EQ(entry.changeId(7), 103);
    EXPECT_EQ(entry.id(), 5);
    EXPECT_EQ(bus.sentWith(1).back().id, 7);
}

TEST_F(DeviceEntryTest, ChangeBaudFollowsTheDevice) {
    auto& dev = addDevice(12, 1, 5, 0);
    DeviceEntry& entry = registerDevice(1, 5);
    ASSERT_EQ(entry.changeBaud(34), 100);
    EXPECT_EQ(writes()[0].bitsPerSecond, 1000000u);
    EXPECT_EQ(writes()[0].parameters, params({4, 34}));
    EXPECT_EQ(bus.sentWith(1).back().bitsPerSecond, 57142u);
    EXPECT_EQ(entry.baudCode(), 34);
    EXPECT_EQ(dev.code(), 34);
    dev.ignoresWrites = true;
    EXPECT_EQ(entry.changeBaud(3), 103);
    EXPECT_EQ(entry.baudCode(), 34);
}

TEST_F(DeviceEntryTest, AdapterFailureOnAddressChange) {
    addDevice(12, 1, 5, 1);
    DeviceEntry& entry = registerDevice(1, 5);
    bus.failWrites = true;
    EXPECT_EQ(entry.changeId(7), 101);
    EXPECT_EQ(entry.id(), 5);
}

TEST_F(DeviceEntryTest, ReturnDelayByEntryRule) {
    auto& quiet = addDevice(12, 1, 3, 1);
    auto& loud = addDevice(12, 1, 4, 2);
    DeviceEntry& q = registerDevice(1, 3);
    DeviceEntry& l = registerDevice(1, 4);
    quiet.corruptReplies = 1;  // no reply is expected; even garbage counts as success
    EXPECT_EQ(q.setReturnDelay(10), 100);
    EXPECT_EQ(q.returnDelay(), 10);
    EXPECT_EQ(q.setReturnDelay(10), 100);
    EXPECT_EQ(writes().size(), 1u);
    loud.corruptReplies = 1;
    EXPECT_EQ(l.setReturnDelay(10), 104);
    EXPECT_EQ(l.returnDelay(), 250);
    const std::int64_t before = clock.nowUs();
    EXPECT_EQ(l.setReturnDelay(10), 100);
    EXPECT_GE(clock.nowUs() - before, 100'000);
    EXPECT_EQ(loud.table[5], 10);
}

TEST_F(DeviceEntryTest, ReturnLevelIntoAndOutOfZero) {
    auto& dev = addDevice(12, 1, 3, 2);
    DeviceEntry& entry = registerDevice(1, 3);
    ASSERT_EQ(entry.setReturnLevel(1), 100);
    EXPECT_EQ(entry.returnLevel(), 1);
    EXPECT_NE(entry.servoRecord(), nullptr);
    EXPECT_TRUE(bus.sentWith(2).empty());  // between nonzero levels: no identity read

    ASSERT_EQ(entry.setReturnLevel(0), 100);
    EXPECT_EQ(dev.level(), 0);
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
}

TEST_F(DeviceEntryTest, ReturnLevelFailureAtLevelTwo) {
    auto& dev = addDevice(12, 1, 3, 2);
    DeviceEntry& entry = registerDevice(1, 3);
    dev.silent = true;
    EXPECT_EQ(entry.setReturnLevel(1), 103);
    EXPECT_EQ(entry.returnLevel(), 2);
}

TEST_F(DeviceEntryTest, NoAdapter) {
    addDevice(12, 1, 3, 2);
    DeviceEntry& entry = registerDevice(1, 3);
    registry.bus().close();
    EXPECT_EQ(entry.ping(), 101);
    EXPECT_EQ(entry.readIdentity(), 101);
    EXPECT_EQ(entry.setReturnDelay(3), 101);
    EXPECT_EQ(entry.modelNumber(), 12);
}

}  // namespace
}  // namespace mvx::test
