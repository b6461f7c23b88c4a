// Live registers: movement toward the goal with the clock, wheel mode, error bits.
#include "SimFixture.h"

namespace mvx::test {
namespace {

class SimMotionTest : public SimFixture {
protected:
    Bytes write(std::uint8_t id, Bytes params) {
        return exchange(instructionBytes(id, 3, std::move(params)), 6);
    }
};

TEST_F(SimMotionTest, PositionFollowsTheGoalAtTheMovingSpeed) {
    SimulatedDevice& d = dev(1, 1);
    EXPECT_EQ(d.reg16(36), 512);
    EXPECT_EQ(d.reg(46), 0);
    // Speed 100 (about 11 rpm, 22.7 units per second), goal 800: torque comes on by itself.
    EXPECT_EQ(write(1, {32, 100, 0}), statusBytes(1, 0));
    EXPECT_EQ(write(1, {30, 0x20, 0x03}), statusBytes(1, 0));
    EXPECT_EQ(d.reg(24), 1);
    clock.sleepMs(1000);
    const int position = d.reg16(36);
    EXPECT_NEAR(position, 512 + 227, 3);
    EXPECT_EQ(d.reg(46), 1);
    EXPECT_EQ(d.reg16(38), 100);
    EXPECT_GT(d.reg16(40), 0);
    EXPECT_LT(d.reg16(40), 1024) << "load toward increasing positions";
    // The host sees the same through a read of the live block.
    const Bytes reply = exchange(instructionBytes(1, 2, {36, 2}), 8);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_NEAR(reply[5] | (reply[6] << 8), position, 1);
    clock.sleepMs(1000);
    EXPECT_EQ(d.reg16(36), 800);
    EXPECT_EQ(d.reg(46), 0);
    EXPECT_EQ(d.reg16(38), 0);
    EXPECT_EQ(d.reg16(40), 0);
    // Back down: present speed and load carry the direction bit.
    EXPECT_EQ(write(1, {30, 0x00, 0x03}), statusBytes(1, 0));
    clock.sleepMs(100);
    EXPECT_EQ(d.reg16(38), 1024 + 100);
    EXPECT_GE(d.reg16(40), 1024);
    EXPECT_LT(d.reg16(36), 800);
}

TEST_F(SimMotionTest, NothingMovesWithTorqueOff) {
    SimulatedDevice& d = dev(1, 1);
    EXPECT_EQ(write(1, {30, 0x20, 0x03}), statusBytes(1, 0));
    EXPECT_EQ(write(1, {24, 0}), statusBytes(1, 0));
    const int stopped = d.reg16(36);
    EXPECT_LT(stopped, 530) << "only moved during the torque-off transaction";
    clock.sleepMs(2000);
    EXPECT_EQ(d.reg16(36), stopped);
    EXPECT_EQ(d.reg(46), 0);
}

TEST_F(SimMotionTest, WheelModeTurnsAndWraps) {
    SimulatedDevice& d = dev(1, 4);
    EXPECT_EQ(write(4, {6, 0, 0, 0, 0}), statusBytes(4, 0));
    // Clockwise at speed 1023: position falls and wraps below 0.
    EXPECT_EQ(write(4, {32, 0xFF, 0x07}), statusBytes(4, 0));
    clock.sleepMs(100);
    EXPECT_EQ(d.reg16(38), 2047);
    EXPECT_EQ(d.reg(46), 1);
    const int p1 = d.reg16(36);
    EXPECT_LT(p1, 512);
    clock.sleepMs(300);
    const int p2 = d.reg16(36);
    EXPECT_GT(p2, p1) << "wrapped past 0";
    // Speed 0 stops it.
    EXPECT_EQ(write(4, {32, 0, 0}), statusBytes(4, 0));
    clock.sleepMs(100);
    EXPECT_EQ(d.reg(46), 0);
}

TEST_F(SimMotionTest, MovingSpeedZeroIsTheTopSpeed) {
    SimulatedDevice& d = dev(1, 1);
    EXPECT_EQ(write(1, {30, 0x20, 0x03}), statusBytes(1, 0));  // goal 800, moving speed 0
    clock.sleepMs(50);
    EXPECT_EQ(d.reg16(38), 1023);
    EXPECT_EQ(d.reg16(40), 40 + 1023 / 8);
    EXPECT_NEAR(d.reg16(36), 512 + 116, 6);  // 2325 units per second
}

TEST_F(SimMotionTest, TemperatureRisesSlowlyWithTheLoadAndFallsBackToAmbient) {
    SimulatedDevice& d = dev(1, 4);
    const int ambient = d.reg(43);
    EXPECT_EQ(write(4, {6, 0, 0, 0, 0}), statusBytes(4, 0));
    EXPECT_EQ(write(4, {32, 0xFF, 0x03}), statusBytes(4, 0));  // wheel mode at full load
    clock.sleepMs(10'000);
    EXPECT_LE(d.reg(43), ambient + 1) << "slow: minutes, not seconds";
    clock.sleepMs(600'000);
    const int hot = d.reg(43);
    EXPECT_GE(hot, ambient + 5);
    EXPECT_LE(hot, ambient + 7);  // 40 degrees at load 1023, the load here is 167
    EXPECT_EQ(write(4, {32, 0, 0}), statusBytes(4, 0));
    clock.sleepMs(30'000);
    EXPECT_LT(d.reg(43), hot);
    clock.sleepMs(600'000);
    EXPECT_EQ(d.reg(43), ambient);
}

TEST_F(SimMotionTest, GoalOutsideTheAngleLimitsSetsTheAngleLimitBit) {
    SimulatedDevice& d = dev(1, 3);                                          // model 106: 0-4095
    EXPECT_EQ(write(3, {8, 0x58, 0x02}), statusBytes(3, 0));                 // CCW limit 600
    EXPECT_EQ(write(3, {30, 0x84, 0x03}), statusBytes(3, AngleLimitError));  // goal 900
    EXPECT_EQ(ping(3), statusBytes(3, AngleLimitError));
    clock.sleepMs(3000);
    EXPECT_EQ(d.reg16(36), 600) << "stops at the limit";
    EXPECT_EQ(write(3, {30, 0x2C, 0x01}), statusBytes(3, 0));  // goal 300 clears it
    EXPECT_EQ(ping(3), statusBytes(3, 0));
}

TEST_F(SimMotionTest, VoltageAndTemperatureLimitsRaiseErrorBitsAndShutdown) {
    SimulatedDevice& d = dev(1, 1);
    EXPECT_GE(d.reg(42), d.reg(12));
    EXPECT_LE(d.reg(42), d.reg(13));
    EXPECT_LT(d.reg(43), d.reg(11));
    d.setReg(42, 50);  // 5.0 V, below the 6.0 V limit
    EXPECT_EQ(ping(1), statusBytes(1, InputVoltageError));
    d.setReg(42, 120);
    // Overheating is in the alarm shutdown (36): torque drops.
    EXPECT_EQ(write(1, {30, 0x20, 0x03}), statusBytes(1, 0));
    d.setReg(43, 90);
    EXPECT_EQ(ping(1), statusBytes(1, OverheatingError));
    clock.sleepMs(10);
    EXPECT_EQ(d.reg(24), 0);
}

TEST_F(SimMotionTest, SensorDoesNotMove) {
    setCode(34);
    SimulatedDevice& d = dev(34, 100);
    const int start = d.reg16(36);
    EXPECT_EQ(write(100, {30, 0x20, 0x03}), statusBytes(100, 0));
    clock.sleepMs(1000);
    EXPECT_EQ(d.reg16(36), start);
}

}  // namespace
}  // namespace mvx::test
