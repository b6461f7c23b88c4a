#include "cli/Environment.h"

#include <unistd.h>

namespace mvx::cli {

std::unique_ptr<Port> SystemEnvironment::makePort(const PortSpec& portSpec, std::string& error) {
    return mvx::makePort(portSpec, error);
}

bool SystemEnvironment::stderrIsTerminal() const {
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace mvx::cli
