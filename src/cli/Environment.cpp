#include "cli/Environment.h"

#include <unistd.h>

#include "cli/HardwarePorts.h"
#include "cli/SimPort.h"

namespace mvx::cli {

std::unique_ptr<Port> SystemEnvironment::makePort(const PortSpec& portSpec, std::string& error) {
    switch (portSpec.kind) {
        case PortSpec::Kind::Sim:
            return makeSimPort(portSpec, error);
        case PortSpec::Kind::Path:
            return makeSerialPathPort(portSpec.path, error);
        case PortSpec::Kind::AdapterIndex:
            return makeAdapterListPort(portSpec.index, error);
    }
    error = "unknown kind of port";
    return nullptr;
}

bool SystemEnvironment::stderrIsTerminal() const {
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace mvx::cli
