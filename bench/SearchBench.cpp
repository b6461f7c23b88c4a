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
// against the standard search's floor above, whose ratio must stay below the case's ceiling,
// and against its own floor (SearchFloor.h's fastFloorUs: wire time, return delays and latency,
// and the 500 ms broadcast wait at each code where a device answers), which it can never go
// below; the wire floor (wireFloorUs, no wait at all) is reported beside it. The devices found
// must be the standard search's, and a sure search must say it is sure. Both models of the
// answers to a broadcast: prompt (every device answers within its return delay, one after
// another) and spaced out by ID (0.3 ms a unit of the ID: ID 253 answers 76 ms late).
//
// Ceilings, from the protocol's figures: the sure search listens 500 ms at every code, where
// the standard search spends 600 ms (its 100 ms rate-change pause and the 500 ms), and walks
// the codes with devices as the fast search always did: a quick search of the built-in bus,
// prompt or spaced, nine 500 ms waits and three walks, about 0.28 of the standard floor: held
// to 0.30; an empty bus, 500 of 600 ms a code: held to 0.9 (fails on the 100 ms rate pause).
// The quick look (FastSearchOptions::quickLook) keeps the short waits: a full search of the
// empty bus held to 1/20 of the standard floor. A sure full search of the prompt built-in bus
// visits the common codes first: the last device is found (last_found_ms) within 1/10 of the
// standard floor, while the whole search takes about 0.85 of it.
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
    bool quickLook = false;
    double lastFoundCeiling = 0.0;  // of the time to the last device found / the standard floor
};

// The virtual time at which the last device was found.
class LastFound final : public SearchObserver {
public:
    explicit LastFound(Clock& clock) : clock_(clock) {}
    void deviceFound(const DeviceSummary&) override { atUs = clock_.nowUs(); }
    void makingSure(int, int, int) override {}
    std::int64_t atUs = -1;

private:
    Clock& clock_;
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
    double lastFoundUs = 0.0;
    bool sure = false;
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
        LastFound last(rig.clock);
        state.ResumeTiming();
        const std::int64_t start = rig.clock.nowUs();
        result = engine.fastSearch(c.mode, {.quickLook = c.quickLook, .observer = &last});
        measuredUs = static_cast<double>(rig.clock.nowUs() - start);
        lastFoundUs = last.atUs < 0 ? 0.0 : static_cast<double>(last.atUs - start);
        sure = engine.lastSearchSure();
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
    if (!c.quickLook && !sure) {
        failBenchmark(state, "the sure search did not say it was sure");
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
    if (c.lastFoundCeiling > 0.0) {
        state.counters["last_found_ms"] = lastFoundUs / 1000.0;
        state.counters["last_found_of_standard"] = lastFoundUs / standard.floorUs;
        state.counters["last_found_ceiling"] = c.lastFoundCeiling;
    }
    if (measuredUs < fastFloor) {
        failBenchmark(state, "measured below its floor: the floor or the code is wrong");
    } else if (measuredUs / standard.floorUs > c.ceiling) {
        failBenchmark(state, "above the ceiling of " + std::to_string(c.ceiling) +
                                 " of the standard search's floor");
    } else if (c.lastFoundCeiling > 0.0 && lastFoundUs / standard.floorUs > c.lastFoundCeiling) {
        failBenchmark(state, "the last device found later than " +
                                 std::to_string(c.lastFoundCeiling) +
                                 " of the standard search's floor");
    }
}

void BM_FastQuickEmptyBus(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, QuickSearch, kQuickCodes, 1000, true, 0.9});
}
BENCHMARK(BM_FastQuickEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBus(benchmark::State& state) {
    runFastSearch(state, {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 1000, true, 0.30});
}
BENCHMARK(BM_FastQuickDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullEmptyBus(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, FullSearch, kFullCodes, 1000, true, 0.9});
}
BENCHMARK(BM_FastFullEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullEmptyBusLatencyUnknown(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, FullSearch, kFullCodes, 16000, false, 0.9});
}
BENCHMARK(BM_FastFullEmptyBusLatencyUnknown)->UseManualTime()->Unit(benchmark::kMillisecond);

// The quick look (scan --full --fast --quick-look): the short waits at the silent codes.
void BM_FastFullEmptyBusQuickLook(benchmark::State& state) {
    runFastSearch(state, {BusDescription{}, FullSearch, kFullCodes, 1000, true, 1.0 / 20, true});
}
BENCHMARK(BM_FastFullEmptyBusQuickLook)->UseManualTime()->Unit(benchmark::kMillisecond);
void BM_FastQuickDefaultBusQuickLook(benchmark::State& state) {
    runFastSearch(state,
                  {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 1000, true, 0.30, true});
}
BENCHMARK(BM_FastQuickDefaultBusQuickLook)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBus16ms(benchmark::State& state) {
    runFastSearch(state, {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 16000, true, 0.35});
}
BENCHMARK(BM_FastQuickDefaultBus16ms)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBus16msUnknown(benchmark::State& state) {
    runFastSearch(state,
                  {SimulatedBus::defaultBus(), QuickSearch, kQuickCodes, 16000, false, 0.35});
}
BENCHMARK(BM_FastQuickDefaultBus16msUnknown)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullDefaultBus(benchmark::State& state) {
    runFastSearch(state, {SimulatedBus::defaultBus(), FullSearch, kFullCodes, 1000, true, 0.9,
                          false, 1.0 / 10});
}
BENCHMARK(BM_FastFullDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

// Spaced broadcast answers.

void BM_FastQuickDefaultBusSpaced(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), QuickSearch, kQuickCodes, 1000, true, 0.30});
}
BENCHMARK(BM_FastQuickDefaultBusSpaced)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBusSpaced16ms(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), QuickSearch, kQuickCodes, 16000, true, 0.35});
}
BENCHMARK(BM_FastQuickDefaultBusSpaced16ms)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastQuickDefaultBusSpaced16msUnknown(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), QuickSearch, kQuickCodes, 16000, false, 0.35});
}
BENCHMARK(BM_FastQuickDefaultBusSpaced16msUnknown)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FastFullDefaultBusSpaced(benchmark::State& state) {
    runFastSearch(state, {spacedDefaultBus(), FullSearch, kFullCodes, 1000, true, 0.9});
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
