// The ports on real hardware live with the ports in the core.
#pragma once

#include "cli/Environment.h"
#include "ports/HardwarePorts.h"

namespace mvx::cli {

using mvx::makeAdapterListPort;
using mvx::makeSerialPathPort;

}  // namespace mvx::cli
