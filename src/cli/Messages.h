// Texts and message helpers shared by the commands.
#pragma once

#include <ostream>
#include <string>

#include "cli/DeviceReport.h"

namespace mvx::cli {

inline constexpr const char* kProgramName = "movantrix-cli";
inline constexpr const char* kNoAdapterText =
    "Can not find USB2Movantrix! Please check connection.";
inline constexpr const char* kAccessFailedText =
    "USB2Movantrix access failed! Please check connection.";
inline constexpr const char* kUnknownAdapterName = "Unknown device name";
// After the limitations of an adapter opened through its tty: where the user learns more.
inline constexpr const char* kLimitationHint =
    "the adapter works, but for all its settings give your user access to it over USB (the "
    "udev rules installed with movantrix-cli); see ADAPTER ACCESS in movantrix-cli(1)";

// When stdout does not take the output (a full disk, a closed stdout).
inline constexpr const char* kOutputFailedText =
    "cannot write to standard output; the output is incomplete";

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the bus or a device failed, or nothing to do
inline constexpr int kExitBadInput = 2;  // bad arguments or files; the bus was not touched

// "movantrix-cli: <text>" on its own line.
inline void printError(std::ostream& err, const std::string& text) {
    err << kProgramName << ": " << text << '\n';
}

// "movantrix-cli: warning: <text>" on its own line.
inline void printWarning(std::ostream& err, const std::string& text) {
    err << kProgramName << ": warning: " << text << '\n';
}

}  // namespace mvx::cli
