// The simulated bus as a port: the bus, its driver and the clock it runs on.
#pragma once

#include <memory>

#include "ports/Port.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx {

class SimPort final : public Port {
public:
    SimPort(std::unique_ptr<Clock> clock, const BusDescription& description);

    FtDriver& driver() override { return driver_; }
    Clock& clock() override { return *clock_; }
    std::uint32_t index() const override { return 0; }

    SimulatedBus& bus() { return bus_; }

private:
    std::unique_ptr<Clock> clock_;
    SimulatedBus bus_;
    SimDriver driver_;
};

// The simulated bus of `portSpec` (built in, or from its description file) on a SystemClock, or
// on a VirtualClock when portSpec.virtualTime is set. Null with `error` set for a bad file.
std::unique_ptr<SimPort> makeSimPort(const PortSpec& portSpec, std::string& error);

}  // namespace mvx
