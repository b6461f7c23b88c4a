// A robot's bus against its profile: one row per device expected and per device not expected,
// each of one kind. Pure: the devices come from a survey of the bus (ProfileFlows.h).
#pragma once

#include <string>
#include <vector>

#include "device/ModelCatalogue.h"
#include "device/SettingsFile.h"
#include "device/SettingsTransfer.h"
#include "robot/DeviceAddress.h"
#include "robot/RobotProfile.h"

namespace mvx {

// A device as found on the bus, with an actuator's settings when they could be read.
struct FoundDevice {
    DeviceAddress at;
    ModelClass modelClass = UnknownModel;
    int modelNumber = 0;
    int firmwareVersion = 0;
    int returnLevel = -1;
    bool settingsRead = false;
    DeviceSettings settings;   // when settingsRead
    int settingsResult = 100;  // why they could not be read, for an actuator
};

enum class CheckKind {
    Ok,               // at its address, same model, firmware and settings
    Missing,          // nothing at its address
    Moved,            // not at its address, but a device of its model sits where nothing was
                      // expected (foundAt)
    OtherModel,       // a device of another model at its address
    FirmwareDiffers,  // same model, another firmware version (settings compared too)
    SettingsDiffer,   // same model and firmware, settings differ (which: `settings`)
    Unexpected,       // on the bus, not in the profile
};

struct CheckRow {
    CheckKind kind = CheckKind::Ok;
    DeviceAddress expectedAt;  // the profile's address (none for Unexpected)
    DeviceAddress foundAt;     // where the device is (none for Missing)
    int expectedModel = 0;
    int expectedVersion = 0;
    int foundModel = 0;
    int foundVersion = 0;
    // Settings that differ: `now` on the bus, `wanted` in the profile.
    std::vector<SettingChange> settings;
    std::string note;  // settings that could not be read, and why
};

// The rows in the profile's order, then the unexpected devices in the order found. A missing
// device is paired with the first unexpected one of its model (Moved).
std::vector<CheckRow> compareWithProfile(const RobotProfile& profile,
                                         const std::vector<FoundDevice>& found);

// "ok", "missing", "moved", "other model", "firmware differs", "settings differ",
// "unexpected".
const char* checkKindWord(CheckKind kind);
// The row's differences in words ("now at code 1 ID 7", "firmware v31 on the bus, v30 in the
// profile", "max-torque 800 on the bus, 1023 in the profile"); empty for ok.
std::string checkRowDetail(const CheckRow& row);
// Whether every row is ok.
bool allOk(const std::vector<CheckRow>& rows);

}  // namespace mvx
