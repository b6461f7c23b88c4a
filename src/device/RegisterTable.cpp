#include "device/RegisterTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "device/ModelCatalogue.h"
#include "device/NamedRegister.h"
#include "protocol/BaudRate.h"

namespace mvx {

namespace {

using A = RegisterAccess;
using U = RegisterUnit;

// Which models have an item.
enum Scope : std::uint8_t {
    Every,      // every device: identity and network settings
    Catalogue,  // every model the catalogue knows (firmware update)
    Actuators,  // actuators only
};

struct ScopedItem {
    Scope scope;
    RegisterItem item;
};

// The widest map, in address order.
constexpr ScopedItem kItems[] = {
    {Every, {0, 2, "model-number", A::ReadOnly, U::Model, "model number"}},
    {Every, {2, 1, "firmware-version", A::ReadOnly, U::Plain, "firmware version"}},
    {Every, {3, 1, "id", A::ReadWrite, U::Plain, "ID"}},
    {Every, {4, 1, "baud", A::ReadWrite, U::BaudCode, "baud-rate code"}},
    {Every, {5, 1, "return-delay", A::ReadWrite, U::ReturnDelay, "return delay time"}},
    {Actuators, {6, 2, "cw-angle-limit", A::ReadWrite, U::Position, "CW angle limit"}},
    {Actuators, {8, 2, "ccw-angle-limit", A::ReadWrite, U::Position, "CCW angle limit"}},
    {Actuators,
     {11, 1, "temperature-limit", A::ReadWrite, U::Temperature, "highest limit temperature"}},
    {Actuators, {12, 1, "min-voltage", A::ReadWrite, U::Voltage, "lowest limit voltage"}},
    {Actuators, {13, 1, "max-voltage", A::ReadWrite, U::Voltage, "highest limit voltage"}},
    {Actuators, {14, 2, "max-torque", A::ReadWrite, U::Plain, "max torque"}},
    {Every, {16, 1, "return-level", A::ReadWrite, U::Plain, "status return level"}},
    {Actuators, {17, 1, "alarm-led", A::ReadWrite, U::Flags, "alarm LED"}},
    {Actuators, {18, 1, "alarm-shutdown", A::ReadWrite, U::Flags, "alarm shutdown"}},
    {Actuators, {24, 1, "torque-enable", A::ReadWrite, U::Switch, "torque enable"}},
    {Actuators, {25, 1, "led", A::ReadWrite, U::Switch, "LED"}},
    {Actuators, {26, 1, "cw-compliance-margin", A::ReadWrite, U::Plain, "CW compliance margin"}},
    {Actuators, {27, 1, "ccw-compliance-margin", A::ReadWrite, U::Plain, "CCW compliance margin"}},
    {Actuators, {28, 1, "cw-compliance-slope", A::ReadWrite, U::Plain, "CW compliance slope"}},
    {Actuators, {29, 1, "ccw-compliance-slope", A::ReadWrite, U::Plain, "CCW compliance slope"}},
    {Actuators, {30, 2, "goal-position", A::ReadWrite, U::Position, "goal position"}},
    {Actuators, {32, 2, "moving-speed", A::ReadWrite, U::Signed, "moving speed"}},
    {Actuators, {34, 2, "torque-limit", A::ReadWrite, U::Plain, "torque limit"}},
    {Actuators, {36, 2, "present-position", A::ReadOnly, U::Position, "present position"}},
    {Actuators, {38, 2, "present-speed", A::ReadOnly, U::Signed, "present speed"}},
    {Actuators, {40, 2, "present-load", A::ReadOnly, U::Signed, "present load"}},
    {Actuators, {42, 1, "present-voltage", A::ReadOnly, U::Voltage, "present voltage"}},
    {Actuators, {43, 1, "present-temperature", A::ReadOnly, U::Temperature, "present temperature"}},
    {Actuators,
     {44, 1, "registered-instruction", A::ReadOnly, U::Switch, "registered instruction"}},
    {Catalogue, {45, 1, "firmware-update", A::KeyedWrite, U::Plain, "firmware update register"}},
    {Actuators, {46, 1, "moving", A::ReadOnly, U::Switch, "moving"}},
    {Actuators, {47, 1, "lock", A::ReadWrite, U::Switch, "lock"}},
    {Actuators, {48, 2, "punch", A::ReadWrite, U::Plain, "punch"}},
    {Catalogue, {250, 1, "loader-arm", A::KeyedWrite, U::Plain, "firmware loader arming register"}},
};

bool inScope(Scope scope, ModelClass modelClass) {
    switch (scope) {
        case Every:
            return true;
        case Catalogue:
            return modelClass != UnknownModel;
        case Actuators:
            return modelClass == Actuator;
    }
    return false;
}

std::string oneDecimal(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", value);
    return buffer;
}

}  // namespace

std::vector<RegisterItem> registerItems(int modelNumber) {
    const ModelClass modelClass = classify(modelNumber);
    std::vector<RegisterItem> items;
    for (const ScopedItem& scoped : kItems) {
        if (inScope(scoped.scope, modelClass)) {
            items.push_back(scoped.item);
        }
    }
    return items;
}

const RegisterItem* registerItemAt(int address) {
    for (const ScopedItem& scoped : kItems) {
        if (scoped.item.address == address) {
            return &scoped.item;
        }
    }
    return nullptr;
}

const char* accessText(RegisterAccess access) {
    switch (access) {
        case A::ReadOnly:
            return "R";
        case A::ReadWrite:
            return "RW";
        case A::KeyedWrite:
            return "RW (keyed)";
    }
    return "R";
}

const char* sizeText(const RegisterItem& item) {
    return item.size == 2 ? "word" : "byte";
}

int rawValue(const RegisterItem& item, const std::uint8_t* table) {
    const int low = table[item.address];
    return item.size == 2 && item.address < 255 ? low | (table[item.address + 1] << 8) : low;
}

RegisterRow registerRow(const RegisterItem& item, int raw, int modelNumber) {
    RegisterRow row;
    row.item = item;
    row.raw = raw;
    row.value = raw;
    row.text = std::to_string(raw);
    switch (item.unit) {
        case U::Plain:
            break;
        case U::Model:
            row.text += std::string(" (") + displayName(raw) + ")";
            break;
        case U::BaudCode:
            row.text += " (" + std::to_string(rateOf(raw)) + " bps)";
            break;
        case U::ReturnDelay:
            row.value = raw * 2.0;
            row.unit = "us";
            row.text += " (" + std::to_string(raw * 2) + " us)";
            break;
        case U::Position: {
            // The pages' conversion, in single precision as they compute it.
            const float degrees = static_cast<float>(raw) * 300.0f /
                                  static_cast<float>(maxPositionOf(modelNumber) + 1);
            row.value = std::round(static_cast<double>(degrees) * 10.0) / 10.0;
            row.unit = "\u00B0";
            row.text += " steps (" + oneDecimal(degrees) + "\u00B0)";
            break;
        }
        case U::Signed:
            row.value = raw > 1023 ? -(raw & 1023) : raw;
            row.text = std::to_string(static_cast<int>(row.value)) +
                       (raw > 1023 ? " (raw " + std::to_string(raw) + ")" : "");
            break;
        case U::Voltage:
            row.value = raw / 10.0;
            row.unit = "V";
            row.text = voltsText(raw) + " V";
            break;
        case U::Temperature:
            row.unit = "\u00B0C";
            row.text += " \u00B0C";
            break;
        case U::Flags:
            row.flags = flagNames(raw);
            row.text = flagText(raw);
            break;
        case U::Switch:
            row.value = raw == 1 ? 1 : 0;
            row.text = raw == 1 ? "on" : (raw == 0 ? "off" : "off (" + std::to_string(raw) + ")");
            break;
    }
    return row;
}

std::string valueInUnit(const RegisterRow& row) {
    switch (row.item.unit) {
        case U::Model:
        case U::BaudCode:
        case U::ReturnDelay:
        case U::Position: {
            // What the text has in parentheses after the raw number.
            const std::size_t open = row.text.find(" (");
            if (open == std::string::npos || row.text.back() != ')') {
                return row.text;
            }
            return row.text.substr(open + 2, row.text.size() - open - 3);
        }
        case U::Signed:
            return std::to_string(static_cast<int>(row.value));
        case U::Flags: {
            std::string text;
            for (const std::string& name : row.flags) {
                text += (text.empty() ? "" : ", ") + name;
            }
            return text.empty() ? row.text : text;
        }
        case U::Plain:
        case U::Voltage:
        case U::Temperature:
        case U::Switch:
            break;
    }
    return row.text;
}

std::vector<std::pair<std::uint8_t, std::uint8_t>> readBlocks(
    const std::vector<RegisterItem>& items) {
    constexpr int kJoinGap = 8;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> blocks;
    int first = -1;
    int end = -1;  // one past the block's last address
    for (const RegisterItem& item : items) {
        const int itemEnd = item.address + item.size;
        if (first >= 0 && item.address - end < kJoinGap) {
            end = std::max(end, itemEnd);
            continue;
        }
        if (first >= 0) {
            blocks.emplace_back(static_cast<std::uint8_t>(first),
                                static_cast<std::uint8_t>(end - first));
        }
        first = item.address;
        end = itemEnd;
    }
    if (first >= 0) {
        blocks.emplace_back(static_cast<std::uint8_t>(first),
                            static_cast<std::uint8_t>(end - first));
    }
    return blocks;
}

}  // namespace mvx
