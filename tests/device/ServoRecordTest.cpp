#include "device/ServoRecord.h"

#include <functional>
#include <span>

#include "protocol/Packet.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

class ServoRecordTest : public SimRegistryTest {
protected:
    // One device of `model` at (1, 3) with these register overrides, registered; its record.
    ServoRecord& startOne(std::map<int, int> registers = {}, int model = 12, int level = 2) {
        start({simSpec(1, 3, model, 30, level, std::move(registers))});
        return record(registerDevice(1, 3));
    }
    static ServoRecord& record(DeviceEntry& entry) {
        EXPECT_NE(entry.servoRecord(), nullptr);
        return *entry.servoRecord();
    }
    std::vector<Bytes> writes() const {
        std::vector<Bytes> out;
        for (const SimTraffic& t : packets(Write)) {
            out.push_back(params(t));
        }
        return out;
    }
};

TEST_F(ServoRecordTest, BuildLoadsEveryRegister) {
    // Turning clockwise in wheel mode at full speed; lock 2 (only exactly 1 counts as true).
    ServoRecord& r = startOne({{8, 0}, {24, 1}, {32, 2047}, {47, 2}});
    EXPECT_EQ(r.maxPosition(), 1023);
    EXPECT_EQ(r.cwAngleLimit(), 0);
    EXPECT_EQ(r.ccwAngleLimit(), 0);
    EXPECT_EQ(r.wheelMode(), 1);
    EXPECT_EQ(r.highestLimitTemperature(), 70);
    EXPECT_EQ(r.lowestLimitVoltage(), 60);
    EXPECT_EQ(r.highestLimitVoltage(), 140);
    EXPECT_EQ(r.maxTorque(), 1023);
    EXPECT_EQ(r.alarmLed(), 36);
    EXPECT_EQ(r.cwComplianceSlope(), 32);
    EXPECT_EQ(r.goalPosition(), 512);
    EXPECT_EQ(r.movingSpeed(), -1023);
    EXPECT_EQ(r.punch(), 32);
    EXPECT_EQ(r.presentVoltage(), 96);
    EXPECT_EQ(r.presentTemperature(), 32);
    EXPECT_EQ(r.presentSpeed(), -1023);
    EXPECT_EQ(r.presentLoad(), -167);  // 40 + 1023 / 8, clockwise
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

    // In wheel mode the present speed follows the moving speed, direction bit included.
    ServoRecord& r = startOne({{8, 0}, {24, 1}});
    for (auto [raw, shown] : {std::pair{1024, 0}, {2047, -1023}, {1023, 1023}}) {
        dev(1, 3).setReg16(32, raw);
        clock.sleepMs(1);
        ASSERT_EQ(r.load(LoadState), 100);
        EXPECT_EQ(r.presentSpeed(), shown) << raw;
    }
}

TEST_F(ServoRecordTest, MovingSpeedNegativeIsSentAboveOneThousand) {
    ServoRecord& r = startOne();
    ASSERT_EQ(r.setMovingSpeed(-300), 100);
    EXPECT_EQ(writes(), (std::vector<Bytes>{bytes({32, 1324 & 0xFF, 1324 >> 8})}));
    EXPECT_EQ(dev(1, 3).reg16(32), 1324);
    EXPECT_EQ(r.movingSpeed(), -300);
    EXPECT_EQ(r.torqueEnable(), 1);
    ASSERT_EQ(r.load(LoadState), 100);
    EXPECT_EQ(r.movingSpeed(), -300);
}

TEST_F(ServoRecordTest, SettersLandInTheControlTable) {
    ServoRecord& r = startOne({}, 28);
    SimulatedDevice& d = dev(1, 3);
    ASSERT_EQ(r.setGoalPosition(300), 100);
    EXPECT_EQ(d.reg16(30), 300);
    EXPECT_EQ(d.reg(24), 1);
    ASSERT_EQ(r.setHighestLimitTemperature(70), 100);
    EXPECT_EQ(d.reg(11), 70);
    ASSERT_EQ(r.setAlarmShutdown(1, 0, 0, 0, 0, 0, 1), 100);
    EXPECT_EQ(d.reg(18), 65);
    ASSERT_EQ(r.setCcwAngleLimit(1000), 100);
    EXPECT_EQ(d.reg16(8), 1000);
    ASSERT_EQ(r.load(LoadAll), 100);
    EXPECT_EQ(r.alarmShutdown(), 65);
    EXPECT_EQ(r.highestLimitTemperature(), 70);
    EXPECT_EQ(r.goalPosition(), 300);
}

TEST_F(ServoRecordTest, OperatingModeIsOneFourByteWrite) {
    ServoRecord& r = startOne();
    ASSERT_EQ(r.setOperatingMode(1), 100);
    EXPECT_EQ(writes(), (std::vector<Bytes>{bytes({6, 0, 0, 0, 0})}));
    EXPECT_EQ(r.wheelMode(), 1);
    EXPECT_EQ(dev(1, 3).reg16(8), 0);
    EXPECT_EQ(r.setOperatingMode(1), 100);  // unchanged: nothing sent
    EXPECT_EQ(writes().size(), 1u);
    ASSERT_EQ(r.setOperatingMode(0), 100);
    EXPECT_EQ(writes().back(), bytes({6, 0, 0, 0xFF, 0x03}));
    EXPECT_EQ(r.ccwAngleLimit(), 1023);
}

TEST_F(ServoRecordTest, WideModelJointModeUsesFullRange) {
    ServoRecord& r = startOne({{8, 0}}, 106);  // wheel
    EXPECT_EQ(r.maxPosition(), 4095);
    ASSERT_EQ(r.wheelMode(), 1);
    ASSERT_EQ(r.setOperatingMode(0), 100);
    EXPECT_EQ(writes().back(), bytes({6, 0, 0, 0xFF, 0x0F}));
    EXPECT_EQ(dev(1, 3).reg16(8), 4095);
}

TEST_F(ServoRecordTest, AngleLimitsRecomputeWheelMode) {
    ServoRecord& r = startOne({{6, 100}, {8, 0}});
    ASSERT_EQ(r.wheelMode(), 0);
    ASSERT_EQ(r.setCwAngleLimit(0), 100);
    EXPECT_EQ(writes().back(), bytes({6, 0, 0}));
    EXPECT_EQ(r.wheelMode(), 1);
    ASSERT_EQ(r.setCcwAngleLimit(300), 100);
    EXPECT_EQ(r.wheelMode(), 0);
}

TEST_F(ServoRecordTest, UnchangedValuesSendNothingButAlarmsAlwaysWrite) {
    ServoRecord& r = startOne({{24, 1}});
    EXPECT_EQ(r.setTorqueEnable(1), 100);
    EXPECT_EQ(r.setGoalPosition(512), 100);
    EXPECT_EQ(r.setHighestLimitTemperature(70), 100);
    EXPECT_TRUE(hostWrites().empty());

    EXPECT_EQ(r.setAlarmLed(0, 1, 0, 0, 1, 0, 0), 100);
    EXPECT_EQ(r.setAlarmLed(0, 1, 0, 0, 1, 0, 0), 100);
    EXPECT_EQ(r.setAlarmShutdown(2, 1, 0, 0, 1, 0, 1), 100);  // 2 is not a set flag
    EXPECT_EQ(writes(), (std::vector<Bytes>{bytes({17, 36}), bytes({17, 36}), bytes({18, 37})}));
}

TEST_F(ServoRecordTest, TorqueAndLedWriteOneOnlyForExactlyOne) {
    ServoRecord& r = startOne({{25, 1}});
    ASSERT_EQ(r.setLed(2), 100);
    EXPECT_EQ(writes().back(), bytes({25, 0}));
    EXPECT_EQ(r.led(), 0);         // what the device holds, not the argument
    ASSERT_EQ(r.setLed(-7), 100);  // still off: nothing sent
    ASSERT_EQ(r.setTorqueEnable(1), 100);
    EXPECT_EQ(writes(), (std::vector<Bytes>{bytes({25, 0}), bytes({24, 1})}));
    EXPECT_EQ(r.torqueEnable(), 1);
}

// Each setter refuses a value outside its register's range (105, nothing on the wire, the
// image unchanged) and takes both ends of the range, which then read back from the device.
TEST_F(ServoRecordTest, SettersRefuseValuesOutsideTheRegisterRange) {
    constexpr int kMaxPos = -1;  // the record's maxPosition()
    struct Case {
        const char* name;
        int (ServoRecord::*set)(int);
        int (ServoRecord::*get)() const;
        int low, high;
    };
    const Case cases[] = {
        {"temperature", &ServoRecord::setHighestLimitTemperature,
         &ServoRecord::highestLimitTemperature, 0, 255},
        {"high voltage", &ServoRecord::setHighestLimitVoltage, &ServoRecord::highestLimitVoltage, 0,
         255},
        {"low voltage", &ServoRecord::setLowestLimitVoltage, &ServoRecord::lowestLimitVoltage, 0,
         255},
        {"cw margin", &ServoRecord::setCwComplianceMargin, &ServoRecord::cwComplianceMargin, 0,
         255},
        {"ccw margin", &ServoRecord::setCcwComplianceMargin, &ServoRecord::ccwComplianceMargin, 0,
         255},
        {"cw slope", &ServoRecord::setCwComplianceSlope, &ServoRecord::cwComplianceSlope, 0, 255},
        {"ccw slope", &ServoRecord::setCcwComplianceSlope, &ServoRecord::ccwComplianceSlope, 0,
         255},
        {"max torque", &ServoRecord::setMaxTorque, &ServoRecord::maxTorque, 0, 1023},
        {"torque limit", &ServoRecord::setTorqueLimit, &ServoRecord::torqueLimit, 0, 1023},
        {"punch", &ServoRecord::setPunch, &ServoRecord::punch, 0, 1023},
        {"moving speed", &ServoRecord::setMovingSpeed, &ServoRecord::movingSpeed, -1023, 1023},
        {"cw limit", &ServoRecord::setCwAngleLimit, &ServoRecord::cwAngleLimit, 0, kMaxPos},
        {"ccw limit", &ServoRecord::setCcwAngleLimit, &ServoRecord::ccwAngleLimit, 0, kMaxPos},
        {"goal", &ServoRecord::setGoalPosition, &ServoRecord::goalPosition, 0, kMaxPos},
    };
    start({simSpec(1, 3, 12), simSpec(1, 4, 106)});
    for (ServoRecord* r : {&record(registerDevice(1, 3)), &record(registerDevice(1, 4))}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " model " +
                         std::to_string(r->owner().modelNumber()));
            const int high = c.high == kMaxPos ? r->maxPosition() : c.high;
            const int before = (r->*c.get)();
            for (int bad : {c.low - 1, high + 1, high + 256, -65536}) {
                sim->clearTraffic();
                EXPECT_EQ((r->*c.set)(bad), 105) << bad;
                EXPECT_TRUE(hostWrites().empty()) << bad;
                EXPECT_EQ((r->*c.get)(), before) << bad;
            }
            for (int good : {c.low, high}) {
                EXPECT_EQ((r->*c.set)(good), 100) << good;
                EXPECT_EQ((r->*c.get)(), good);
            }
        }
        // The device holds the values written (it keeps its limit registers within its own
        // working range, so those three are not read back).
        ASSERT_EQ(r->load(LoadAll), 100);
        for (const Case& c : std::span(cases).subspan(3)) {
            EXPECT_EQ((r->*c.get)(), c.high == kMaxPos ? r->maxPosition() : c.high) << c.name;
        }
    }

    // The entry's own registers.
    DeviceEntry& entry = *registry->find(1, 3);
    struct EntryCase {
        const char* name;
        std::function<int(int)> set;
        std::function<int()> get;
        std::vector<int> bad, good;
    };
    const EntryCase entryCases[] = {
        {"return delay",
         [&](int v) { return entry.setReturnDelay(v); },
         [&] { return entry.returnDelay(); },
         {-1, 256},
         {0, 255}},
        {"id", [&](int v) { return entry.changeId(v); }, [&] { return entry.id(); }, {-1, 254}, {}},
        {"baud",
         [&](int v) { return entry.changeBaud(v); },
         [&] { return entry.baudCode(); },
         {-1, 256},
         {}},
        {"return level",
         [&](int v) { return entry.setReturnLevel(v); },
         [&] { return entry.returnLevel(); },
         {-1, 3, 258},
         {0, 2}},
    };
    for (const EntryCase& c : entryCases) {
        SCOPED_TRACE(c.name);
        const int before = c.get();
        for (int bad : c.bad) {
            sim->clearTraffic();
            EXPECT_EQ(c.set(bad), 105) << bad;
            EXPECT_TRUE(hostWrites().empty()) << bad;
            EXPECT_EQ(c.get(), before) << bad;
        }
        for (int good : c.good) {
            EXPECT_EQ(c.set(good), 100) << good;
            EXPECT_EQ(c.get(), good);
        }
    }
    EXPECT_EQ(dev(1, 3).reg(5), 255);
    EXPECT_EQ(dev(1, 3).reg(16), 2);
}

TEST_F(ServoRecordTest, SettlingWaitOnlyBelowAddress24) {
    ServoRecord& r = startOne();
    std::int64_t before = clock.nowUs();
    ASSERT_EQ(r.setHighestLimitTemperature(75), 100);
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
    start({simSpec(1, 3, 12, 30, 2, {{8, 0}, {14, 500}, {12, 50}, {11, 80}, {13, 160}})});
    DeviceEntry& entry = registerDevice(1, 3);
    ASSERT_EQ(entry.resetToDefaults(), 100);
    EXPECT_EQ(writes(), (std::vector<Bytes>{bytes({6, 0, 0, 0xFF, 0x03}), bytes({14, 0xFF, 0x03}),
                                            bytes({17, 36}), bytes({18, 36}), bytes({11, 70}),
                                            bytes({13, 140}), bytes({12, 60})}));
    ServoRecord& r = record(entry);
    EXPECT_EQ(r.wheelMode(), 0);
    EXPECT_EQ(r.highestLimitTemperature(), 70);
    // Matching values are not written again; the alarms are.
    sim->clearTraffic();
    ASSERT_EQ(entry.resetToDefaults(), 100);
    EXPECT_EQ(writes().size(), 2u);
}

TEST_F(ServoRecordTest, ResetToDefaultsByModelGroup) {
    start({simSpec(1, 4, 28, 30, 2, {{11, 90}, {13, 200}}), simSpec(1, 5, 64, 30, 2, {{13, 200}}),
           simSpec(1, 6, 106, 30, 2, {{8, 0}, {14, 600}, {17, 4}, {18, 4}, {12, 70}})});
    for (int id : {4, 5, 6}) {
        ASSERT_EQ(registerDevice(1, id).resetToDefaults(), 100) << id;
    }
    EXPECT_EQ(dev(1, 4).reg(11), 80);
    EXPECT_EQ(dev(1, 4).reg(13), 190);
    EXPECT_EQ(dev(1, 5).reg(13), 240);
    EXPECT_EQ(dev(1, 5).reg(12), 60);
    // The wide model goes back to joint mode over its whole range.
    SimulatedDevice& wide = dev(1, 6);
    EXPECT_EQ(wide.reg16(8), 4095);
    EXPECT_EQ(wide.reg16(14), 1023);
    EXPECT_EQ(wide.reg(17), 36);
    EXPECT_EQ(wide.reg(18), 36);
    EXPECT_EQ(wide.reg(11), 80);
    EXPECT_EQ(wide.reg(13), 240);
    EXPECT_EQ(wide.reg(12), 60);
}

TEST_F(ServoRecordTest, ResetStopsAtFirstFailure) {
    start({simSpec(1, 3, 12, 30, 2, {{14, 500}})});
    DeviceEntry& entry = registerDevice(1, 3);
    dev(1, 3).setFaults({.dropReply = true});
    EXPECT_EQ(entry.resetToDefaults(), 103);
    EXPECT_EQ(writes().size(), 1u);  // max torque, then stop
    EXPECT_EQ(entry.servoRecord()->maxTorque(), 500);
}

TEST_F(ServoRecordTest, StateLoadLeavesGoalErrorBits) {
    ServoRecord& r = startOne();
    SimulatedDevice& d = dev(1, 3);
    d.setFaults({.errorBits = AngleLimitError | OverloadError | RangeError});
    ASSERT_EQ(r.setGoalPosition(700), 100);
    EXPECT_EQ(r.errorBits(), AngleLimitError | OverloadError);  // only the goal's two bits
    d.setFaults({.errorBits = InputVoltageError});
    ASSERT_EQ(r.load(LoadState), 100);
    EXPECT_EQ(r.errorBits(), AngleLimitError | OverloadError | InputVoltageError);
    d.setFaults({});
    ASSERT_EQ(r.load(LoadLimits), 100);
    EXPECT_EQ(r.errorBits(), AngleLimitError | OverloadError);
    EXPECT_EQ(r.errorFlags(), (AlarmFlags{false, true, false, false, false, true, false}));
    ASSERT_EQ(r.setGoalPosition(710), 100);
    EXPECT_EQ(r.errorBits(), 0);
}

TEST_F(ServoRecordTest, FailedReadLeavesEveryField) {
    ServoRecord& r = startOne();
    SimulatedDevice& d = dev(1, 3);
    d.setReg16(36, 77);
    d.setReg(11, 99);
    d.setFaults({.corruptChecksum = true, .errorBits = InputVoltageError});
    EXPECT_EQ(r.load(LoadAll), 104);
    EXPECT_EQ(r.presentPosition(), 512);
    EXPECT_EQ(r.highestLimitTemperature(), 70);
    EXPECT_EQ(r.errorBits(), 0);
    d.setFaults({.dropReply = true});
    EXPECT_EQ(r.load(LoadState), 103);
    EXPECT_EQ(r.presentPosition(), 512);
    EXPECT_EQ(r.errorBits(), 0);
}

TEST_F(ServoRecordTest, RecordRuleByReturnLevel) {
    start({simSpec(1, 3, 12, 30, 1), simSpec(1, 4, 12)});
    ServoRecord& q = record(registerDevice(1, 3));
    ServoRecord& l = record(registerDevice(1, 4));
    // Level 1: no reply to writes, which counts as success.
    EXPECT_EQ(q.setPunch(40), 100);
    EXPECT_EQ(q.punch(), 40);
    EXPECT_EQ(dev(1, 3).reg16(48), 40);
    // Level 2: silence is a failure; the field stays and the same call writes again.
    dev(1, 4).setFaults({.dropReply = true});
    EXPECT_EQ(l.setPunch(40), 103);
    EXPECT_EQ(l.punch(), 32);
    dev(1, 4).setFaults({});
    EXPECT_EQ(l.setPunch(40), 100);
    EXPECT_EQ(l.punch(), 40);
    // A corrupt reply fails.
    dev(1, 4).setFaults({.corruptChecksum = true});
    EXPECT_EQ(l.setTorqueLimit(5), 104);
    EXPECT_EQ(l.torqueLimit(), 1023);
}

TEST_F(ServoRecordTest, GoalPositionNeedsARealReply) {
    ServoRecord& r = startOne({}, 12, 1);
    EXPECT_EQ(r.setGoalPosition(100), 103);
    EXPECT_EQ(r.goalPosition(), 512);
    EXPECT_EQ(dev(1, 3).reg16(30), 100);  // the device took it all the same
    EXPECT_EQ(r.torqueEnable(), 0);
}

TEST_F(ServoRecordTest, NoAdapterIsAdapterFailure) {
    ServoRecord& r = startOne();
    registry->bus().close();
    EXPECT_EQ(r.setPunch(1), 101);
    EXPECT_EQ(r.load(LoadAll), 101);
    EXPECT_EQ(r.punch(), 32);
}

}  // namespace
}  // namespace mvx::test
