// The registers that `set` changes by name: their value syntax, their ranges, and how each
// reaches the device (a servo record setter, or the entry and registry for the network
// settings).
#pragma once

#include <string>
#include <vector>

namespace mvx {

class DeviceEntry;
class DeviceRegistry;

enum class Setting {
    TorqueEnable,
    Led,
    CwComplianceMargin,
    CcwComplianceMargin,
    CwComplianceSlope,
    CcwComplianceSlope,
    GoalPosition,
    MovingSpeed,
    TorqueLimit,
    Punch,
    CwAngleLimit,
    CcwAngleLimit,
    MaxTorque,
    TemperatureLimit,
    MinVoltage,
    MaxVoltage,
    WheelMode,
    AlarmLed,
    AlarmShutdown,
    Id,
    Baud,
    ReturnDelay,
    ReturnLevel,
};

enum class ValueKind {
    Number,  // a decimal integer
    Switch,  // on/off, 1/0, true/false
    Volts,   // volts with at most one decimal ("14", "6.5"), kept in units of 0.1 V
    Flags,   // comma-separated alarm flag names, "none", or the register byte 0-127
};

struct NamedRegister {
    const char* name;
    Setting setting;
    ValueKind kind;
    int min;  // raw range (units of 0.1 V for voltages)
    int max;
    // Positions: also at most the device's max position (1023, or 4095 for model 106).
    bool positionLimited;
    // Kept by the device entry (ID, baud rate, return delay, return level); the others need
    // the actuator's servo record.
    bool network;
    const char* help;
};

const std::vector<NamedRegister>& namedRegisters();
// Null for an unknown name.
const NamedRegister* findNamedRegister(const std::string& name);

// The raw value of `text` for `reg`, checked against the register's range. False with
// `error` set.
bool parseRegisterValue(const NamedRegister& reg, const std::string& text, int& value,
                        std::string& error);

// "14.0": tenths of a volt as volts with one decimal.
std::string voltsText(int tenths);

// Alarm and error flags: names in bit order 6 down to 0.
extern const char* const kFlagNames[7];
// "overload,overheating", or "none".
std::string flagText(int bits);
// Flag names of the set bits.
std::vector<std::string> flagNames(int bits);

// Writes `value` (already parsed and range-checked) to the device of `entry`. Returns a
// result code; checks that need the device (a servo record, the max position, a free
// address) refuse with a result of 0 and `refusal` set, before anything is written.
int applyNamedRegister(const NamedRegister& reg, int value, DeviceRegistry& registry,
                       DeviceEntry& entry, std::string& refusal);

}  // namespace mvx
