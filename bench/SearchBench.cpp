// Quick and full search of the simulated bus in virtual time, against the floor that the
// search's fixed waits, the read timeouts of absent IDs and the wire time of the answered
// requests impose (SearchFloor.h gives the parts and why the wire time of unanswered packets
// is not among them). The link is opened at code 1 before the timed part.
//
// Ceiling: 1.01 x the floor. On the simulated bus the time beyond the floor is the adapter's
// receive latency (each reply is handed over 1 ms after its last bit: 22 ms of a 31.7 s quick
// search of the default bus, 0.07 %) and the integer rates (wire time at the truncated rate,
// below 0.01 %). One percent leaves room for that and fails on an extra rate-change wait in a
// quick search of the empty bus (1.9 %), a repeated broadcast wait or a second ping of each
// absent ID.
//
// The fast search (SearchEngine::fastSearch), in virtual time on the simulated bus with its
// receive latency (1 ms or 16 ms, known to the search or not, as a pty reports none): the time
// against the standard search's floor above, whose ratio must stay below the case's ceiling
// (1/20 to 1/2, the targets of the fast search), and against its own floor (SearchFloor.h's
// fastFloorUs: wire time, return delays and latency, and the standard 500 ms broadcast wait
// at each code where a device answers), which it can never go below; the wire floor
// (wireFloorUs, no wait at all) is reported beside it. The devices found must be the standard
// search's. Both models of the answers to a broadcast: prompt (every device answers within its
// return delay, one after another) and spaced out by ID (0.3 ms a unit of the ID, the bus
// description's broadcastSpacingUs: ID 253 answers 76 ms late), where the fast search waits
// the standard 500 ms at every code once it has seen a late answer. Ceilings there: 0.4 of the
// standard floor for the quick search (nine 500 ms waits and the walks of the three codes with
// devices, about 0.29), 0.8 for the full search (255 waits of 500 ms, about 0.74); both fail
// on, say, a 100 ms rate-change wait at every code. The full search of the prompt built-in bus
// is held to 1/10 (about 1/21): it fails on a 500 ms wait at the silent codes.
#include <benchmark/benchmark.h>

#include <memory>
#include <span>

#include "BusFloor.h"
#include "SearchFloor.h"
#include "SimRig.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr double kCeilingRatio = 1.01;

void runSearch(benchmark::State& state, const BusDescription& description, int mode,
               std::span<const int> codes) {
    if (!floorKnown(description)) {
        failBenchmark(state, "no floor for a bus with control-table overrides");
        return;
    }
    const TimeFloor floor = searchFloor(description, codes);
    const int expected = devicesOn(description, codes);
    double measuredUs = 0.0;
    int found = 0;
    int result = Success;
    for (auto _ : state) {
        state.PauseTiming();
        SimRig rig(description);
        VirtualClock& clock = rig.clock;
        std::unique_ptr<DeviceRegistry>& registry = rig.registry;
        if (!rig.open()) {
            failBenchmark(state, "the simulated adapter did not open");
            return;
        }
        SearchEngine engine(*registry);
        state.ResumeTiming();

        const std::int64_t start = clock.nowUs();
        result = engine.search(mode);
        measuredUs = static_cast<double>(clock.nowUs() - start);
        state.SetIterationTime(measuredUs / 1e6);

        state.PauseTiming();
        found = registry->deviceCount();
        registry.reset();
        state.ResumeTiming();
    }
    if (result != Success || found != expected) {
        failBenchmark(state, "the search did not find every device");
        return;
    }
    checkAgainstFloor(state, measuredUs, floor.floorUs, kCeilingRatio, floor.hiddenWireUs);
    state.counters["replies"] = floor.replies;
    state.counters["devices"] = found;
}

struct FastCase {
    BusDescription bus;
    int mode;
    std::span<const int> codes;
    std::int64_t latencyUs;
    bool latencyKnown;
    double ceiling;  // of measured / the standard search's floor
};

// The built-in bus with its devices' broadcast answers spaced out by ID.
BusDescription spacedDefaultBus() {
    BusDescription bus = SimulatedBus::defaultBus();
    bus.broadcastSpacingUs = 300;
    return bus;
}

void runFastSearch(benchmark::State& state, const FastCase& c) {
    BusDescription description = c.bus;
    description.receiveLatencyUs = c.latencyUs;
    const TimeFloor standard = searchFloor(description, c.codes);
    const double wireFloor = wireFloorUs(description, c.codes, static_cast<double>(c.latencyUs));
    const double fastFloor = fastFloorUs(description, c.codes, static_cast<double>(c.latencyUs));
    const int expected = devicesOn(description, c.codes);
    double measuredUs = 0.0;
    int found = 0;
    int result = Success;
    for (auto _ : state) {
        state.PauseTiming();
        SimRig rig(description, c.latencyKnown);
        if (!rig.open()) {
            failBenchmark(state, "the simulated adapter did not open");
            return;
        }
        SearchEngine engine(*rig.registry);
        state.ResumeTiming();
        const std::int64_t start = rig.clock.nowUs();
        result = engine.fastSearch(c.mode);
        measuredUs = static_cast<double>(rig.clock.nowUs() - start);
        state.SetIterationTime(measuredUs / 1e6);
        state.PauseTiming();
        found = rig.registry->deviceCount();
        rig.registry.reset();
        state.ResumeTiming();
    }
    if (result != Success || found != expected) {
        failBenchmark(state, "the fast search did not find every device");
        return;
    }
    state.counters["measured_ms"] = measuredUs / 1000.0;
    state.counters["standard_floor_ms"] = standard.floorUs / 1000.0;
    state.counters["floor_ms"] = fastFloor / 1000.0;
    state.counters["wire_floor_ms"] = wireFloor / 1000.0;
    state.counters["of_standard"] = measuredUs / standard.floorUs;
    state.counters["of_floor"] = measuredUs / fastFloor;
    state.counters["ceiling"] = c.ceiling;
    state.counters["devices"] = found;
    state.counters["spacing_us"] = static_cast<double>(description.broadcastSpacingUs);
    if (measuredUs < fastFloor) {
        failBenchmark(state, "measured below its floor: the floor or the code is wrong");
    } else if (measuredUs / standard.floorUs > c.ceiling) {
        failBenchmark(state, "above the ceiling of " + std::to_string(c.ceiling) +
                                 " of the standard search's floor");
    }
}

void BM_FastQuickEmptyBus(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, QuickSearch, kQuickCodes, 1000, true, 1.0 / 20});
}
BENCHMARK(BM_FastQuickEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBus(benchmark::State& state) {
    runFastSearch(state,
                  {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 1000, true, 1.0 / 5});
}
BENCHMARK(BM_FastQuickDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullEmptyBus(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, FullSearch, kFullCodes, 1000, true, 1.0 / 30});
}
BENCHMARK(BM_FastFullEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullEmptyBusLatencyUnknown(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, FullSearch, kFullCodes, 16000, false, 1.0 / 20});
}
BENCHMARK(BM_FastFullEmptyBusLatencyUnknown)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBus16ms(benchmark::State& state) {
    runFastSearch(state,
                  {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 16000, true, 1.0 / 2});
}
BENCHMARK(BM_FastQuickDefaultBus16ms)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBus16msUnknown(benchmark::State& state) {
    runFastSearch(state,
                  {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 16000, false, 1.0 / 2});
}
BENCHMARK(BM_FastQuickDefaultBus16msUnknown)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullDefaultBus(benchmark::State& state) {
    runFastSearch(state,
                  {SimulatedBus::defaultBus(), FullSearch, kFullCodes, 1000, true, 1.0 / 10});
}
BENCHMARK(BM_FastFullDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

// Spaced broadcast answers.

void BM_FastQuickDefaultBusSpaced(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), QuickSearch, kQuickCodes, 1000, true, 0.4});
}
BENCHMARK(BM_FastQuickDefaultBusSpaced)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBusSpaced16ms(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), QuickSearch, kQuickCodes, 16000, true, 0.4});
}
BENCHMARK(BM_FastQuickDefaultBusSpaced16ms)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBusSpaced16msUnknown(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), QuickSearch, kQuickCodes, 16000, false, 0.4});
}
BENCHMARK(BM_FastQuickDefaultBusSpaced16msUnknown)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullDefaultBusSpaced(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), FullSearch, kFullCodes, 1000, true, 0.8});
}
BENCHMARK(BM_FastFullDefaultBusSpaced)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QuickSearchDefaultBusSpaced(benchmark::State& state) {
    runSearch(state, spacedDefaultBus(), QuickSearch, kQuickCodes);
}
BENCHMARK(BM_QuickSearchDefaultBusSpaced)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QuickSearchEmptyBus(benchmark::State& state) {
    runSearch(state, BusDescription{}, QuickSearch, kQuickCodes);
}
BENCHMARK(BM_QuickSearchEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QuickSearchDefaultBus(benchmark::State& state) {
    runSearch(state, SimulatedBus::defaultBus(), QuickSearch, kQuickCodes);
}
BENCHMARK(BM_QuickSearchDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FullSearchEmptyBus(benchmark::State& state) {
    runSearch(state, BusDescription{}, FullSearch, kFullCodes);
}
BENCHMARK(BM_FullSearchEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FullSearchDefaultBus(benchmark::State& state) {
    runSearch(state, SimulatedBus::defaultBus(), FullSearch, kFullCodes);
}
BENCHMARK(BM_FullSearchDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::runBenchmarks(argc, argv);
}
