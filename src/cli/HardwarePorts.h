// Ports on real hardware: the adapter list (USB adapters and serial ports, by index) and a
// serial device given by its path. Both run on real time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/Environment.h"

namespace mvx::cli {

// The machine's adapter list, with adapter `index` chosen. Null with `error` set when this
// build has no adapter list.
std::unique_ptr<Port> makeAdapterListPort(std::uint32_t index, std::string& error);
// A driver over the one serial device at `path`. Null with `error` set when this build
// cannot drive serial devices.
std::unique_ptr<Port> makeSerialPathPort(const std::string& path, std::string& error);

}  // namespace mvx::cli
