#include "device/ServoRecord.h"

#include "DeviceFixture.h"
#include "protocol/Packet.h"

namespace mvx::test {
namespace {

class ServoRecordTest : public DeviceTest {
protected:
    ServoRecord& record(DeviceEntry& entry) {
        EXPECT_NE(entry.servoRecord(), nullptr);
        return *entry.servoRecord();
    }
};

TEST_F(ServoRecordTest, BuildLoadsEveryRegister) {
    auto& dev = addDevice(12, 1, 3, 2);
    dev.setWord(38, 2047);
    dev.setWord(40, 1024 + 5);
    dev.table[46] = 1;
    dev.table[47] = 2;  // only exactly 1 counts as true
    ServoRecord& r = record(registerDevice(1, 3));
    EXPECT_EQ(r.maxPosition(), 1023);
    EXPECT_EQ(r.cwAngleLimit(), 0);
    EXPECT_EQ(r.ccwAngleLimit(), 1023);
    EXPECT_EQ(r.wheelMode(), 0);
    EXPECT_EQ(r.highestLimitTemperature(), 80);
    EXPECT_EQ(r.lowestLimitVoltage(), 60);
    EXPECT_EQ(r.highestLimitVoltage(), 160);
    EXPECT_EQ(r.maxTorque(), 1023);
    EXPECT_EQ(r.alarmLed(), 36);
    EXPECT_EQ(r.cwComplianceSlope(), 32);
    EXPECT_EQ(r.goalPosition(), 512);
    EXPECT_EQ(r.punch(), 32);
    EXPECT_EQ(r.presentVoltage(), 120);
    EXPECT_EQ(r.presentTemperature(), 35);
    EXPECT_EQ(r.presentSpeed(), -1023);
    EXPECT_EQ(r.presentLoad(), -5);
    EXPECT_EQ(r.moving(), 1);
    EXPECT_EQ(r.lock(), 0);
    EXPECT_EQ(r.alarmLedFlags(), (AlarmFlags{false, true, false, false, true, false, false}));
}

TEST_F(ServoRecordTest, DirectionRule) {
    EXPECT_EQ(decodeDirection(1024), 0);
    EXPECT_EQ(decodeDirection(2047), -1023);
    EXPECT_EQ(decodeDirection(1023), 1023);
    EXPECT_EQ(encodeDirection(-300), 1324);
    EXPECT_EQ(encodeDirection(300), 300);

    auto& dev = addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    for (auto [raw, shown] : {std::pair{1024, 0}, {2047, -1023}, {1023, 1023}}) {
        dev.setWord(38, raw);
        ASSERT_EQ(r.load(LoadState), 100);
        EXPECT_EQ(r.presentSpeed(), shown) << raw;
    }
}

TEST_F(ServoRecordTest, MovingSpeedNegativeIsSentAboveOneThousand) {
    auto& dev = addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    ASSERT_EQ(r.setMovingSpeed(-300), 100);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].parameters, params({32, 1324 & 0xFF, 1324 >> 8}));
    EXPECT_EQ(dev.word(32), 1324);
    EXPECT_EQ(r.movingSpeed(), -300);
    EXPECT_EQ(r.torqueEnable(), 1);
    ASSERT_EQ(r.load(LoadState), 100);
    EXPECT_EQ(r.movingSpeed(), -300);
}

TEST_F(ServoRecordTest, OperatingModeIsOneFourByteWrite) {
    auto& dev = addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    ASSERT_EQ(r.setOperatingMode(1), 100);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].parameters, params({6, 0, 0, 0, 0}));
    EXPECT_EQ(r.wheelMode(), 1);
    EXPECT_EQ(dev.word(8), 0);
    EXPECT_EQ(r.setOperatingMode(1), 100);  // unchanged: nothing sent
    EXPECT_EQ(writes().size(), 1u);
    ASSERT_EQ(r.setOperatingMode(0), 100);
    EXPECT_EQ(writes().back().parameters, params({6, 0, 0, 0xFF, 0x03}));
    EXPECT_EQ(r.ccwAngleLimit(), 1023);
}

TEST_F(ServoRecordTest, WideModelJointModeUsesFullRange) {
    auto& dev = addDevice(106, 1, 3, 2);
    dev.setWord(8, 0);  // wheel
    ServoRecord& r = record(registerDevice(1, 3));
    EXPECT_EQ(r.maxPosition(), 4095);
    ASSERT_EQ(r.wheelMode(), 1);
    ASSERT_EQ(r.setOperatingMode(0), 100);
    EXPECT_EQ(writes().back().parameters, params({6, 0, 0, 0xFF, 0x0F}));
    EXPECT_EQ(dev.word(8), 4095);
}

TEST_F(ServoRecordTest, AngleLimitsRecomputeWheelMode) {
    auto& dev = addDevice(12, 1, 3, 2);
    dev.setWord(6, 100);
    dev.setWord(8, 0);
    ServoRecord& r = record(registerDevice(1, 3));
    ASSERT_EQ(r.wheelMode(), 0);
    ASSERT_EQ(r.setCwAngleLimit(0), 100);
    EXPECT_EQ(writes().back().parameters, params({6, 0, 0}));
    EXPECT_EQ(r.wheelMode(), 1);
    ASSERT_EQ(r.setCcwAngleLimit(300), 100);
    EXPECT_EQ(r.wheelMode(), 0);
}

TEST_F(ServoRecordTest, UnchangedValuesSendNothingButAlarmsAlwaysWrite) {
    auto& dev = addDevice(12, 1, 3, 2);
    dev.table[24] = 1;
    ServoRecord& r = record(registerDevice(1, 3));
    EXPECT_EQ(r.setTorqueEnable(1), 100);
    EXPECT_EQ(r.setGoalPosition(512), 100);
    EXPECT_EQ(r.setHighestLimitTemperature(80), 100);
    EXPECT_TRUE(bus.sent.empty());

    EXPECT_EQ(r.setAlarmLed(0, 1, 0, 0, 1, 0, 0), 100);
    EXPECT_EQ(r.setAlarmLed(0, 1, 0, 0, 1, 0, 0), 100);
    EXPECT_EQ(r.setAlarmShutdown(2, 1, 0, 0, 1, 0, 1), 100);  // 2 is not a set flag
    ASSERT_EQ(writes().size(), 3u);
    EXPECT_EQ(writes()[0].parameters, params({17, 36}));
    EXPECT_EQ(writes()[1].parameters, params({17, 36}));
    EXPECT_EQ(writes()[2].parameters, params({18, 37}));
}

TEST_F(ServoRecordTest, TorqueAndLedWriteOneOnlyForExactlyOne) {
    addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    ASSERT_EQ(r.setLed(2), 100);
    EXPECT_EQ(writes().back().parameters, params({25, 0}));
    EXPECT_EQ(r.led(), 2);
    ASSERT_EQ(r.setTorqueEnable(1), 100);
    EXPECT_EQ(writes().back().parameters, params({24, 1}));
}

TEST_F(ServoRecordTest, SettlingWaitOnlyBelowAddress24) {
    addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    std::int64_t before = clock.nowUs();
    ASSERT_EQ(r.setHighestLimitTemperature(70), 100);
    EXPECT_GE(clock.nowUs() - before, 100'000);
    EXPECT_LT(clock.nowUs() - before, 110'000);
    before = clock.nowUs();
    ASSERT_EQ(r.setOperatingMode(1), 100);
    EXPECT_GE(clock.nowUs() - before, 100'000);
    before = clock.nowUs();
    ASSERT_EQ(r.setCwComplianceMargin(4), 100);
    ASSERT_EQ(r.setTorqueLimit(800), 100);
    ASSERT_EQ(r.setGoalPosition(100), 100);
    EXPECT_LT(clock.nowUs() - before, 10'000);
}

TEST_F(ServoRecordTest, ResetToDefaultsForSmallModel) {
    auto& dev = addDevice(12, 1, 3, 2);
    dev.setWord(8, 0);  // wheel
    dev.setWord(14, 500);
    dev.table[12] = 50;
    DeviceEntry& entry = registerDevice(1, 3);
    ASSERT_EQ(entry.resetToDefaults(), 100);
    std::vector<std::vector<std::uint8_t>> got;
    for (const auto& p : writes()) {
        got.push_back(p.parameters);
    }
    EXPECT_EQ(got, (std::vector<std::vector<std::uint8_t>>{
                       params({6, 0, 0, 0xFF, 0x03}), params({14, 0xFF, 0x03}), params({17, 36}),
                       params({18, 36}), params({11, 70}), params({13, 140}), params({12, 60})}));
    ServoRecord& r = record(entry);
    EXPECT_EQ(r.wheelMode(), 0);
    EXPECT_EQ(r.highestLimitTemperature(), 70);
    // Matching values are not written again; the alarms are.
    bus.sent.clear();
    ASSERT_EQ(entry.resetToDefaults(), 100);
    ASSERT_EQ(writes().size(), 2u);
}

TEST_F(ServoRecordTest, ResetToDefaultsByModelGroup) {
    auto& mid = addDevice(28, 1, 4, 2);
    auto& big = addDevice(64, 1, 5, 2);
    mid.table[13] = 10;
    big.table[13] = 10;
    DeviceEntry& midEntry = registerDevice(1, 4);
    DeviceEntry& bigEntry = registerDevice(1, 5);
    ASSERT_EQ(midEntry.resetToDefaults(), 100);
    ASSERT_EQ(bigEntry.resetToDefaults(), 100);
    EXPECT_EQ(mid.table[11], 80);
    EXPECT_EQ(mid.table[13], 190);
    EXPECT_EQ(big.table[13], 240);
    EXPECT_EQ(big.table[12], 60);
}

TEST_F(ServoRecordTest, ResetStopsAtFirstFailure) {
    auto& dev = addDevice(12, 1, 3, 2);
    dev.setWord(14, 500);
    DeviceEntry& entry = registerDevice(1, 3);
    dev.silent = true;
    EXPECT_EQ(entry.resetToDefaults(), 103);
    ASSERT_EQ(writes().size(), 1u);  // max torque, then stop
    EXPECT_EQ(entry.servoRecord()->maxTorque(), 500);
}

TEST_F(ServoRecordTest, StateLoadLeavesGoalErrorBits) {
    auto& dev = addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    dev.errorByte = AngleLimitError | OverloadError | RangeError;
    ASSERT_EQ(r.setGoalPosition(700), 100);
    EXPECT_EQ(r.errorBits(), AngleLimitError | OverloadError);  // only the goal's two bits
    dev.errorByte = InputVoltageError;
    ASSERT_EQ(r.load(LoadState), 100);
    EXPECT_EQ(r.errorBits(), AngleLimitError | OverloadError | InputVoltageError);
    dev.errorByte = 0;
    ASSERT_EQ(r.load(LoadLimits), 100);
    EXPECT_EQ(r.errorBits(), AngleLimitError | OverloadError);
    EXPECT_EQ(r.errorFlags(), (AlarmFlags{false, true, false, false, false, true, false}));
    ASSERT_EQ(r.setGoalPosition(710), 100);
    EXPECT_EQ(r.errorBits(), 0);
}

TEST_F(ServoRecordTest, FailedReadLeavesEveryField) {
    auto& dev = addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    dev.errorByte = InputVoltageError;
    dev.setWord(36, 77);
    dev.table[11] = 99;
    dev.corruptReplies = 1;
    EXPECT_EQ(r.load(LoadAll), 104);
    EXPECT_EQ(r.presentPosition(), 512);
    EXPECT_EQ(r.highestLimitTemperature(), 80);
    EXPECT_EQ(r.errorBits(), 0);
    dev.silent = true;
    EXPECT_EQ(r.load(LoadState), 103);
    EXPECT_EQ(r.presentPosition(), 512);
    EXPECT_EQ(r.errorBits(), 0);
}

TEST_F(ServoRecordTest, RecordRuleByReturnLevel) {
    auto& quiet = addDevice(12, 1, 3, 1);
    auto& loud = addDevice(12, 1, 4, 2);
    ServoRecord& q = record(registerDevice(1, 3));
    ServoRecord& l = record(registerDevice(1, 4));
    // Level 1: no reply to writes, which counts as success.
    EXPECT_EQ(q.setPunch(40), 100);
    EXPECT_EQ(q.punch(), 40);
    EXPECT_EQ(quiet.word(48), 40);
    // Level 2: silence is a failure; the field stays and the same call writes again.
    loud.silent = true;
    EXPECT_EQ(l.setPunch(40), 103);
    EXPECT_EQ(l.punch(), 32);
    loud.silent = false;
    EXPECT_EQ(l.setPunch(40), 100);
    EXPECT_EQ(l.punch(), 40);
    // A corrupt reply fails at either level.
    quiet.corruptReplies = 0;
    loud.corruptReplies = 1;
    EXPECT_EQ(l.setTorqueLimit(5), 104);
    EXPECT_EQ(l.torqueLimit(), 1023);
}

TEST_F(ServoRecordTest, GoalPositionNeedsARealReply) {
    auto& dev = addDevice(12, 1, 3, 1);
    ServoRecord& r = record(registerDevice(1, 3));
    EXPECT_EQ(r.setGoalPosition(100), 103);
    EXPECT_EQ(r.goalPosition(), 512);
    EXPECT_EQ(dev.word(30), 100);  // the device took it all the same
    EXPECT_EQ(r.torqueEnable(), 0);
}

TEST_F(ServoRecordTest, NoAdapterIsAdapterFailure) {
    addDevice(12, 1, 3, 2);
    ServoRecord& r = record(registerDevice(1, 3));
    registry.bus().close();
    EXPECT_EQ(r.setPunch(1), 101);
    EXPECT_EQ(r.load(LoadAll), 101);
    EXPECT_EQ(r.punch(), 32);
}

}  // namespace
}  // namespace mvx::test
