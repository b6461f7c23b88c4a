// The --port argument's parsing lives with the ports in the core, which the library shares.
#pragma once

#include "ports/PortSpec.h"

namespace mvx::cli {

using mvx::parsePortSpec;
using mvx::PortSpec;

}  // namespace mvx::cli
