// What the command line needs from the machine it runs on: the driver behind a --port, and
// whether stderr is a terminal (progress bars are drawn only there). Tests supply their own
// environment with a simulated bus or a scripted driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/PortSpec.h"
#include "ports/Port.h"

namespace mvx::cli {

using mvx::BorrowedPort;
using mvx::Port;

class Environment {
public:
    virtual ~Environment() = default;
    // The driver for `portSpec`, or null with `error` set (unreadable bus description, a kind of
    // port this build cannot serve). Nothing is opened yet.
    virtual std::unique_ptr<Port> makePort(const PortSpec& portSpec, std::string& error) = 0;
    virtual bool stderrIsTerminal() const = 0;
};

// The real machine: adapter list, serial ports, simulated bus; stderr checked with isatty.
class SystemEnvironment final : public Environment {
public:
    std::unique_ptr<Port> makePort(const PortSpec& portSpec, std::string& error) override;
    bool stderrIsTerminal() const override;
};

}  // namespace mvx::cli
