// What the virtual-time benchmarks share: a simulated bus on a virtual clock with a device
// registry opened over it, and the report of a measured time against its floor.
#pragma once

#include <benchmark/benchmark.h>

#include <memory>

#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {

struct SimRig {
    explicit SimRig(const BusDescription& description)
        : bus(description, clock),
          driver(bus),
          registry(std::make_unique<DeviceRegistry>(driver, clock)) {}

    bool open() { return registry->bus().open(0); }

    VirtualClock clock;
    SimulatedBus bus;
    SimDriver driver;
    std::unique_ptr<DeviceRegistry> registry;
};

// Counters: the measured time, the floor, and the floor without the wire time of unanswered
// packets (which runs inside the waits that follow them), each with the ratio to it.
inline void reportAgainstFloor(benchmark::State& state, double measuredUs, double floorUs,
                               double unansweredWireUs) {
    const double tightUs = floorUs - unansweredWireUs;
    state.counters["measured_ms"] = measuredUs / 1000.0;
    state.counters["floor_ms"] = floorUs / 1000.0;
    state.counters["ratio"] = measuredUs / floorUs;
    state.counters["tight_floor_ms"] = tightUs / 1000.0;
    state.counters["tight_ratio"] = measuredUs / tightUs;
}

}  // namespace mvx::bench
