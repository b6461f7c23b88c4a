// What the library adds to a register read: Device::read("present-position") through
// libmovantrix on the simulated bus on virtual time, against the same two-byte read made with
// the core's readBlock on a link to the same bus. Both pay the device model and the packet path;
// the difference is the library's own share (the lock, the registry look-up, the name, the
// value). The Python module's figure is measured against this read. Fails when the library
// adds more than kCeilingUs per read.
#include <benchmark/benchmark.h>

#include <movantrix/movantrix.h>
#include <chrono>
#include <memory>

#include "BenchMain.h"
#include "drivers/Clock.h"
#include "link/AdapterLink.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr double kCeilingUs = 20.0;
constexpr int kCoreReads = 20000;

// Microseconds of CPU per two-byte read of present-position with the core alone.
double coreReadUs() {
    VirtualClock clock;
    SimulatedBus bus{SimulatedBus::defaultBus(), clock};
    SimDriver driver{bus};
    const std::unique_ptr<AdapterLink> link = AdapterLink::open(driver, clock, 0, 1);
    std::uint8_t out[2] = {};
    for (int i = 0; i < 1000 && link; ++i) {
        readBlock(*link, 1, 36, 2, out);
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCoreReads; ++i) {
        if (!link || readBlock(*link, 1, 36, 2, out) != Success) {
            return -1;
        }
    }
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    return spent.count() / kCoreReads;
}

void BM_LibraryReadByName(benchmark::State& state) {
    const double coreUs = coreReadUs();
    if (coreUs < 0) {
        failBenchmark(state, "the core's read failed");
        return;
    }
    movantrix::Bus bus = movantrix::open("sim", movantrix::OpenOptions{.virtualTime = true});
    const movantrix::Device device = bus.device(1, 1);
    for (int i = 0; i < 1000; ++i) {  // warm: the first reads fill the caches and the heap
        benchmark::DoNotOptimize(device.read("present-position"));
    }
    const auto start = std::chrono::steady_clock::now();
    std::int64_t reads = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(device.read("present-position"));
        ++reads;
    }
    const std::chrono::duration<double, std::micro> spent =
        std::chrono::steady_clock::now() - start;
    const double libraryUs = spent.count() / static_cast<double>(std::max<std::int64_t>(reads, 1));
    state.counters["core_us"] = coreUs;
    state.counters["library_us"] = libraryUs;
    state.counters["added_us"] = libraryUs - coreUs;
    state.counters["ceiling_us"] = kCeilingUs;
    // Judged on a run long enough to mean something (the first runs are a few reads).
    if (reads >= 1000 && libraryUs - coreUs > kCeilingUs) {
        failBenchmark(state, "the library adds " + std::to_string(libraryUs - coreUs) +
                                 " us per read, above the ceiling");
    }
}
BENCHMARK(BM_LibraryReadByName)->MinTime(0.5);

// A watch at 1000 Hz on virtual time: the CPU per sample the library spends beside the read.
void BM_LibraryWatchSample(benchmark::State& state) {
    movantrix::Bus bus = movantrix::open("sim", movantrix::OpenOptions{.virtualTime = true});
    movantrix::Watch watch = bus.watch(bus.device(1, 1), {}, 1000.0);
    for (auto _ : state) {
        const std::optional<movantrix::Sample> sample = watch.next();
        if (!sample || !sample->ok) {
            failBenchmark(state, "a sample failed");
            return;
        }
        benchmark::DoNotOptimize(sample->values.size());
    }
}
BENCHMARK(BM_LibraryWatchSample)->MinTime(0.5);

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::runBenchmarks(argc, argv);
}
