// assign and profile: the robot flows of src/robot on the command line.
#pragma once

#include <ostream>
#include <string>

#include "cli/CliOptions.h"
#include "cli/Commands.h"

namespace CLI {
class App;
}

namespace mvx::cli {

void addRobotCommands(CLI::App& app, CliOptions& o);
bool isRobotCommand(const std::string& command);
// Checks the lists and reads the files before the port is opened; false with the reason
// printed (exit status 2).
bool validateRobotCommand(const std::string& command, CliOptions& o, std::ostream& err);
int runRobotCommand(const std::string& command, CommandContext& context);

// The commands, in AssignCommand.cpp and ProfileCommands.cpp.
int assignCommand(CommandContext& context);
int profileCommand(CommandContext& context);

}  // namespace mvx::cli
