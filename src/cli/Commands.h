// The commands of movantrix-cli. Each gets checked options and returns the exit status.
#pragma once

#include <ostream>

#include "cli/CliOptions.h"
#include "cli/Environment.h"

namespace mvx::cli {

struct CommandContext {
    const CliOptions& options;
    std::ostream& out;
    std::ostream& err;
    Environment& env;
};

// Bus commands.
int portsCommand(CommandContext& context);
int scanCommand(CommandContext& context);
int flashCommand(CommandContext& context);

// Commands on one device, found by probing its ID at its baud-rate code.
int pingCommand(CommandContext& context);
int infoCommand(CommandContext& context);
int readCommand(CommandContext& context);
int writeCommand(CommandContext& context);
int setCommand(CommandContext& context);
int resetDefaultsCommand(CommandContext& context);

}  // namespace mvx::cli
