// backup and restore: an actuator's settings to a file, and a file's settings back onto one
// or more devices.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace mvx::cli {

// Adds the two commands and their options to the parser.
void addSettingsCommands(CLI::App& app, CliOptions& options);
bool isSettingsCommand(const std::string& command);
// Checks the ID list and reads the file, before the port is opened. False with the reason
// printed.
bool validateSettingsCommand(const std::string& command, CliOptions& options, std::ostream& err);
int runSettingsCommand(const std::string& command, CommandContext& context);

}  // namespace mvx::cli
