// CPU cost of flashing every device of one model on a simulated bus of N such devices, in
// virtual time: how the simulated bus's own work grows with the number of devices.
//
// The download pings every device of the registry before each device's update, so it sends
// N * N pings for N devices whatever the bus does; what the bus adds per byte must not grow
// with the devices that merely hear it. The devices (model 28, 4096-byte image) fill code 1
// with IDs 1-200, then code 3; the update list stops at 256 devices. The registry is filled
// by probing each device (not timed); the counters give the thread's CPU time for the whole
// download and per device updated.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <vector>

#include "SimRig.h"
#include "firmware/FirmwareDownload.h"
#include "protocol/ResultCode.h"
#include "sim/FirmwareFileWriter.h"

namespace mvx::bench {
namespace {

constexpr std::uint16_t kModel = 28;
constexpr std::uint8_t kNewVersion = 31;
constexpr std::uint32_t kImageLength = 4096;
constexpr int kIdsPerCode = 200;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

BusDescription busOf(int count) {
    BusDescription description;
    for (int i = 0; i < count; ++i) {
        SimDeviceSpec device;
        device.code = i < kIdsPerCode ? 1 : 3;
        device.id = static_cast<std::uint8_t>(i % kIdsPerCode + 1);
        device.model = kModel;
        description.devices.push_back(device);
    }
    return description;
}

void BM_FlashEveryDevice(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const BusDescription description = busOf(count);
    const std::vector<std::uint8_t> image = makeSimFirmwareImage(kModel, kNewVersion, kImageLength);
    double cpuSeconds = 0.0;
    int updated = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SimRig rig(description);
        if (!rig.open()) {
            state.SkipWithError("the simulated adapter did not open");
            return;
        }
        DeviceRegistry& registry = *rig.registry;
        for (const SimDeviceSpec& device : description.devices) {
            if (registry.appendPlaceholder()->probe(device.code, device.id) != Success) {
                state.SkipWithError("a device did not answer its probe");
                return;
            }
        }
        FirmwareImage& firmware = registry.firmware;
        std::copy(image.begin(), image.end(), firmware.image.begin());
        firmware.imageLength = kImageLength;
        firmware.valid = 1;
        firmware.modelNumber = kModel;
        firmware.version = kNewVersion;
        BuildUpdateList(registry, 0);
        state.ResumeTiming();

        const double before = threadCpuSeconds();
        DownloadAll(registry);
        cpuSeconds = threadCpuSeconds() - before;

        state.PauseTiming();
        updated = static_cast<int>(
            std::count(registry.updates.resultFlags.begin(),
                       registry.updates.resultFlags.begin() + registry.updates.count,
                       std::uint8_t{UpdateSucceeded}));
        rig.registry.reset();
        state.ResumeTiming();
    }
    if (updated != std::min(count, kUpdateListCapacity)) {
        state.SkipWithError("not every device took the image");
        return;
    }
    state.counters["devices_updated"] = updated;
    state.counters["cpu_ms"] = cpuSeconds * 1000.0;
    state.counters["cpu_ms_per_device"] = cpuSeconds * 1000.0 / updated;
}
BENCHMARK(BM_FlashEveryDevice)
    ->Arg(25)
    ->Arg(50)
    ->Arg(100)
    ->Arg(200)
    ->Arg(300)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mvx::bench

BENCHMARK_MAIN();
