// The host's image of an actuator's control table: limits, alarms, compliance, goal, speed,
// torque and live state. Loads register blocks in one read, converts raw values, and offers
// one setter per writable register that writes the device and keeps the image in step.
//
// Control-table addresses used here (16-bit registers little-endian):
//   6 CW angle limit, 8 CCW angle limit, 11 highest limit temperature, 12 lowest limit
//   voltage, 13 highest limit voltage, 14 max torque, 17 alarm LED, 18 alarm shutdown,
//   24 torque enable, 25 LED, 26/27 CW/CCW compliance margin, 28/29 CW/CCW compliance slope,
//   30 goal position, 32 moving speed, 34 torque limit, 36 present position, 38 present
//   speed, 40 present load, 42 present voltage, 43 present temperature, 44 registered
//   instruction, 46 moving, 47 lock, 48 punch.
//
// A record is owned by its DeviceEntry and reaches the device through it (bus, ID, baud-rate
// code, return level, model number). Every operation returns a result code.
#pragma once

#include <array>
#include <cstdint>

namespace mvx {

class DeviceEntry;

// Seven error or alarm flags in the order instruction, overload, checksum, range,
// overheating, angle limit, input voltage (bits 6 down to 0).
using AlarmFlags = std::array<bool, 7>;

enum LoadKind : int {
    LoadLimits = 0,  // 13 bytes from address 6 (registers 6-18)
    LoadState = 1,   // 26 bytes from address 24 (registers 24-49)
    LoadAll = 2,     // 44 bytes from address 6 (registers 6-49)
};

// Control-table addresses.
enum Register : std::uint8_t {
    RegModelNumber = 0,
    RegFirmwareVersion = 2,
    RegId = 3,
    RegBaudRate = 4,
    RegReturnDelay = 5,
    RegCwAngleLimit = 6,
    RegCcwAngleLimit = 8,
    RegHighestLimitTemperature = 11,
    RegLowestLimitVoltage = 12,
    RegHighestLimitVoltage = 13,
    RegMaxTorque = 14,
    RegReturnLevel = 16,
    RegAlarmLed = 17,
    RegAlarmShutdown = 18,
    RegTorqueEnable = 24,
    RegLed = 25,
    RegCwComplianceMargin = 26,
    RegCcwComplianceMargin = 27,
    RegCwComplianceSlope = 28,
    RegCcwComplianceSlope = 29,
    RegGoalPosition = 30,
    RegMovingSpeed = 32,
    RegTorqueLimit = 34,
    RegPresentPosition = 36,
    RegPresentSpeed = 38,
    RegPresentLoad = 40,
    RegPresentVoltage = 42,
    RegPresentTemperature = 43,
    RegRegisteredInstruction = 44,
    RegMoving = 46,
    RegLock = 47,
    RegPunch = 48,
};

// Writes below this address change the configuration and are followed by a settling wait.
inline constexpr int kSettlingAddressLimit = 24;
inline constexpr int kSettlingWaitMs = 100;

// Signed registers: a raw value above 1023 means the opposite direction, -(raw & 1023).
int decodeDirection(int raw);
// Moving speed on the wire: a negative v is sent as 1024 - v.
std::uint16_t encodeDirection(int value);
// Seven flags (each counts only when exactly 1) to the register byte, bit 6 first.
std::uint8_t flagsToByte(int instruction, int overload, int checksum, int range, int overheating,
                         int angleLimit, int inputVoltage);
AlarmFlags byteToFlags(int bits);

// A value copy of a record's image: what the record last read from its device or wrote to it,
// for whoever shows it away from the bus. Raw register values; the flags decoded on request.
struct ServoImage {
    int maxPosition = 1023;
    int errorBits = 0;
    int wheelMode = 0;
    int highestLimitTemperature = 0;
    int highestLimitVoltage = 0;
    int lowestLimitVoltage = 0;
    int cwAngleLimit = 0;
    int ccwAngleLimit = 0;
    int maxTorque = 0;
    int alarmLed = 0;
    int alarmShutdown = 0;
    int torqueEnable = 0;
    int led = 0;
    int cwComplianceSlope = 0;
    int ccwComplianceSlope = 0;
    int cwComplianceMargin = 0;
    int ccwComplianceMargin = 0;
    int punch = 0;
    int movingSpeed = 0;
    int goalPosition = 0;
    int torqueLimit = 0;
    int presentPosition = 0;
    int presentSpeed = 0;
    int presentLoad = 0;
    int presentVoltage = 0;
    int presentTemperature = 0;
    int registeredInstruction = 0;
    int moving = 0;
    int lock = 0;

    // Flags as seven booleans.
    AlarmFlags alarmLedFlags() const { return byteToFlags(alarmLed); }
    AlarmFlags alarmShutdownFlags() const { return byteToFlags(alarmShutdown); }
    AlarmFlags errorFlags() const { return byteToFlags(errorBits); }
};

class ServoRecord {
public:
    explicit ServoRecord(DeviceEntry& owner);

    ServoRecord(const ServoRecord&) = delete;
    ServoRecord& operator=(const ServoRecord&) = delete;

    // Error flags 0, max position by model number, then a load of every register.
    int build();
    // Reads one block (LoadKind) and decodes it. A failed read leaves every field as it was.
    int load(int kind);

    // Setters: each compares with the image first and sends nothing when unchanged (the two
    // alarm setters always write). A value outside the register's range is refused with 105
    // before anything is sent, the image unchanged: byte registers 0-255; max torque, torque
    // limit and punch 0-1023; goal position and angle limits 0 to maxPosition(); moving speed
    // -1023 to 1023. Torque enable and LED take any value: exactly 1 is on, anything else off,
    // and the image keeps the 0 or 1 that was written.
    int setHighestLimitTemperature(int value);
    int setHighestLimitVoltage(int value);
    int setLowestLimitVoltage(int value);
    int setOperatingMode(int wheel);  // 1 wheel, 0 joint
    int setCwAngleLimit(int value);
    int setCcwAngleLimit(int value);
    int setMaxTorque(int value);
    int setAlarmLed(int instruction, int overload, int checksum, int range, int overheating,
                    int angleLimit, int inputVoltage);
    int setAlarmLed(const AlarmFlags& flags);
    int setAlarmShutdown(int instruction, int overload, int checksum, int range, int overheating,
                         int angleLimit, int inputVoltage);
    int setAlarmShutdown(const AlarmFlags& flags);
    int setTorqueEnable(int value);
    int setLed(int value);
    int setCwComplianceMargin(int value);
    int setCcwComplianceMargin(int value);
    int setCwComplianceSlope(int value);
    int setCcwComplianceSlope(int value);
    int setPunch(int value);
    int setMovingSpeed(int value);   // signed: negative turns the other way
    int setGoalPosition(int value);  // only a real reply counts; updates angle-limit/overload
    int setTorqueLimit(int value);

    // Joint mode, max torque 1023, alarms 36/36, then the model group's temperature and
    // voltage limits. Stops at the first failure.
    int resetToDefaults();

    // The whole image as a value.
    const ServoImage& image() const { return image_; }
    // Flags as seven booleans (no bus traffic).
    AlarmFlags alarmLedFlags() const { return image_.alarmLedFlags(); }
    AlarmFlags alarmShutdownFlags() const { return image_.alarmShutdownFlags(); }
    AlarmFlags errorFlags() const { return image_.errorFlags(); }

    DeviceEntry& owner() const { return owner_; }
    int maxPosition() const { return image_.maxPosition; }
    int errorBits() const { return image_.errorBits; }
    int wheelMode() const { return image_.wheelMode; }
    int highestLimitTemperature() const { return image_.highestLimitTemperature; }
    int highestLimitVoltage() const { return image_.highestLimitVoltage; }
    int lowestLimitVoltage() const { return image_.lowestLimitVoltage; }
    int cwAngleLimit() const { return image_.cwAngleLimit; }
    int ccwAngleLimit() const { return image_.ccwAngleLimit; }
    int maxTorque() const { return image_.maxTorque; }
    int alarmLed() const { return image_.alarmLed; }
    int alarmShutdown() const { return image_.alarmShutdown; }
    int torqueEnable() const { return image_.torqueEnable; }
    int led() const { return image_.led; }
    int cwComplianceSlope() const { return image_.cwComplianceSlope; }
    int ccwComplianceSlope() const { return image_.ccwComplianceSlope; }
    int cwComplianceMargin() const { return image_.cwComplianceMargin; }
    int ccwComplianceMargin() const { return image_.ccwComplianceMargin; }
    int punch() const { return image_.punch; }
    int movingSpeed() const { return image_.movingSpeed; }
    int goalPosition() const { return image_.goalPosition; }
    int torqueLimit() const { return image_.torqueLimit; }
    int presentPosition() const { return image_.presentPosition; }
    int presentSpeed() const { return image_.presentSpeed; }
    int presentLoad() const { return image_.presentLoad; }
    int presentVoltage() const { return image_.presentVoltage; }
    int presentTemperature() const { return image_.presentTemperature; }
    int registeredInstruction() const { return image_.registeredInstruction; }
    int moving() const { return image_.moving; }
    int lock() const { return image_.lock; }

private:
    // Writes one register (byte or word) and judges it by the record rule; waits after
    // configuration writes. 100 or the failure.
    int writeRegister(std::uint8_t address, int value, bool word);
    // Byte setter (0-255) / word setter (0-high): check the range, compare, write, store.
    int setByte(int& field, std::uint8_t address, int value);
    int setWord(int& field, std::uint8_t address, int value, int high);
    int setAngleLimit(int& field, std::uint8_t address, int value);
    int writeAlarm(int& field, std::uint8_t address, std::uint8_t bits);
    void settle();

    DeviceEntry& owner_;
    ServoImage image_;
};

}  // namespace mvx
