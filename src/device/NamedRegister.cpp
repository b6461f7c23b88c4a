#include "device/NamedRegister.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <sstream>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "device/ServoRecord.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

const char* const kFlagNames[7] = {"instruction", "overload",    "checksum",     "range",
                                   "overheating", "angle-limit", "input-voltage"};

namespace {

constexpr int kAnyPosition = 4095;  // largest max position of any model

const std::vector<NamedRegister> kRegisters = {
    {"torque-enable", Setting::TorqueEnable, ValueKind::Switch, 0, 1, false, false,
     "torque on/off"},
    {"led", Setting::Led, ValueKind::Switch, 0, 1, false, false, "LED on/off"},
    {"cw-compliance-margin", Setting::CwComplianceMargin, ValueKind::Number, 0, 255, false, false,
     "0-255"},
    {"ccw-compliance-margin", Setting::CcwComplianceMargin, ValueKind::Number, 0, 255, false, false,
     "0-255"},
    {"cw-compliance-slope", Setting::CwComplianceSlope, ValueKind::Number, 0, 255, false, false,
     "0-255"},
    {"ccw-compliance-slope", Setting::CcwComplianceSlope, ValueKind::Number, 0, 255, false, false,
     "0-255"},
    {"goal-position", Setting::GoalPosition, ValueKind::Number, 0, kAnyPosition, true, false,
     "0 to the max position (1023, or 4095)"},
    {"moving-speed", Setting::MovingSpeed, ValueKind::Number, -1023, 1023, false, false,
     "-1023 to 1023; negative turns the other way"},
    {"torque-limit", Setting::TorqueLimit, ValueKind::Number, 0, 1023, false, false, "0-1023"},
    {"punch", Setting::Punch, ValueKind::Number, 0, 1023, false, false, "0-1023"},
    {"cw-angle-limit", Setting::CwAngleLimit, ValueKind::Number, 0, kAnyPosition, true, false,
     "0 to the max position"},
    {"ccw-angle-limit", Setting::CcwAngleLimit, ValueKind::Number, 0, kAnyPosition, true, false,
     "0 to the max position"},
    {"max-torque", Setting::MaxTorque, ValueKind::Number, 0, 1023, false, false, "0-1023"},
    {"temperature-limit", Setting::TemperatureLimit, ValueKind::Number, 0, 150, false, false,
     "degrees Celsius, 0-150"},
    {"min-voltage", Setting::MinVoltage, ValueKind::Volts, 50, 250, false, false,
     "volts, 5.0-25.0"},
    {"max-voltage", Setting::MaxVoltage, ValueKind::Volts, 50, 250, false, false,
     "volts, 5.0-25.0"},
    {"wheel-mode", Setting::WheelMode, ValueKind::Switch, 0, 1, false, false,
     "on: endless turn (both angle limits 0); off: joint mode"},
    {"alarm-led", Setting::AlarmLed, ValueKind::Flags, 0, 127, false, false,
     "flag list, e.g. overload,overheating, or none"},
    {"alarm-shutdown", Setting::AlarmShutdown, ValueKind::Flags, 0, 127, false, false,
     "flag list, e.g. overload,overheating, or none"},
    {"id", Setting::Id, ValueKind::Number, 0, 253, false, true, "new ID, 0-253"},
    {"baud", Setting::Baud, ValueKind::Number, 0, 255, false, true, "new baud-rate code, 0-255"},
    {"return-delay", Setting::ReturnDelay, ValueKind::Number, 0, 255, false, true,
     "units of 2 us, 0-255"},
    {"return-level", Setting::ReturnLevel, ValueKind::Number, 0, 2, false, true,
     "0 ping only, 1 reads, 2 all"},
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A whole decimal integer with an optional sign.
bool parseInteger(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    std::size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (start == text.size()) {
        return false;
    }
    for (std::size_t i = start; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    value = std::stoi(text);
    return true;
}

bool parseSwitch(const std::string& text, int& value) {
    const std::string t = lower(text);
    if (t == "on" || t == "1" || t == "true" || t == "yes") {
        value = 1;
        return true;
    }
    if (t == "off" || t == "0" || t == "false" || t == "no") {
        value = 0;
        return true;
    }
    return false;
}

// Volts with at most one decimal, to tenths. A whole part whose tenths would not fit an int
// is refused (nine digits would wrap around, and "429496735" came out as 5.4 V).
bool parseVolts(const std::string& text, int& tenths) {
    constexpr int kMaxWholeVolts = (std::numeric_limits<int>::max() - 9) / 10;
    const auto dot = text.find('.');
    int whole = 0;
    if (!parseInteger(text.substr(0, dot), whole) || text[0] == '-' || text[0] == '+' ||
        whole > kMaxWholeVolts) {
        return false;
    }
    int fraction = 0;
    if (dot != std::string::npos) {
        const std::string rest = text.substr(dot + 1);
        if (rest.size() != 1 || !std::isdigit(static_cast<unsigned char>(rest[0]))) {
            return false;
        }
        fraction = rest[0] - '0';
    }
    tenths = whole * 10 + fraction;
    return true;
}

bool parseFlags(const std::string& text, int& bits, std::string& error) {
    if (parseInteger(text, bits)) {
        return true;
    }
    bits = 0;
    if (lower(text) == "none") {
        return true;
    }
    std::stringstream list(text);
    std::string name;
    while (std::getline(list, name, ',')) {
        const std::string wanted = lower(name);
        int bit = -1;
        for (int i = 0; i < 7; ++i) {
            if (wanted == kFlagNames[i]) {
                bit = 6 - i;
            }
        }
        if (bit < 0) {
            error = "unknown alarm flag \"" + name + "\" (flags: " + flagText(127) + ", or none)";
            return false;
        }
        bits |= 1 << bit;
    }
    if (text.empty() || text.back() == ',') {
        error = "empty alarm flag in \"" + text + "\"";
        return false;
    }
    return true;
}

// True when a device answers at (code, id).
bool answersAt(DeviceRegistry& registry, int code, int id, int& result) {
    result = registry.bus().tune(static_cast<std::uint8_t>(code));
    if (result != Success) {
        return false;
    }
    auto link = registry.bus().link();
    if (!link) {
        result = AdapterFailure;
        return false;
    }
    result = ping(*link, static_cast<std::uint8_t>(id));
    return result == Success;
}

}  // namespace

std::string voltsText(int tenths) {
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

const std::vector<NamedRegister>& namedRegisters() {
    return kRegisters;
}

const NamedRegister* findNamedRegister(const std::string& name) {
    for (const auto& reg : kRegisters) {
        if (name == reg.name) {
            return &reg;
        }
    }
    return nullptr;
}

std::vector<std::string> flagNames(int bits) {
    std::vector<std::string> names;
    for (int i = 0; i < 7; ++i) {
        if (bits & (1 << (6 - i))) {
            names.emplace_back(kFlagNames[i]);
        }
    }
    return names;
}

std::string flagText(int bits) {
    const auto names = flagNames(bits);
    if (names.empty()) {
        return "none";
    }
    std::string text;
    for (const auto& name : names) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text;
}

bool parseRegisterValue(const NamedRegister& reg, const std::string& text, int& value,
                        std::string& error) {
    bool ok = false;
    switch (reg.kind) {
        case ValueKind::Number:
            ok = parseInteger(text, value);
            if (!ok) {
                error = std::string(reg.name) + ": \"" + text + "\" is not a whole number";
            }
            break;
        case ValueKind::Switch:
            ok = parseSwitch(text, value);
            if (!ok) {
                error = std::string(reg.name) + ": \"" + text + "\" is not on or off";
            }
            break;
        case ValueKind::Volts:
            ok = parseVolts(text, value);
            if (!ok) {
                error = std::string(reg.name) + ": \"" + text +
                        "\" is not a voltage in volts with at most one decimal";
            }
            break;
        case ValueKind::Flags:
            ok = parseFlags(text, value, error);
            if (!ok) {
                error = std::string(reg.name) + ": " + error;
            }
            break;
    }
    if (!ok) {
        return false;
    }
    if (value < reg.min || value > reg.max) {
        if (reg.kind == ValueKind::Volts) {
            error = std::string(reg.name) + ": " + voltsText(value) + " V is out of range (" +
                    voltsText(reg.min) + "-" + voltsText(reg.max) + " V)";
        } else {
            error = std::string(reg.name) + ": " + text + " is out of range (" +
                    std::to_string(reg.min) + "-" + std::to_string(reg.max) + ")";
        }
        return false;
    }
    return true;
}

int applyNamedRegister(const NamedRegister& reg, int value, DeviceRegistry& registry,
                       DeviceEntry& entry, std::string& refusal) {
    const int code = entry.baudCode();
    const int id = entry.id();
    if (reg.network) {
        switch (reg.setting) {
            case Setting::Id:
            case Setting::Baud: {
                const int newId = reg.setting == Setting::Id ? value : id;
                const int newCode = reg.setting == Setting::Baud ? value : code;
                if (newId == id && newCode == code) {
                    return Success;
                }
                // The registry only knows this one device, so ask the bus whether an address
                // the device passes through is taken: two devices on one address could no
                // longer be told apart.
                int result = Success;
                for (const auto& [wayCode, wayId] :
                     DeviceRegistry::addressesOnTheWay(code, id, newCode, newId)) {
                    if (answersAt(registry, wayCode, wayId, result)) {
                        refusal = "another device answers at ID " + std::to_string(wayId) +
                                  ", code " + std::to_string(wayCode) + "; nothing was changed";
                        return 0;
                    }
                    if (result == AdapterFailure) {
                        return result;
                    }
                }
                result = registry.changeAddress(code, id, newCode, newId);
                if (result != Success) {
                    return result;
                }
                // The address change reports a failed write itself; the entry shows in any
                // case whether the device really moved.
                if (entry.id() != newId || entry.baudCode() != newCode) {
                    return Timeout;
                }
                return Success;
            }
            case Setting::ReturnDelay:
                return entry.setReturnDelay(value);
            case Setting::ReturnLevel:
                return entry.setReturnLevel(value);
            default:
                break;
        }
    }
    ServoRecord* record = entry.servoRecord();
    if (record == nullptr) {
        refusal = std::string("the device has no servo registers (") +
                  classText(entry.modelClass()) + " " + displayName(entry.modelNumber()) +
                  ", return level " + std::to_string(entry.returnLevel()) + ")";
        return 0;
    }
    if (reg.positionLimited && value > record->maxPosition()) {
        refusal = std::string(reg.name) + ": " + std::to_string(value) +
                  " is above the max position of this model (" +
                  std::to_string(record->maxPosition()) + ")";
        return 0;
    }
    switch (reg.setting) {
        case Setting::TorqueEnable:
            return record->setTorqueEnable(value);
        case Setting::Led:
            return record->setLed(value);
        case Setting::CwComplianceMargin:
            return record->setCwComplianceMargin(value);
        case Setting::CcwComplianceMargin:
            return record->setCcwComplianceMargin(value);
        case Setting::CwComplianceSlope:
            return record->setCwComplianceSlope(value);
        case Setting::CcwComplianceSlope:
            return record->setCcwComplianceSlope(value);
        case Setting::GoalPosition:
            return record->setGoalPosition(value);
        case Setting::MovingSpeed:
            return record->setMovingSpeed(value);
        case Setting::TorqueLimit:
            return record->setTorqueLimit(value);
        case Setting::Punch:
            return record->setPunch(value);
        case Setting::CwAngleLimit:
            return record->setCwAngleLimit(value);
        case Setting::CcwAngleLimit:
            return record->setCcwAngleLimit(value);
        case Setting::MaxTorque:
            return record->setMaxTorque(value);
        case Setting::TemperatureLimit:
            return record->setHighestLimitTemperature(value);
        case Setting::MinVoltage:
            return record->setLowestLimitVoltage(value);
        case Setting::MaxVoltage:
            return record->setHighestLimitVoltage(value);
        case Setting::WheelMode:
            return record->setOperatingMode(value);
        case Setting::AlarmLed:
            return record->setAlarmLed(byteToFlags(value));
        case Setting::AlarmShutdown:
            return record->setAlarmShutdown(byteToFlags(value));
        default:
            break;
    }
    refusal = std::string(reg.name) + " cannot be set";
    return 0;
}

}  // namespace mvx
