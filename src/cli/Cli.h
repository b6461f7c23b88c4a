// movantrix-cli: finds and configures the devices of a bus from the command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/Environment.h"

namespace mvx::cli {

// Runs one command line (`args` without the program name). Output goes to `out`, messages
// and progress bars to `err`. Every argument and file is checked before the port is opened.
// Returns the exit status: 0 success, 1 a bus or device failure (or nothing to update),
// 2 bad arguments or files.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        Environment& env);

}  // namespace mvx::cli
