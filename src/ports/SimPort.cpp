#include "ports/SimPort.h"

namespace mvx {

SimPort::SimPort(std::unique_ptr<Clock> clock, const BusDescription& description)
    : clock_(std::move(clock)), bus_(description, *clock_), driver_(bus_) {}

std::unique_ptr<SimPort> makeSimPort(const PortSpec& portSpec, std::string& error) {
    BusDescription description = SimulatedBus::defaultBus();
    if (!portSpec.path.empty() &&
        !SimulatedBus::loadDescription(portSpec.path, description, error)) {
        return nullptr;
    }
    std::unique_ptr<Clock> clock;
    if (portSpec.virtualTime) {
        clock = std::make_unique<VirtualClock>();
    } else {
        clock = std::make_unique<SystemClock>();
    }
    return std::make_unique<SimPort>(std::move(clock), description);
}

}  // namespace mvx
