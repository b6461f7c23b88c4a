// Everything the command line was given, after parsing and range checks.
#pragma once

#include <string>

#include "cli/PortSpec.h"
#include "cli/RobotOptions.h"
#include "cli/SettingsOptions.h"
#include "firmware/FirmwareImage.h"

namespace mvx::cli {

struct CliOptions {
    std::string portText = "0";
    PortSpec port;
    bool virtualTime = false;
    bool json = false;
    std::string trace;  // --trace FILE ("-": stderr); empty: none

    // Device commands.
    int id = -1;
    int baud = -1;
    // read / write.
    int address = 0;
    int length = 1;
    int value = 0;
    bool word = false;
    // set.
    std::string registerName;
    std::string valueText;
    int registerValue = 0;
    // scan / flash.
    bool full = false;
    bool fast = false;       // the fast search instead of the standard one
    bool quickLook = false;  // scan --fast: the short waits only, codes left unsure
    std::string file;
    // flash: the firmware file as loaded and checked before the bus is touched; this is what
    // goes on the wire, the file is not read again.
    FirmwareImage firmware;
    bool allVersions = false;
    // watch (--json is the global flag).
    double rate = 10.0;
    double duration = 0.0;  // seconds; 0: until interrupted
    bool csv = false;
    // backup / restore.
    SettingsOptions settings;
    // assign / profile.
    RobotOptions robot;
};

}  // namespace mvx::cli
