// The commands of movantrix-cli. Each gets checked options and returns the exit status.
#pragma once

#include <functional>
#include <memory>
#include <ostream>

#include "cli/CliOptions.h"
#include "cli/Environment.h"
#include "cli/Session.h"

namespace CLI {
class App;
}

namespace mvx::cli {

class Trace;

struct CommandContext {
    const CliOptions& options;
    std::ostream& out;
    std::ostream& err;
    Environment& env;
    Trace* trace = nullptr;  // --trace: every session opened gets its tap
};

// Makes the session of the --port and opens its adapter: kExitOk with `session` set, or the
// exit status of the failure (the reason printed).
int openSession(CommandContext& context, std::unique_ptr<Session>& session);

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
// regs: the device's whole control table by the register table of its model.
int regsCommand(CommandContext& context);

// watch: its subcommand and options (the address added by `addAddress`), and the command.
void addWatchCommand(CLI::App& app, CliOptions& o,
                     const std::function<void(CLI::App*)>& addAddress);
int watchCommand(CommandContext& context);

}  // namespace mvx::cli
