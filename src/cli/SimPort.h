// The simulated bus as a port lives with the ports in the core.
#pragma once

#include "cli/Environment.h"
#include "ports/SimPort.h"

namespace mvx::cli {

using mvx::makeSimPort;
using mvx::SimPort;

}  // namespace mvx::cli
