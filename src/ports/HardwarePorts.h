// Ports on real hardware: the machine's adapter list (USB adapters and serial ports, by index)
// and a serial device given by its path. Both run on real time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ports/Port.h"

namespace mvx {

// The machine's adapter list, with adapter `index` chosen.
std::unique_ptr<Port> makeAdapterListPort(std::uint32_t index, std::string& error);
// A driver over the one serial device at `path` (any tty, a pseudo-terminal included). Null
// with `error` set when nothing exists at the path. The port's clock paces the link's fixed
// pauses (real time unless given); reads always wait on the real device.
std::unique_ptr<Port> makeSerialPathPort(const std::string& path, std::string& error,
                                         std::unique_ptr<Clock> clock = nullptr);

}  // namespace mvx
