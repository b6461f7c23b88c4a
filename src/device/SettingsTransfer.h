// Taking an actuator's settings, comparing them with a settings file's, and restoring the
// differences: through the servo record's and the entry's setters (with their rules and
// waits), every limit before what it bounds, then a read-back that checks each written
// setting. Used by the command line and the desktop program alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/SettingsFile.h"
#include "protocol/ResultCode.h"

namespace mvx {

class DeviceEntry;
class DeviceRegistry;

// One setting that differs between the device and the file.
struct SettingChange {
    const NamedRegister* reg = nullptr;
    int now = 0;     // on the device
    int wanted = 0;  // in the file
    // Outside the target's range (another model's file): reported, never written.
    bool skipped = false;
    std::string skipReason;
};

// How a restore ended. The changes it was given fall into `written`, the one at `failedAt`
// and `notWritten`; a front end tells the user all three, so that after a failure halfway
// they know what the device holds now.
struct RestoreResult {
    int result = Success;  // the first failed write's (or read-back's) code
    // Refused before anything was written (result Busy): a pair of limits the restore would
    // leave crossed, and why ("cw-angle-limit 800 (from the file) would be above ...").
    std::string refusal;
    const NamedRegister* failedAt = nullptr;  // the setting whose write failed (null: none)
    // Written and answered by the device, in the order written.
    std::vector<SettingChange> written;
    // Not sent: they come after the one that failed.
    std::vector<SettingChange> notWritten;
    // Written, but the read-back found another value (`now` holds what the device has).
    std::vector<SettingChange> notTaken;

    // A write failed: the device holds `written` and may or may not hold `failedAt`'s value.
    bool writeFailed() const { return failedAt != nullptr; }
    // Nothing was written: the restore would have crossed a pair of limits.
    bool refused() const { return !refusal.empty(); }
    // Everything was written, but reading it back failed: nothing written is checked.
    bool readBackFailed() const {
        return result != Success && failedAt == nullptr && refusal.empty();
    }
};

// The settings' names in order, comma-separated: "max-torque, punch"; "none" for no settings.
std::string settingNames(const std::vector<SettingChange>& changes);

// Reads the device's settings: registers 0-49 in one block (kept as read), then the entry's
// identity and the servo record, whose images the setters compare against. 100 with
// `settings` filled, a failure code, or 105 for a device without a servo record (nothing
// read then).
int readDeviceSettings(DeviceEntry& entry, const std::string& takenAt, DeviceSettings& settings);

// The settings of `wanted` that differ from `now`, in file order; the network settings (return
// delay, return level) only when `network`. Positions beyond `targetMaxPosition` are marked
// skipped.
std::vector<SettingChange> settingsDifferences(const DeviceSettings& now,
                                               const DeviceSettings& wanted, bool network,
                                               int targetMaxPosition);

// The changes that are not skipped, in the order they are written: the file order, except
// that within the angle-limit pair and the voltage pair the limit that moves out of the way
// goes first, so the device never holds CW above CCW or low above high on the way.
std::vector<SettingChange> writeOrder(const std::vector<SettingChange>& changes);

// Why restoring `changes` would leave the device with CW above CCW or the low voltage limit
// above the high one, or empty when it would not. Each pair the restore writes is checked
// against what the device holds afterwards: the value written, or for a setting not written
// (skipped, not chosen, or the same as the file's) the device's own, as the entry's servo
// record last read it. A pair the restore does not touch is not judged.
std::string crossedLimits(const DeviceEntry& entry, const std::vector<SettingChange>& changes);

// Writes the changes in writeOrder through the setters, stopping at the first failure, then
// reads the device back and lists the written settings that did not take. Changes that would
// cross a pair of limits (crossedLimits) are refused with nothing written.
RestoreResult restoreSettings(DeviceRegistry& registry, DeviceEntry& entry,
                              const std::vector<SettingChange>& changes);

}  // namespace mvx
