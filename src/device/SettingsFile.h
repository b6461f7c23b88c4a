// A saved copy of one actuator's settings, and its JSON file: the strict reader that refuses
// anything it does not fully understand, and the writer that replaces a file only once the
// new one is complete. The format is described in docs/settings-file.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/NamedRegister.h"

namespace mvx {

inline constexpr const char* kSettingsFormatName = "movantrix-settings";
inline constexpr int kSettingsFormatVersion = 1;
// Larger files are refused unread.
inline constexpr std::size_t kSettingsFileMaxBytes = 1024 * 1024;
// Registers 0-49 are kept as read, for reference.
inline constexpr int kSettingsRawRegisters = 50;

// One setting of the file: its register (by the name `set` uses) and its raw value (tenths of
// a volt for voltages, the register byte for alarm flags).
struct SettingValue {
    const NamedRegister* reg = nullptr;
    int value = 0;
};

struct DeviceSettings {
    int modelNumber = 0;
    std::string modelName;
    int firmwareVersion = 0;
    // Where the settings were taken from; for reference only, never restored.
    int id = -1;
    int baudCode = -1;
    std::string takenAt;  // UTC, "2026-12-09T02:48:10Z"
    // Every setting of settingsRegisters(), in that order.
    std::vector<SettingValue> values;
    std::array<std::uint8_t, kSettingsRawRegisters> registers{};

    // Null when the setting is not held.
    const SettingValue* find(Setting setting) const;
};

// The registers a settings file holds, in file order, which is also the order in which they
// are restored: every limit before what it bounds, the network settings (return delay, return
// level) last. Never the ID or the baud rate.
const std::vector<const NamedRegister*>& settingsRegisters();

// The setting's value as `set` takes it: "700", "14.0", "overload,overheating".
std::string settingValueText(const NamedRegister& reg, int value);

// "2026-12-09T02:48:10Z" for seconds since the epoch.
std::string utcTimestamp(std::int64_t secondsSinceEpoch);
// The time now, as utcTimestamp writes it (a file's "taken").
std::string utcTimestampNow();

// The file's text (JSON, two-space indent, ending in a line feed).
std::string settingsJsonText(const DeviceSettings& settings);

// Parses a file's text. `fileName` only names the file in the refusal: false with `error`
// "FILE: key: reason" (the key where there is one), and `settings` unspecified. Besides what
// is not JSON or not a setting in its range, a key given twice, a number no double holds,
// nesting deeper than any settings file has, and a pair of limits that cannot both hold (CW
// above CCW angle limit, min above max voltage) are refused.
bool parseSettingsText(const std::string& text, const std::string& fileName,
                       DeviceSettings& settings, std::string& error);
// Reads and parses `path`: only a regular file, opened without blocking (RegularFile); one
// over kSettingsFileMaxBytes is refused unread.
bool readSettingsFile(const std::string& path, DeviceSettings& settings, std::string& error);

}  // namespace mvx
