// The control table as a table of register items: which items a model has (by the model
// catalogue's class), their addresses, sizes, access and units, and the rows of one device's
// table with each raw value also in its unit. What `movantrix-cli regs` prints and a page of
// the desktop program can show; the bus log names packet parameters by it.
//
// Items are named by the command line's register names where `set` knows one
// ("goal-position"), else by the same style ("present-position"). Words are little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mvx {

enum class RegisterAccess : std::uint8_t {
    ReadOnly,    // "R"
    ReadWrite,   // "RW"
    KeyedWrite,  // "RW (keyed)": read as usual, written only by the keyed write (instruction 13)
};

enum class RegisterUnit : std::uint8_t {
    Plain,        // the raw number
    Model,        // a model number, named by the catalogue
    BaudCode,     // a baud-rate code and its bit rate
    ReturnDelay,  // units of 2 microseconds
    Position,     // steps, and degrees: steps x 300 / (max position + 1)
    Signed,       // direction rule: above 1023 the other way, -(raw & 1023)
    Voltage,      // tenths of a volt
    Temperature,  // degrees Celsius
    Flags,        // alarm / error flags by name
    Switch,       // on when exactly 1
};

struct RegisterItem {
    std::uint8_t address;
    std::uint8_t size;  // 1 (byte) or 2 (word)
    const char* name;
    RegisterAccess access;
    RegisterUnit unit;
    const char* description;
};

// One register of one device: the item, its raw value and that value in the item's unit.
struct RegisterRow {
    RegisterItem item;
    int raw = 0;
    // The value in its unit: degrees, volts, degrees Celsius, the signed value, the switch as
    // 0 or 1; the raw value where the unit has no number of its own (flags, codes).
    double value = 0.0;
    std::string unit;  // "°", "V", "°C", "us" or "" (UTF-8)
    std::string text;  // for people: "512 steps (150.0°)", "12.0 V", "overload,overheating"
    std::vector<std::string> flags;  // Flags only: the names of the set bits
};

// The items of `modelNumber` in address order: the identity and network registers for every
// model, the whole actuator map for actuators, the firmware-update registers for every model
// of the catalogue.
std::vector<RegisterItem> registerItems(int modelNumber);
// The item at `address` in the widest map (an actuator's); null when none starts there.
const RegisterItem* registerItemAt(int address);
// "R", "RW" or "RW (keyed)".
const char* accessText(RegisterAccess access);
// "byte" or "word".
const char* sizeText(const RegisterItem& item);

// The raw value of `item` in a 256-byte control-table image.
int rawValue(const RegisterItem& item, const std::uint8_t* table);
// The row of `item` with raw value `raw` on a device of `modelNumber`.
RegisterRow registerRow(const RegisterItem& item, int raw, int modelNumber);
// The value of `row` in its unit alone, for a table that shows the raw number beside it:
// "150.0°", "1000000 bps", "500 us", "MQ-35", "-300", "12.0 V", "overload, overheating"
// (flags by name, a space after each comma), "on".
std::string valueInUnit(const RegisterRow& row);
// The blocks (first address, length) that one read each covers for `items`: items less than
// 8 addresses apart share a block.
std::vector<std::pair<std::uint8_t, std::uint8_t>> readBlocks(
    const std::vector<RegisterItem>& items);

}  // namespace mvx
