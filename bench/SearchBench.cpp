// Quick search of the simulated bus in virtual time, against the floor that the search's
// fixed waits, the read timeouts of absent IDs and the wire time of present devices impose.
//
// Floor of a quick search, walking the nine codes in order (the link was opened at code 1):
//   per code:      100 ms baud-change wait when the code differs from the previous one
//                  + wire time of the broadcast ping (6 bytes)
//                  + 500 ms for the answers + 1 ms untimed read that ends the answer count
//   at a code where a device answered, per ID 0-253:
//     absent ID:   wire time of the ping (6 bytes) + the timed read timeout of the 4-byte
//                  reply header: integer part of (byteTime x 4 + margin) ms, byteTime =
//                  12000 / rate ms, margin 20 ms below code 103, 60 ms from it on
//     present ID:  ping: 6 + 6 bytes on the wire + return delay
//                  identity read (17 bytes from address 0): 8 + 23 bytes + return delay
//                  actuator at return level 1 or 2: servo record load (44 bytes from
//                  address 6): 8 + 50 bytes + return delay
//                  return level 0: the identity read gets no reply, so 8 bytes + the timed
//                  read timeout of 4 bytes, then a second ping (6 + 6 bytes + return delay)
//   wire time:     10 bits per byte at the code's rate; return delay: 2 us per unit.
//
// A write returns before its bytes are on the wire, so the wire time of an unanswered
// packet (broadcast ping, ping of an absent ID, identity read of a level-0 device) runs
// under the wait or timeout that follows it. The tight floor leaves that wire time out;
// the floor above counts it, as a sum of the parts.
#include <benchmark/benchmark.h>

#include <memory>

#include "BusFloor.h"
#include "SimRig.h"
#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "drivers/Clock.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr int kIdsPerCode = 254;
constexpr int kOpenCode = 1;
constexpr double kBroadcastWaitUs = 500000.0;
constexpr int kPingParameters = 0;
constexpr int kReadParameters = 2;
constexpr int kIdentityLength = 17;
constexpr int kRecordLength = 44;
constexpr std::uint32_t kHeaderBytes = 4;

struct SearchFloor {
    double floorUs = 0.0;
    double unansweredWireUs = 0.0;  // wire time that runs under a wait or timeout
    int replies = 0;                // status packets the per-ID walk receives
};

const SimDeviceSpec* deviceAt(const BusDescription& bus, int code, int id) {
    for (const SimDeviceSpec& deviceSpec : bus.devices) {
        if (deviceSpec.code == code && deviceSpec.id == id) {
            return &deviceSpec;
        }
    }
    return nullptr;
}

bool anyDeviceAt(const BusDescription& bus, int code) {
    for (const SimDeviceSpec& deviceSpec : bus.devices) {
        if (deviceSpec.code == code) {
            return true;
        }
    }
    return false;
}

SearchFloor quickSearchFloor(const BusDescription& bus) {
    SearchFloor f;
    // A request that is answered: request and reply on the wire plus the return delay.
    auto exchange = [&f](int code, int requestParams, int replyData, const SimDeviceSpec& d) {
        f.floorUs += wireUs(requestBytes(requestParams) + replyBytes(replyData), code) +
                     d.returnDelay * kReturnDelayUnitUs;
        ++f.replies;
    };
    // A request that is not answered: its wire time, then the timed header read runs out.
    auto unanswered = [&f](int code, int requestParams) {
        const double wire = wireUs(requestBytes(requestParams), code);
        f.floorUs += wire + timedReadUs(kHeaderBytes, code);
        f.unansweredWireUs += wire;
    };

    int current = kOpenCode;
    for (const std::uint8_t code : kQuickSearchCodes) {
        if (code != current) {
            f.floorUs += kBaudChangeWaitUs;
            current = code;
        }
        const double broadcastWire = wireUs(requestBytes(kPingParameters), code);
        f.floorUs += broadcastWire + kBroadcastWaitUs + kUntimedReadUs;
        f.unansweredWireUs += broadcastWire;
        if (!anyDeviceAt(bus, code)) {
            continue;
        }
        for (int id = 0; id < kIdsPerCode; ++id) {
            const SimDeviceSpec* d = deviceAt(bus, code, id);
            if (d == nullptr) {
                unanswered(code, kPingParameters);
                continue;
            }
            exchange(code, kPingParameters, 0, *d);
            if (d->returnLevel == 0) {
                unanswered(code, kReadParameters);
                exchange(code, kPingParameters, 0, *d);
                continue;
            }
            exchange(code, kReadParameters, kIdentityLength, *d);
            if (classify(d->model) == Actuator) {
                exchange(code, kReadParameters, kRecordLength, *d);
            }
        }
    }
    return f;
}

void runQuickSearch(benchmark::State& state, const BusDescription& description) {
    const SearchFloor floor = quickSearchFloor(description);
    double measuredUs = 0.0;
    int found = 0;
    int result = Success;
    for (auto _ : state) {
        state.PauseTiming();
        SimRig rig(description);
        VirtualClock& clock = rig.clock;
        std::unique_ptr<DeviceRegistry>& registry = rig.registry;
        if (!rig.open()) {
            state.SkipWithError("the simulated adapter did not open");
            return;
        }
        SearchEngine engine(*registry);
        state.ResumeTiming();

        const std::int64_t start = clock.nowUs();
        result = engine.search(QuickSearch);
        measuredUs = static_cast<double>(clock.nowUs() - start);
        state.SetIterationTime(measuredUs / 1e6);

        state.PauseTiming();
        found = registry->deviceCount();
        registry.reset();
        state.ResumeTiming();
    }
    if (result != Success || found != static_cast<int>(description.devices.size())) {
        state.SkipWithError("the search did not find every device");
        return;
    }
    reportAgainstFloor(state, measuredUs, floor.floorUs, floor.unansweredWireUs);
    state.counters["replies"] = floor.replies;
    state.counters["devices"] = found;
}

void BM_QuickSearchEmptyBus(benchmark::State& state) {
    runQuickSearch(state, BusDescription{});
}
BENCHMARK(BM_QuickSearchEmptyBus)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_QuickSearchDefaultBus(benchmark::State& state) {
    runQuickSearch(state, SimulatedBus::defaultBus());
}
BENCHMARK(BM_QuickSearchDefaultBus)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mvx::bench

BENCHMARK_MAIN();
