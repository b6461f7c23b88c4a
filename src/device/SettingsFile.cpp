#include "device/SettingsFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>
#include <regex>

#include "device/ModelCatalogue.h"
#include "drivers/RegularFile.h"
#include "json/JsonInput.h"

namespace mvx {

namespace {

using Json = nlohmann::ordered_json;

const char* const kSettingNames[] = {
    "cw-angle-limit",
    "ccw-angle-limit",
    "temperature-limit",
    "min-voltage",
    "max-voltage",
    "max-torque",
    "alarm-led",
    "alarm-shutdown",
    "cw-compliance-margin",
    "ccw-compliance-margin",
    "cw-compliance-slope",
    "ccw-compliance-slope",
    "punch",
    "torque-limit",
    "return-delay",
    "return-level",
};

const char* const kSettingsKeys[] = {"format", "version", "model", "model_name", "firmware_version",
                                     "id",     "baud",    "taken", "settings",   "registers"};

// Refusals name the file and, where there is one, the key.
class Refusal {
public:
    Refusal(const std::string& fileName, std::string& error) : fileName_(fileName), error_(error) {}
    bool operator()(const std::string& key, const std::string& reason) const {
        error_ = fileName_ + ": " + (key.empty() ? "" : key + ": ") + reason;
        return false;
    }

private:
    const std::string& fileName_;
    std::string& error_;
};

std::string rangeText(const NamedRegister& reg, int high) {
    if (reg.kind == ValueKind::Volts) {
        return voltsText(reg.min) + "-" + voltsText(high) + " V";
    }
    return std::to_string(reg.min) + "-" + std::to_string(high);
}

// One setting's JSON value to its raw value, checked against the range of the file's model.
bool parseSetting(const NamedRegister& reg, const Json& value, int modelNumber, int& raw,
                  const Refusal& refuse) {
    const std::string key = std::string("settings.") + reg.name;
    const int high = reg.positionLimited ? maxPositionOf(modelNumber) : reg.max;
    switch (reg.kind) {
        case ValueKind::Volts: {
            if (!value.is_number()) {
                return refuse(key, "not a voltage (a number of volts)");
            }
            const double volts = value.get<double>();
            if (!std::isfinite(volts) || std::fabs(volts) > 1e6) {
                return refuse(key, "not a voltage (a number of volts)");
            }
            const double tenths = std::round(volts * 10.0);
            if (std::fabs(volts * 10.0 - tenths) > 1e-6) {
                return refuse(key, shownJson(value) + " has more than one decimal");
            }
            raw = static_cast<int>(tenths);
            if (raw < reg.min || raw > high) {
                return refuse(key, shownJson(value) + " V is out of range (" +
                                       rangeText(reg, high) + ") for " + displayName(modelNumber));
            }
            return true;
        }
        case ValueKind::Flags: {
            if (!value.is_array()) {
                return refuse(key, "not a list of alarm flag names");
            }
            raw = 0;
            for (const Json& name : value) {
                int bit = -1;
                for (int i = 0; i < 7 && name.is_string(); ++i) {
                    if (name.get<std::string>() == kFlagNames[i]) {
                        bit = 6 - i;
                    }
                }
                if (bit < 0) {
                    return refuse(key, "unknown alarm flag " + shownJson(name) +
                                           " (flags: " + flagText(127) + ")");
                }
                raw |= 1 << bit;
            }
            return true;
        }
        case ValueKind::Number:
        case ValueKind::Switch:
            break;
    }
    if (!value.is_number_integer()) {
        return refuse(key, "not a whole number");
    }
    if (!jsonIntegerIn(value, reg.min, high, raw)) {
        return refuse(key, shownJson(value) + " is out of range (" + rangeText(reg, high) +
                               ") for " + displayName(modelNumber));
    }
    return true;
}

Json settingJson(const NamedRegister& reg, int value) {
    switch (reg.kind) {
        case ValueKind::Volts:
            return static_cast<double>(value) / 10.0;
        case ValueKind::Flags:
            return flagNames(value);
        default:
            return value;
    }
}

}  // namespace

const SettingValue* DeviceSettings::find(Setting setting) const {
    for (const SettingValue& v : values) {
        if (v.reg != nullptr && v.reg->setting == setting) {
            return &v;
        }
    }
    return nullptr;
}

const std::vector<const NamedRegister*>& settingsRegisters() {
    static const std::vector<const NamedRegister*> kRegisters = [] {
        std::vector<const NamedRegister*> regs;
        for (const char* name : kSettingNames) {
            regs.push_back(findNamedRegister(name));
        }
        return regs;
    }();
    return kRegisters;
}

std::string settingValueText(const NamedRegister& reg, int value) {
    switch (reg.kind) {
        case ValueKind::Volts:
            return voltsText(value);
        case ValueKind::Flags:
            return flagText(value);
        default:
            return std::to_string(value);
    }
}

std::string utcTimestamp(std::int64_t secondsSinceEpoch) {
    const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string utcTimestampNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return utcTimestamp(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

std::string settingsJsonText(const DeviceSettings& s) {
    Json settings = Json::object();
    for (const SettingValue& v : s.values) {
        settings[v.reg->name] = settingJson(*v.reg, v.value);
    }
    Json registers = Json::array();
    for (std::uint8_t byte : s.registers) {
        registers.push_back(byte);
    }
    Json file = Json::object();
    file["format"] = kSettingsFormatName;
    file["version"] = kSettingsFormatVersion;
    file["model"] = s.modelNumber;
    file["model_name"] = s.modelName;
    file["firmware_version"] = s.firmwareVersion;
    file["id"] = s.id;
    file["baud"] = s.baudCode;
    file["taken"] = s.takenAt;
    file["settings"] = settings;
    file["registers"] = registers;
    return file.dump(2) + "\n";
}

namespace {

// Limits that cannot both hold on a device: the lower one of a pair above the upper one.
bool pairsInOrder(const DeviceSettings& s, const Refusal& refuse) {
    const struct {
        Setting low;
        Setting high;
    } kPairs[] = {{Setting::CwAngleLimit, Setting::CcwAngleLimit},
                  {Setting::MinVoltage, Setting::MaxVoltage}};
    for (const auto& pair : kPairs) {
        const SettingValue* low = s.find(pair.low);
        const SettingValue* high = s.find(pair.high);
        if (low->value > high->value) {
            const bool volts = low->reg->kind == ValueKind::Volts;
            const std::string unit = volts ? " V" : "";
            return refuse(std::string("settings.") + low->reg->name,
                          settingValueText(*low->reg, low->value) + unit + " is above " +
                              high->reg->name + " " + settingValueText(*high->reg, high->value) +
                              unit + "; the device cannot hold both");
        }
    }
    return true;
}

bool parseSettings(const std::string& text, DeviceSettings& s, const Refusal& refuse) {
    Json file;
    JsonRefusal problem;
    if (!parseJsonInput(text, file, problem)) {
        if (problem.kind == JsonRefusal::Kind::Syntax) {
            return refuse("", "not a JSON file (" + problem.reason() + ")");
        }
        return refuse(problem.key, problem.reason());
    }
    if (!file.is_object()) {
        return refuse("", "not a Movantrix settings file (no JSON object)");
    }
    if (!file.contains("format") || file["format"] != kSettingsFormatName) {
        return refuse("format", std::string("not a Movantrix settings file (format \"") +
                                    kSettingsFormatName + "\" expected)");
    }
    int version = 0;
    if (!file.contains("version") || !jsonIntegerIn(file["version"], 1, 1 << 30, version)) {
        return refuse("version", "missing or not a positive whole number");
    }
    if (version != kSettingsFormatVersion) {
        return refuse("version", "version " + std::to_string(version) +
                                     " is not supported (this program reads version " +
                                     std::to_string(kSettingsFormatVersion) + ")");
    }
    for (const auto& item : file.items()) {
        if (std::find(std::begin(kSettingsKeys), std::end(kSettingsKeys), item.key()) ==
            std::end(kSettingsKeys)) {
            return refuse(item.key(), "unknown key");
        }
    }
    for (const char* key : kSettingsKeys) {
        if (!file.contains(key)) {
            return refuse(key, "missing");
        }
    }
    if (!jsonIntegerIn(file["model"], 0, 65535, s.modelNumber)) {
        return refuse("model", "not a model number (0-65535)");
    }
    if (classify(s.modelNumber) != Actuator) {
        return refuse("model", std::to_string(s.modelNumber) + " is not an actuator model");
    }
    s.modelName = displayName(s.modelNumber);
    if (file["model_name"] != s.modelName) {
        return refuse("model_name", shownJson(file["model_name"]) + " is not the name of model " +
                                        std::to_string(s.modelNumber) + " (" + s.modelName + ")");
    }
    if (!jsonIntegerIn(file["firmware_version"], 0, 255, s.firmwareVersion)) {
        return refuse("firmware_version", "not a version (0-255)");
    }
    if (!jsonIntegerIn(file["id"], 0, 253, s.id)) {
        return refuse("id", "not an ID (0-253)");
    }
    if (!jsonIntegerIn(file["baud"], 0, 255, s.baudCode)) {
        return refuse("baud", "not a baud-rate code (0-255)");
    }
    static const std::regex kTimestamp(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)");
    if (!file["taken"].is_string() ||
        !std::regex_match(file["taken"].get<std::string>(), kTimestamp)) {
        return refuse("taken",
                      shownJson(file["taken"]) + " is not a UTC time (YYYY-MM-DDThh:mm:ssZ)");
    }
    s.takenAt = file["taken"].get<std::string>();

    const Json& settings = file["settings"];
    if (!settings.is_object()) {
        return refuse("settings", "not an object of settings by name");
    }
    for (const auto& item : settings.items()) {
        const NamedRegister* reg = findNamedRegister(item.key());
        const auto& known = settingsRegisters();
        if (reg == nullptr || std::find(known.begin(), known.end(), reg) == known.end()) {
            return refuse("settings." + item.key(), "unknown setting");
        }
    }
    s.values.clear();
    for (const NamedRegister* reg : settingsRegisters()) {
        if (!settings.contains(reg->name)) {
            return refuse(std::string("settings.") + reg->name, "missing");
        }
        int raw = 0;
        if (!parseSetting(*reg, settings[reg->name], s.modelNumber, raw, refuse)) {
            return false;
        }
        // Taken only from devices that answer reads; level 0 would leave nothing to check
        // the restore with.
        if (reg->setting == Setting::ReturnLevel && raw == 0) {
            return refuse("settings.return-level", "0 is out of range (1-2)");
        }
        s.values.push_back({reg, raw});
    }

    const Json& registers = file["registers"];
    if (!registers.is_array() || registers.size() != s.registers.size()) {
        return refuse("registers", "not a list of the " + std::to_string(kSettingsRawRegisters) +
                                       " bytes of registers 0-" +
                                       std::to_string(kSettingsRawRegisters - 1));
    }
    for (std::size_t i = 0; i < s.registers.size(); ++i) {
        int byte = 0;
        if (!jsonIntegerIn(registers[i], 0, 255, byte)) {
            return refuse("registers", "entry " + std::to_string(i) + " is not a byte (0-255)");
        }
        s.registers[i] = static_cast<std::uint8_t>(byte);
    }
    return pairsInOrder(s, refuse);
}

}  // namespace

bool parseSettingsText(const std::string& text, const std::string& fileName, DeviceSettings& s,
                       std::string& error) {
    const Refusal refuse(fileName, error);
    // Whatever the JSON library may still throw on a document it parsed is a refusal too.
    try {
        return parseSettings(text, s, refuse);
    } catch (const std::exception& e) {
        return refuse("", std::string("cannot be read (") + e.what() + ")");
    } catch (...) {
        return refuse("", "cannot be read");
    }
}

bool readSettingsFile(const std::string& path, DeviceSettings& settings, std::string& error) {
    RegularFile file = RegularFile::open(path);
    std::string text;
    if (!file.readAll(kSettingsFileMaxBytes, text)) {
        error = path + ": " +
                (file.status() == RegularFile::Status::TooLarge
                     ? "larger than 1 MB" +
                           (file.size() > kSettingsFileMaxBytes
                                ? " (" + std::to_string(file.size()) + " bytes)"
                                : std::string()) +
                           "; not a settings file"
                     : file.problem());
        return false;
    }
    return parseSettingsText(text, path, settings, error);
}

}  // namespace mvx
