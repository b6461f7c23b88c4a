// The built-in bus and the bus description file reader.
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>
#include <utility>

#include "drivers/RegularFile.h"
#include "json/JsonInput.h"
#include "sim/BusDescription.h"
#include "sim/SimulatedBus.h"

namespace mvx {

namespace {

using Json = nlohmann::ordered_json;

// The largest bus description read: far beyond any real bus, small enough to hold in memory.
constexpr std::size_t kMaxDescriptionBytes = std::size_t{16} << 20;
constexpr long long kMaxBroadcastSpacingUs = SimulatedBus::kMaxBroadcastSpacingUs;

SimDeviceSpec deviceSpec(int id, int code, int model, int version, int level = 2) {
    SimDeviceSpec s;
    s.id = static_cast<std::uint8_t>(id);
    s.code = static_cast<std::uint8_t>(code);
    s.model = static_cast<std::uint16_t>(model);
    s.version = static_cast<std::uint8_t>(version);
    s.returnLevel = static_cast<std::uint8_t>(level);
    return s;
}

// Whether `value` is an integer in [min, max], whatever its kind: one above the signed range
// is held unsigned and must not wrap around to a small number.
bool integerIn(const Json& value, long long min, long long max) {
    if (value.is_number_unsigned()) {
        const auto v = value.get<unsigned long long>();
        return max >= 0 && v <= static_cast<unsigned long long>(max) &&
               static_cast<long long>(v) >= min;
    }
    return value.is_number_integer() && value.get<long long>() >= min &&
           value.get<long long>() <= max;
}

// Reads an integer field in [min, max]; false with `error` set when it is missing (and
// required), not an integer or out of range.
bool intField(const Json& object, const char* key, int min, int max, bool required, int& out,
              const std::string& where, std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        if (required) {
            error = where + ": \"" + key + "\" is missing";
            return false;
        }
        return true;
    }
    if (!it->is_number_integer()) {
        error = where + ": \"" + key + "\" must be an integer";
        return false;
    }
    if (!integerIn(*it, min, max)) {
        error = where + ": \"" + key + "\" is " + it->dump() + ", outside " + std::to_string(min) +
                "-" + std::to_string(max);
        return false;
    }
    out = it->get<int>();
    return true;
}

// The longest schedule a description may give: a day.
constexpr double kMaxScheduleS = 86400.0;

// Reads a time in seconds (0 to a day, fractions allowed) into microseconds; false with `error`
// set when it is not a number in range. Absent: `out` stays as it is.
bool secondsField(const Json& object, const char* key, std::int64_t& out, const std::string& where,
                  std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        return true;
    }
    const double seconds = it->is_number() ? it->get<double>() : -1.0;
    if (!std::isfinite(seconds) || seconds < 0.0 || seconds > kMaxScheduleS) {
        error = where + ": \"" + key + "\" must be a number of seconds from 0 to 86400";
        return false;
    }
    out = std::llround(seconds * 1e6);
    return true;
}

// The description reader proper; the JSON library may throw from it.
bool parseUnguarded(const std::string& text, BusDescription& description, std::string& error) {
    Json root;
    JsonRefusal problem;
    if (!parseJsonInput(text, root, problem)) {
        if (problem.kind == JsonRefusal::Kind::Syntax) {
            error = "not valid JSON: " + problem.detail;
        } else {
            error = (problem.key.empty() ? "" : problem.key + ": ") + problem.reason();
        }
        return false;
    }
    if (!root.is_object()) {
        error = "the top level must be an object";
        return false;
    }
    BusDescription result;
    for (const auto& [key, value] : root.items()) {
        if (key == "adapter") {
            if (!value.is_string() || value.get<std::string>().empty()) {
                error = "\"adapter\" must be a non-empty string";
                return false;
            }
            result.adapterName = value.get<std::string>();
        } else if (key == "latencyMs") {
            if (!integerIn(value, 0, 255)) {
                error = "\"latencyMs\" must be an integer from 0 to 255";
                return false;
            }
            result.receiveLatencyUs = value.get<long long>() * 1000;
        } else if (key == "broadcastSpacingUs") {
            if (!value.is_number_integer() || value.get<long long>() < 0 ||
                value.get<long long>() > kMaxBroadcastSpacingUs) {
                error = "\"broadcastSpacingUs\" must be an integer from 0 to " +
                        std::to_string(kMaxBroadcastSpacingUs);
                return false;
            }
            result.broadcastSpacingUs = value.get<long long>();
        } else if (key != "devices") {
            error = "unknown key \"" + key + "\"";
            return false;
        }
    }
    const auto devices = root.find("devices");
    if (devices == root.end() || !devices->is_array()) {
        error = "\"devices\" must be an array";
        return false;
    }
    std::set<std::pair<int, int>> addresses;
    static const std::set<std::string> kKeys = {
        "id",          "baud",     "model",     "version",   "returnLevel",
        "returnDelay", "position", "registers", "appearAtS", "disappearAtS"};
    for (std::size_t i = 0; i < devices->size(); ++i) {
        const auto& d = (*devices)[i];
        const std::string where = "devices[" + std::to_string(i) + "]";
        if (!d.is_object()) {
            error = where + " must be an object";
            return false;
        }
        for (const auto& [key, value] : d.items()) {
            if (!kKeys.count(key)) {
                error = where + ": unknown key \"" + key + "\"";
                return false;
            }
        }
        SimDeviceSpec s;
        int id = 0, code = 0, model = 0;
        int version = s.version, level = s.returnLevel, delay = s.returnDelay, position = -1;
        if (!intField(d, "id", 0, 253, true, id, where, error) ||
            !intField(d, "baud", 0, 255, true, code, where, error) ||
            !intField(d, "model", 0, 65535, true, model, where, error) ||
            !intField(d, "version", 0, 255, false, version, where, error) ||
            !intField(d, "returnLevel", 0, 2, false, level, where, error) ||
            !intField(d, "returnDelay", 0, 255, false, delay, where, error) ||
            !intField(d, "position", 0, 4095, false, position, where, error)) {
            return false;
        }
        const auto regs = d.find("registers");
        if (regs != d.end()) {
            if (!regs->is_object()) {
                error = where + ": \"registers\" must be an object";
                return false;
            }
            for (const auto& [key, value] : regs->items()) {
                std::size_t used = 0;
                int address = -1;
                try {
                    address = std::stoi(key, &used);
                } catch (const std::exception&) {
                    used = 0;
                }
                if (used != key.size() || !((address >= 0 && address <= 49) || address == 250)) {
                    error = where + ": register address \"" + key + "\" is not 0-49 or 250";
                    return false;
                }
                if (!integerIn(value, 0, 65535)) {
                    error = where + ": register " + key + " needs an integer 0-65535";
                    return false;
                }
                s.registers[address] = value.get<int>();
            }
        }
        // An override of a register that holds a field is that field: the same range, and the
        // (baud, id) it gives is the one checked against the other devices.
        const struct {
            int address;
            const char* key;
            int min;
            int max;
            int* field;
        } fieldRegisters[] = {
            {0, "model", 0, 65535, &model},
            {2, "version", 0, 255, &version},
            {3, "id", 0, 253, &id},
            {4, "baud", 0, 255, &code},
            {5, "returnDelay", 0, 255, &delay},
            {16, "returnLevel", 0, 2, &level},
            {30, "position", 0, 4095, nullptr},
            {36, "position", 0, 4095, nullptr},
        };
        for (const auto& f : fieldRegisters) {
            const auto it = s.registers.find(f.address);
            if (it == s.registers.end()) {
                continue;
            }
            if (it->second < f.min || it->second > f.max) {
                error = where + ": register " + std::to_string(f.address) + " (\"" + f.key +
                        "\") is " + std::to_string(it->second) + ", outside " +
                        std::to_string(f.min) + "-" + std::to_string(f.max);
                return false;
            }
            if (f.field != nullptr) {
                *f.field = it->second;
            }
        }
        s.id = static_cast<std::uint8_t>(id);
        s.code = static_cast<std::uint8_t>(code);
        s.model = static_cast<std::uint16_t>(model);
        s.version = static_cast<std::uint8_t>(version);
        s.returnLevel = static_cast<std::uint8_t>(level);
        s.returnDelay = static_cast<std::uint8_t>(delay);
        s.position = position;
        if (!secondsField(d, "appearAtS", s.appearAtUs, where, error) ||
            !secondsField(d, "disappearAtS", s.disappearAtUs, where, error)) {
            return false;
        }
        if (s.disappearAtUs >= 0 && s.disappearAtUs <= s.appearAtUs) {
            error = where + ": \"disappearAtS\" must come after \"appearAtS\"";
            return false;
        }
        // Only devices there from the start must differ: one connected later may land on an
        // address in use, as a new actuator at its factory address does.
        if (s.appearAtUs == 0 && !addresses.insert({code, id}).second) {
            error = where + ": another device already has baud " + std::to_string(code) +
                    " and id " + std::to_string(id);
            return false;
        }
        result.devices.push_back(std::move(s));
    }
    description = std::move(result);
    return true;
}

}  // namespace

BusDescription SimulatedBus::defaultBus() {
    BusDescription bus;
    bus.adapterName = "Movantrix Simulated Bus";
    // Code 1 (1000000 bps): four actuators of different models, one at return level 0.
    bus.devices.push_back(deviceSpec(1, 1, 28, 30));      // MQ-35
    bus.devices.push_back(deviceSpec(2, 1, 12, 24));      // LT-50+
    bus.devices.push_back(deviceSpec(3, 1, 106, 38));     // PW-900, positions 0-4095
    bus.devices.push_back(deviceSpec(4, 1, 64, 35));      // MQ-75
    bus.devices.push_back(deviceSpec(9, 1, 116, 21, 0));  // KV-410, answers pings only
    // Code 34 (57142 bps): a sensor and an actuator that answers pings and reads only.
    bus.devices.push_back(deviceSpec(100, 34, 13, 20));   // LT-P1
    bus.devices.push_back(deviceSpec(7, 34, 10, 27, 1));  // MQ-15
    // Code 207 (9615 bps): one slow actuator.
    bus.devices.push_back(deviceSpec(21, 207, 113, 36));  // KV-430
    return bus;
}

bool SimulatedBus::loadDescription(const std::string& path, BusDescription& description,
                                   std::string& error) {
    // Only a regular file of a bounded size, opened without blocking (RegularFile): /dev/zero
    // would grow without end and a FIFO would block for ever.
    const std::string quoted = "bus description \"" + path + "\"";
    RegularFile file = RegularFile::open(path);
    std::string text;
    if (!file.readAll(kMaxDescriptionBytes, text)) {
        switch (file.status()) {
            case RegularFile::Status::NotRegular:
                error = quoted + " is not a regular file";
                break;
            case RegularFile::Status::TooLarge:
                error = quoted + " is larger than " + std::to_string(kMaxDescriptionBytes >> 20) +
                        " MB";
                break;
            default:
                error = "cannot open " + quoted + ": " + file.problem();
                break;
        }
        return false;
    }
    if (!parseDescription(text, description, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool SimulatedBus::parseDescription(const std::string& text, BusDescription& description,
                                    std::string& error) {
    // Any exception of the JSON library (a value of an unexpected type) is a bad description,
    // never an abort.
    try {
        return parseUnguarded(text, description, error);
    } catch (const std::exception& e) {
        error = std::string("not a bus description: ") + e.what();
        return false;
    } catch (...) {
        error = "not a bus description";
        return false;
    }
}

}  // namespace mvx
