// What `backup` and `restore` were given.
#pragma once

#include <string>
#include <vector>

#include "device/SettingsFile.h"

namespace mvx::cli {

struct SettingsOptions {
    std::string output;  // backup -o: empty for stdout
    std::string idList;  // --id: "1,2,5" or "1-3" (backup: one)
    std::vector<int> ids;
    bool dryRun = false;
    bool network = false;
    bool force = false;
    // restore: the file as read and checked before the port is opened.
    DeviceSettings file;
};

}  // namespace mvx::cli
