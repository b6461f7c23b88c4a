// What the --port argument names: an adapter of the adapter list by index, a serial device
// by path, or the simulated bus (built in or described by a JSON file).
#pragma once

#include <cstdint>
#include <string>

namespace mvx {

struct PortSpec {
    enum class Kind { AdapterIndex, Path, Sim };
    Kind kind = Kind::AdapterIndex;
    std::uint32_t index = 0;   // AdapterIndex: the line of the adapter list
    std::string path;          // Path: the tty; Sim: the bus description file (empty: built in)
    bool virtualTime = false;  // Sim: run the bus on a virtual clock instead of real time
};

// "0", "1", ...: adapter index. "sim": the built-in simulated bus; "sim:FILE": the bus that
// FILE describes. Anything else is a serial device path; a bare name such as "ttyUSB0" is
// taken from /dev. False with `error` set for an empty or malformed text.
bool parsePortSpec(const std::string& text, PortSpec& portSpec, std::string& error);

}  // namespace mvx
