// A port the bus runs on: a driver with the adapter to use on it, and the clock the bus runs
// on, as makePort makes it from a parsed port text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "ports/PortSpec.h"

namespace mvx {

// The objects behind a Port live as long as it does.
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

// The port of the real machine for `chosen`: the adapter list, a serial device, or the
// simulated bus. Null with `error` set (an unreadable bus description, nothing at the path).
// Nothing is opened yet.
std::unique_ptr<Port> makePort(const PortSpec& chosen, std::string& error);

}  // namespace mvx
