#include "cli/HardwarePorts.h"

namespace mvx::cli {

std::unique_ptr<Port> makeAdapterListPort(std::uint32_t /*index*/, std::string& error) {
    error =
        "adapter ports by index are not available in this build; use --port PATH for a "
        "serial device or --port sim for the simulated bus";
    return nullptr;
}

std::unique_ptr<Port> makeSerialPathPort(const std::string& /*path*/, std::string& error) {
    error =
        "serial device paths are not available in this build; use --port sim for the "
        "simulated bus";
    return nullptr;
}

}  // namespace mvx::cli
