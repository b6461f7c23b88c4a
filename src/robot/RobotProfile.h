// A robot's profile: every device found on its bus (address, model, firmware version) and,
// for each actuator, its settings exactly as a settings file holds them (SettingsFile). The
// JSON file and its strict reader; the format is described in docs/robot-profile.md.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/SettingsFile.h"
#include "robot/DeviceAddress.h"

namespace mvx {

inline constexpr const char* kProfileFormatName = "movantrix-robot-profile";
inline constexpr int kProfileFormatVersion = 1;
// Larger files are refused unread (a full bus of actuators takes about 400 kB).
inline constexpr std::size_t kProfileFileMaxBytes = 4 * 1024 * 1024;

struct ProfileDevice {
    DeviceAddress at;
    int modelNumber = 0;
    int firmwareVersion = 0;
    // An actuator's settings; none for a sensor, an unknown model or a device that does not
    // answer reads.
    std::optional<DeviceSettings> settings;
};

struct RobotProfile {
    std::string takenAt;     // UTC, "2026-12-09T02:48:10Z"
    std::vector<int> codes;  // the baud-rate codes searched: a check searches them again
    std::vector<ProfileDevice> devices;  // in the order found

    // The device expected at `at`, or null.
    const ProfileDevice* find(const DeviceAddress& at) const;
    // The devices' addresses, in the profile's order.
    std::vector<DeviceAddress> addresses() const;
};

// The file's text (JSON, two-space indent, ending in a line feed).
std::string profileJsonText(const RobotProfile& profile);

// Parses a profile's text under the limits of JSON input (JsonInput.h: nesting, keys given
// twice, numbers); `fileName` only names the file in the refusal: false with `error`
// "FILE: key: reason", and `profile` unspecified.
bool parseProfileText(const std::string& text, const std::string& fileName, RobotProfile& profile,
                      std::string& error);
// Reads and parses the regular file `path` (never a FIFO or a device; over
// kProfileFileMaxBytes refused unread).
bool readProfileFile(const std::string& path, RobotProfile& profile, std::string& error);

}  // namespace mvx
