#include "facade/RegisterValues.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "device/ModelCatalogue.h"
#include "device/StatusText.h"

namespace movantrix::detail {

namespace {

std::string modelWords(int model) {
    const std::string name = mvx::displayName(model);
    if (name == mvx::displayName(-1)) {
        return "a device of unknown model";
    }
    return "a device of model " + name + " (" + std::to_string(model) + ")";
}

// Every name of the widest map (an actuator's of the catalogue).
bool anyModelHas(const std::string& name) {
    for (int address = 0; address < 256; ++address) {
        const mvx::RegisterItem* item = mvx::registerItemAt(address);
        if (item != nullptr && name == item->name) {
            return true;
        }
    }
    return false;
}

}  // namespace

mvx::RegisterItem itemOf(const std::string& name, int model) {
    for (const mvx::RegisterItem& item : mvx::registerItems(model)) {
        if (name == item.name) {
            return item;
        }
    }
    if (!anyModelHas(name)) {
        throw std::invalid_argument("unknown register name \"" + name + "\"");
    }
    throw std::invalid_argument(modelWords(model) + " has no register \"" + name + "\"");
}

Value valueOf(const mvx::RegisterItem& item, int raw) {
    switch (item.unit) {
        case mvx::RegisterUnit::Voltage:
            return raw / 10.0;
        case mvx::RegisterUnit::Flags:
            return mvx::flagNames(raw);
        case mvx::RegisterUnit::Signed:
            return raw > 1023 ? -(raw & 1023) : raw;
        default:
            return raw;
    }
}

Value settingValue(const mvx::NamedRegister& reg, int raw) {
    switch (reg.kind) {
        case mvx::ValueKind::Volts:
            return raw / 10.0;
        case mvx::ValueKind::Flags:
            return mvx::flagNames(raw);
        default:
            return raw;
    }
}

const mvx::NamedRegister& namedRegister(const std::string& name) {
    const mvx::NamedRegister* reg = mvx::findNamedRegister(name);
    if (reg == nullptr) {
        throw std::invalid_argument("unknown register name \"" + name + "\"" +
                                    (anyModelHas(name) ? " to write (it is read only)" : ""));
    }
    return *reg;
}

std::string valueText(const mvx::NamedRegister& reg, const Value& value) {
    if (const int* number = std::get_if<int>(&value)) {
        return std::to_string(*number);
    }
    if (const double* real = std::get_if<double>(&value)) {
        if (!std::isfinite(*real)) {
            throw std::invalid_argument(std::string(reg.name) + ": " + mvx::shortestText(*real) +
                                        " is not a number");
        }
        return mvx::shortestText(*real);
    }
    const Flags& flags = std::get<Flags>(value);
    if (reg.kind != mvx::ValueKind::Flags) {
        throw std::invalid_argument(std::string(reg.name) +
                                    ": a list of flag names is only for alarm-led and "
                                    "alarm-shutdown");
    }
    if (flags.empty()) {
        return "none";
    }
    std::string text;
    for (const std::string& name : flags) {
        // A name that holds a comma would pass for two; an empty one is refused by the parser.
        if (name.find(',') != std::string::npos || name.empty()) {
            throw std::invalid_argument(std::string(reg.name) + ": unknown alarm flag \"" + name +
                                        "\" (flags: " + mvx::flagText(127) + ", or none)");
        }
        text += (text.empty() ? "" : ",") + name;
    }
    return text;
}

int rawOf(const mvx::NamedRegister& reg, const Value& value) {
    int raw = 0;
    std::string error;
    if (!mvx::parseRegisterValue(reg, valueText(reg, value), raw, error)) {
        throw std::invalid_argument(error);
    }
    return raw;
}

std::vector<mvx::RegisterItem> statusItems(int model) {
    std::vector<mvx::RegisterItem> items;
    for (const mvx::RegisterItem& item : mvx::registerItems(model)) {
        if (item.address >= kStatusFirst &&
            item.address + item.size <= kStatusFirst + kStatusLength &&
            item.access != mvx::RegisterAccess::KeyedWrite) {
            items.push_back(item);
        }
    }
    return items;
}

Values statusValues(const std::vector<mvx::RegisterItem>& items, const std::uint8_t* block) {
    Values values;
    for (const mvx::RegisterItem& item : items) {
        const int offset = item.address - kStatusFirst;
        const int raw = item.size == 2 ? block[offset] | (block[offset + 1] << 8) : block[offset];
        values[item.name] = valueOf(item, raw);
    }
    return values;
}

const std::vector<std::string>& sampleNames() {
    static const std::vector<std::string> names = {
        "present-position",    "present-speed", "present-load", "present-voltage",
        "present-temperature", "goal-position", "moving",       "torque-enable"};
    return names;
}

std::vector<std::string> checkSampleNames(const std::vector<std::string>& names) {
    if (names.empty()) {
        return sampleNames();
    }
    const auto& known = sampleNames();
    for (const std::string& name : names) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            std::string list;
            for (const std::string& k : known) {
                list += (list.empty() ? "" : ", ") + k;
            }
            throw std::invalid_argument("a watch cannot sample \"" + name + "\" (it samples " +
                                        list + ")");
        }
    }
    return names;
}

Values sampleValues(const mvx::StatusSample& sample, const std::vector<std::string>& names) {
    Values values;
    for (const std::string& name : names) {
        if (name == "present-position") {
            values[name] = sample.presentPosition;
        } else if (name == "present-speed") {
            values[name] = sample.presentSpeed;
        } else if (name == "present-load") {
            values[name] = sample.presentLoad;
        } else if (name == "present-voltage") {
            values[name] = sample.presentVoltage / 10.0;
        } else if (name == "present-temperature") {
            values[name] = sample.presentTemperature;
        } else if (name == "goal-position") {
            values[name] = sample.goalPosition;
        } else if (name == "moving") {
            values[name] = sample.moving;
        } else if (name == "torque-enable") {
            values[name] = sample.torqueEnable;
        }
    }
    return values;
}

}  // namespace movantrix::detail
