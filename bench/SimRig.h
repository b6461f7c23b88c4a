// What the virtual-time benchmarks share: a simulated bus on a virtual clock with a device
// registry opened over it, and the check of a measured time against its floor and ceiling.
#pragma once

#include <benchmark/benchmark.h>

#include <limits>
#include <memory>

#include "BenchMain.h"
#include "FloorVerdict.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {

struct SimRig {
    // `latencyKnown` false: the adapter reports its receive latency unknown, as a pty does.
    explicit SimRig(const BusDescription& description, bool latencyKnown = true)
        : bus(description, clock),
          driver(bus),
          registry((driver.setLatencyKnown(latencyKnown),
                    std::make_unique<DeviceRegistry>(driver, clock))) {}

    bool open() { return registry->bus().open(0); }

    VirtualClock clock;
    SimulatedBus bus;
    SimDriver driver;
    std::unique_ptr<DeviceRegistry> registry;
};

// Counters: the measured time, the floor (a true lower bound), the ratio between them and the
// ceiling ratio; the run fails when the measured time is below the floor or the ratio above
// the ceiling. `hiddenWireUs` is the wire time of unanswered packets, which runs inside the
// waits that follow them and so is not part of the floor; it is reported for reference.
inline void checkAgainstFloor(benchmark::State& state, double measuredUs, double floorUs,
                              double ceilingRatio, double hiddenWireUs = 0.0) {
    const FloorVerdict verdict = judgeAgainstFloor(measuredUs, floorUs, ceilingRatio);
    state.counters["measured_ms"] = measuredUs / 1000.0;
    state.counters["floor_ms"] = floorUs / 1000.0;
    state.counters["ratio"] = verdict.ratio;
    state.counters["ceiling"] = ceilingRatio;
    state.counters["hidden_wire_ms"] = hiddenWireUs / 1000.0;
    if (verdict.failed()) {
        failBenchmark(state, verdict.why(ceilingRatio));
    }
}

// The same for a floor given as the sum of its parts, wire time of unanswered packets
// included: the lower bound leaves that wire time out. No ceiling.
inline void reportAgainstFloor(benchmark::State& state, double measuredUs, double floorUs,
                               double unansweredWireUs) {
    checkAgainstFloor(state, measuredUs, floorUs - unansweredWireUs,
                      std::numeric_limits<double>::infinity(), unansweredWireUs);
}

}  // namespace mvx::bench
