// What `assign` and `profile` were given.
#pragma once

#include <string>
#include <vector>

#include "device/SettingsFile.h"
#include "robot/RobotProfile.h"

namespace mvx::cli {

struct RobotOptions {
    std::string action;  // profile: save, check, apply, adopt
    // assign.
    std::string idList;  // --ids "1-12"
    std::vector<int> ids;
    int targetCode = -1;
    std::string settingsFile;  // --settings
    bool network = false;
    int returnDelay = -1;
    // assign and profile save: where to look.
    std::string codesText;  // --codes "1,34"
    bool codesGiven = false;
    bool full = false;
    std::vector<int> codes;
    // profile.
    std::string output;  // save -o: empty for stdout
    bool dryRun = false;
    // Read and checked before the port is opened.
    DeviceSettings settings;
    RobotProfile profile;
};

}  // namespace mvx::cli
