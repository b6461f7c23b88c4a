#include "device/ServoRecord.h"

#include "device/DeviceEntry.h"
#include "protocol/BusConnection.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

namespace {

constexpr int kMaxPositionWide = 4095;
constexpr int kMaxPositionNarrow = 1023;
constexpr int kWideModel = 106;
constexpr int kByteMax = 255;
constexpr int kWordMax = 1023;  // max torque, torque limit, punch, speed magnitude

// Error bits a load refreshes, and the two only a goal-position write reports.
constexpr int kLoadErrorMask =
    InputVoltageError | OverheatingError | RangeError | ChecksumError | InstructionError;
constexpr int kGoalErrorMask = AngleLimitError | OverloadError;

struct RegisterBlock {
    std::uint8_t address;
    std::uint8_t length;
};

RegisterBlock blockOf(int kind) {
    switch (kind) {
        case LoadLimits:
            return {RegCwAngleLimit, 13};
        case LoadState:
            return {RegTorqueEnable, 26};
        default:
            return {RegCwAngleLimit, 44};
    }
}

std::uint8_t lowByte(int value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}
std::uint8_t highByte(int value) {
    return static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
int isOne(int value) {
    return value == 1 ? 1 : 0;
}
bool inRange(int value, int low, int high) {
    return value >= low && value <= high;
}

}  // namespace

int decodeDirection(int raw) {
    return raw > 1023 ? -(raw & 1023) : raw;
}

std::uint16_t encodeDirection(int value) {
    return static_cast<std::uint16_t>(value < 0 ? 1024 - value : value);
}

std::uint8_t flagsToByte(int instruction, int overload, int checksum, int range, int overheating,
                         int angleLimit, int inputVoltage) {
    return static_cast<std::uint8_t>(
        isOne(instruction) << 6 | isOne(overload) << 5 | isOne(checksum) << 4 | isOne(range) << 3 |
        isOne(overheating) << 2 | isOne(angleLimit) << 1 | isOne(inputVoltage));
}

AlarmFlags byteToFlags(int bits) {
    AlarmFlags flags{};
    for (int i = 0; i < 7; ++i) {
        flags[i] = (bits & (1 << (6 - i))) != 0;
    }
    return flags;
}

ServoRecord::ServoRecord(DeviceEntry& owner) : owner_(owner) {}

int ServoRecord::build() {
    image_.errorBits = 0;
    image_.maxPosition = owner_.modelNumber() == kWideModel ? kMaxPositionWide : kMaxPositionNarrow;
    return load(LoadAll);
}

int ServoRecord::load(int kind) {
    std::shared_ptr<AdapterLink> link;
    int result = owner_.tuneLink(link);
    if (result != Success) {
        return result;
    }
    const RegisterBlock block = blockOf(kind);
    const auto request = InstructionPacket::make(static_cast<std::uint8_t>(owner_.id()), Read,
                                                 {block.address, block.length});
    StatusPacket reply;
    result = transact(*link, request, reply);
    if (result != Success) {
        return result;
    }
    if (reply.parameterCount < block.length) {
        return CorruptReply;  // the transaction only hands back matching lengths
    }
    // Register r sits at data[r - block.address].
    const std::uint8_t* data = reply.parameters.data();
    auto byteAt = [&](int reg) -> int { return data[reg - block.address]; };
    auto wordAt = [&](int reg) -> int { return byteAt(reg) | byteAt(reg + 1) << 8; };

    if (kind != LoadState) {
        image_.cwAngleLimit = wordAt(RegCwAngleLimit);
        image_.ccwAngleLimit = wordAt(RegCcwAngleLimit);
        image_.wheelMode = (image_.cwAngleLimit == 0 && image_.ccwAngleLimit == 0) ? 1 : 0;
        image_.highestLimitTemperature = byteAt(RegHighestLimitTemperature);
        image_.lowestLimitVoltage = byteAt(RegLowestLimitVoltage);
        image_.highestLimitVoltage = byteAt(RegHighestLimitVoltage);
        image_.maxTorque = wordAt(RegMaxTorque);
        image_.alarmLed = byteAt(RegAlarmLed);
        image_.alarmShutdown = byteAt(RegAlarmShutdown);
    }
    if (kind != LoadLimits) {
        image_.torqueEnable = isOne(byteAt(RegTorqueEnable));
        image_.led = isOne(byteAt(RegLed));
        image_.cwComplianceMargin = byteAt(RegCwComplianceMargin);
        image_.ccwComplianceMargin = byteAt(RegCcwComplianceMargin);
        image_.cwComplianceSlope = byteAt(RegCwComplianceSlope);
        image_.ccwComplianceSlope = byteAt(RegCcwComplianceSlope);
        image_.punch = wordAt(RegPunch);
        image_.movingSpeed = decodeDirection(wordAt(RegMovingSpeed));
        image_.goalPosition = wordAt(RegGoalPosition);
        image_.torqueLimit = wordAt(RegTorqueLimit);
        image_.presentPosition = wordAt(RegPresentPosition);
        image_.presentSpeed = decodeDirection(wordAt(RegPresentSpeed));
        image_.presentLoad = decodeDirection(wordAt(RegPresentLoad));
        image_.presentVoltage = byteAt(RegPresentVoltage);
        image_.presentTemperature = byteAt(RegPresentTemperature);
        image_.registeredInstruction = isOne(byteAt(RegRegisteredInstruction));
        image_.moving = isOne(byteAt(RegMoving));
        image_.lock = isOne(byteAt(RegLock));
    }
    image_.errorBits = (image_.errorBits & ~kLoadErrorMask) | (reply.error & kLoadErrorMask);
    return Success;
}

void ServoRecord::settle() {
    owner_.bus().clock().sleepMs(kSettlingWaitMs);
}

int ServoRecord::writeRegister(std::uint8_t address, int value, bool word) {
    std::shared_ptr<AdapterLink> link;
    int result = owner_.tuneLink(link);
    if (result != Success) {
        return result;
    }
    const auto id = static_cast<std::uint8_t>(owner_.id());
    result = word ? writeWord(*link, id, address, static_cast<std::uint16_t>(value & 0xFFFF))
                  : writeByte(*link, id, address, lowByte(value));
    result = judgeByRecordRule(result, owner_.returnLevel());
    if (result != Success) {
        return result;
    }
    if (address < kSettlingAddressLimit) {
        settle();
    }
    return Success;
}

int ServoRecord::setByte(int& field, std::uint8_t address, int value) {
    if (!inRange(value, 0, kByteMax)) {
        return Busy;  // refused: the register would receive a truncated value
    }
    if (value == field) {
        return Success;
    }
    const int result = writeRegister(address, value, false);
    if (result == Success) {
        field = value;
    }
    return result;
}

int ServoRecord::setWord(int& field, std::uint8_t address, int value, int high) {
    if (!inRange(value, 0, high)) {
        return Busy;  // refused: out of the register's range, nothing written
    }
    if (value == field) {
        return Success;
    }
    const int result = writeRegister(address, value, true);
    if (result == Success) {
        field = value;
    }
    return result;
}

int ServoRecord::setAngleLimit(int& field, std::uint8_t address, int value) {
    const int result = setWord(field, address, value, image_.maxPosition);
    if (result == Success) {
        image_.wheelMode = (image_.cwAngleLimit == 0 && image_.ccwAngleLimit == 0) ? 1 : 0;
    }
    return result;
}

int ServoRecord::writeAlarm(int& field, std::uint8_t address, std::uint8_t bits) {
    // No comparison: the alarm bytes are always written.
    const int result = writeRegister(address, bits, false);
    if (result == Success) {
        field = bits;
    }
    return result;
}

int ServoRecord::setHighestLimitTemperature(int value) {
    return setByte(image_.highestLimitTemperature, RegHighestLimitTemperature, value);
}

int ServoRecord::setHighestLimitVoltage(int value) {
    return setByte(image_.highestLimitVoltage, RegHighestLimitVoltage, value);
}

int ServoRecord::setLowestLimitVoltage(int value) {
    return setByte(image_.lowestLimitVoltage, RegLowestLimitVoltage, value);
}

int ServoRecord::setOperatingMode(int wheel) {
    const int wanted = wheel != 0 ? 1 : 0;
    if (wanted == image_.wheelMode) {
        return Success;
    }
    std::shared_ptr<AdapterLink> link;
    int result = owner_.tuneLink(link);
    if (result != Success) {
        return result;
    }
    // Both limits in one write: CW 0, then CCW 0 (wheel) or the top of the range (joint).
    const int ccw = wanted == 1 ? 0 : image_.maxPosition;
    const auto request =
        InstructionPacket::make(static_cast<std::uint8_t>(owner_.id()), Write,
                                {RegCwAngleLimit, 0, 0, lowByte(ccw), highByte(ccw)});
    StatusPacket reply;
    result = judgeByRecordRule(transact(*link, request, reply), owner_.returnLevel());
    if (result != Success) {
        return result;
    }
    settle();
    image_.wheelMode = wanted;
    image_.cwAngleLimit = 0;
    image_.ccwAngleLimit = ccw;
    return Success;
}

int ServoRecord::setCwAngleLimit(int value) {
    return setAngleLimit(image_.cwAngleLimit, RegCwAngleLimit, value);
}

int ServoRecord::setCcwAngleLimit(int value) {
    return setAngleLimit(image_.ccwAngleLimit, RegCcwAngleLimit, value);
}

int ServoRecord::setMaxTorque(int value) {
    return setWord(image_.maxTorque, RegMaxTorque, value, kWordMax);
}

int ServoRecord::setAlarmLed(int instruction, int overload, int checksum, int range,
                             int overheating, int angleLimit, int inputVoltage) {
    return writeAlarm(
        image_.alarmLed, RegAlarmLed,
        flagsToByte(instruction, overload, checksum, range, overheating, angleLimit, inputVoltage));
}

int ServoRecord::setAlarmLed(const AlarmFlags& f) {
    return setAlarmLed(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

int ServoRecord::setAlarmShutdown(int instruction, int overload, int checksum, int range,
                                  int overheating, int angleLimit, int inputVoltage) {
    return writeAlarm(
        image_.alarmShutdown, RegAlarmShutdown,
        flagsToByte(instruction, overload, checksum, range, overheating, angleLimit, inputVoltage));
}

int ServoRecord::setAlarmShutdown(const AlarmFlags& f) {
    return setAlarmShutdown(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
}

int ServoRecord::setTorqueEnable(int value) {
    // Only exactly 1 switches on; the image keeps what the device got, 0 or 1.
    return setByte(image_.torqueEnable, RegTorqueEnable, isOne(value));
}

int ServoRecord::setLed(int value) {
    return setByte(image_.led, RegLed, isOne(value));
}

int ServoRecord::setCwComplianceMargin(int value) {
    return setByte(image_.cwComplianceMargin, RegCwComplianceMargin, value);
}

int ServoRecord::setCcwComplianceMargin(int value) {
    return setByte(image_.ccwComplianceMargin, RegCcwComplianceMargin, value);
}

int ServoRecord::setCwComplianceSlope(int value) {
    return setByte(image_.cwComplianceSlope, RegCwComplianceSlope, value);
}

int ServoRecord::setCcwComplianceSlope(int value) {
    return setByte(image_.ccwComplianceSlope, RegCcwComplianceSlope, value);
}

int ServoRecord::setPunch(int value) {
    return setWord(image_.punch, RegPunch, value, kWordMax);
}

int ServoRecord::setMovingSpeed(int value) {
    if (!inRange(value, -kWordMax, kWordMax)) {
        return Busy;  // refused: beyond the speed range in either direction
    }
    if (value == image_.movingSpeed) {
        return Success;
    }
    const int result = writeRegister(RegMovingSpeed, encodeDirection(value), true);
    if (result == Success) {
        image_.movingSpeed = value;
        image_.torqueEnable = 1;  // the device switches its torque on with a speed command
    }
    return result;
}

int ServoRecord::setGoalPosition(int value) {
    if (!inRange(value, 0, image_.maxPosition)) {
        return Busy;  // refused: beyond this model's position range
    }
    if (value == image_.goalPosition) {
        return Success;
    }
    std::shared_ptr<AdapterLink> link;
    int result = owner_.tuneLink(link);
    if (result != Success) {
        return result;
    }
    const auto request =
        InstructionPacket::make(static_cast<std::uint8_t>(owner_.id()), Write,
                                {RegGoalPosition, lowByte(value), highByte(value)});
    StatusPacket reply;
    result = transact(*link, request, reply);
    // Only a real reply counts here: its error byte reports angle-limit and overload errors.
    if (result != Success) {
        return result;
    }
    image_.errorBits = (image_.errorBits & ~kGoalErrorMask) | (reply.error & kGoalErrorMask);
    image_.goalPosition = value;
    image_.torqueEnable = 1;
    return Success;
}

int ServoRecord::setTorqueLimit(int value) {
    return setWord(image_.torqueLimit, RegTorqueLimit, value, kWordMax);
}

int ServoRecord::resetToDefaults() {
    constexpr int kOverloadAndOverheating = OverloadError | OverheatingError;  // 36
    const AlarmFlags alarms = byteToFlags(kOverloadAndOverheating);
    int result = setOperatingMode(0);
    if (result == Success) {
        result = setMaxTorque(1023);
    }
    if (result == Success) {
        result = setAlarmLed(alarms);
    }
    if (result == Success) {
        result = setAlarmShutdown(alarms);
    }
    if (result != Success) {
        return result;
    }

    int temperature = 0;
    int highVoltage = 0;
    int lowVoltage = 0;
    switch (owner_.modelNumber()) {
        case 6:
        case 12:
            temperature = 70, highVoltage = 140, lowVoltage = 60;
            break;
        case 10:
        case 28:
        case 113:
        case 116:
        case 117:
            temperature = 80, highVoltage = 190, lowVoltage = 60;
            break;
        case 64:
        case 106:
            temperature = 80, highVoltage = 240, lowVoltage = 60;
            break;
        default:
            return Success;  // other models keep their limits
    }
    result = setHighestLimitTemperature(temperature);
    if (result == Success) {
        result = setHighestLimitVoltage(highVoltage);
    }
    if (result == Success) {
        result = setLowestLimitVoltage(lowVoltage);
    }
    return result;
}

}  // namespace mvx
