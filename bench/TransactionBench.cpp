// Host overhead of one transaction: the CPU time of the packet path (encode, write, timed
// read of header and body, checksum, match) for a ping and a 26-byte read. The loopback
// adapter answers from a precomputed reply on a virtual clock, so nothing but our own code
// is measured. The same transactions over the simulated bus are given for comparison; there
// the device model and the wire timing add their share.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "BusFloor.h"
#include "LoopbackDriver.h"
#include "drivers/Clock.h"
#include "link/AdapterLink.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr std::uint8_t kId = 1;
constexpr std::uint8_t kCode = 1;
constexpr std::uint8_t kReadAddress = 24;
constexpr std::uint8_t kReadLength = 26;

struct LoopbackLink {
    VirtualClock clock;
    LoopbackDriver driver;
    std::unique_ptr<AdapterLink> link = AdapterLink::open(driver, clock, 0, kCode);
};

void BM_PingLoopback(benchmark::State& state) {
    LoopbackLink fixture;
    fixture.driver.device()->setReply(statusBytes(kId, {}));
    if (ping(*fixture.link, kId) != Success) {
        state.SkipWithError("ping over the loopback failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(ping(*fixture.link, kId));
    }
}
BENCHMARK(BM_PingLoopback);

void BM_Read26Loopback(benchmark::State& state) {
    LoopbackLink fixture;
    std::vector<std::uint8_t> data(kReadLength);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    fixture.driver.device()->setReply(statusBytes(kId, data));
    std::uint8_t out[kReadLength] = {};
    if (readBlock(*fixture.link, kId, kReadAddress, kReadLength, out) != Success ||
        out[25] != data[25]) {
        state.SkipWithError("read over the loopback failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(readBlock(*fixture.link, kId, kReadAddress, kReadLength, out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Read26Loopback);

// Over the simulated default bus (device ID 1 at code 1). The virtual time per operation is
// reported as a counter: request and reply on the wire, the device's return delay and the
// simulated USB latency.
struct SimLink {
    VirtualClock clock;
    SimulatedBus bus{SimulatedBus::defaultBus(), clock};
    SimDriver driver{bus};
    std::unique_ptr<AdapterLink> link = AdapterLink::open(driver, clock, 0, kCode);
};

template <typename Op>
void runOnSim(benchmark::State& state, Op op) {
    SimLink fixture;
    if (!fixture.link || op(*fixture.link) != Success) {
        state.SkipWithError("transaction over the simulated bus failed");
        return;
    }
    const std::int64_t start = fixture.clock.nowUs();
    for (auto _ : state) {
        benchmark::DoNotOptimize(op(*fixture.link));
    }
    const double virtualUs = static_cast<double>(fixture.clock.nowUs() - start);
    state.counters["virtual_us_per_op"] =
        benchmark::Counter(virtualUs / static_cast<double>(state.iterations()));
}

void BM_PingSimBus(benchmark::State& state) {
    runOnSim(state, [](AdapterLink& link) { return ping(link, kId); });
}
BENCHMARK(BM_PingSimBus);

void BM_Read26SimBus(benchmark::State& state) {
    runOnSim(state, [](AdapterLink& link) {
        std::uint8_t out[kReadLength];
        return readBlock(link, kId, kReadAddress, kReadLength, out);
    });
}
BENCHMARK(BM_Read26SimBus);

}  // namespace
}  // namespace mvx::bench

BENCHMARK_MAIN();
