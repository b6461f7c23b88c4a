// What the command line needs from the machine it runs on: the driver behind a --port, and
// whether stderr is a terminal (progress bars are drawn only there). Tests supply their own
// environment with a simulated bus or a scripted driver.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/PortSpec.h"
#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx::cli {

// A driver with the adapter to use on it, and the clock the bus runs on. The objects behind
// it live as long as the Port.
class Port {
public:
    virtual ~Port() = default;
    virtual FtDriver& driver() = 0;
    virtual Clock& clock() = 0;
    // Index of the chosen adapter in the driver's list.
    virtual std::uint32_t index() const = 0;
};

// A Port over a driver and clock owned elsewhere (tests).
class BorrowedPort final : public Port {
public:
    BorrowedPort(FtDriver& driver, Clock& clock, std::uint32_t index)
        : driver_(driver), clock_(clock), index_(index) {}
    FtDriver& driver() override { return driver_; }
    Clock& clock() override { return clock_; }
    std::uint32_t index() const override { return index_; }

private:
    FtDriver& driver_;
    Clock& clock_;
    std::uint32_t index_;
};

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
