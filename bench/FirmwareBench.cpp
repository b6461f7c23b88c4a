// Firmware download of a full-size image (65526 bytes) to the one device of a simulated bus,
// in virtual time, against the floor of its fixed waits and wire time.
//
// The registry is filled by a quick search first (not timed), which leaves the link at the
// last code of the quick list. Floor of the download, with the target at code c and the
// loader at code 34:
//   readiness:   100 ms to tune back to c; ping: 6 + 6 bytes + return delay
//   loader arm:  two keyed writes, each 12 bytes + 10 ms + read-back of one byte
//                (8 + 7 bytes + return delay)
//   250 ms; 100 ms rate change to code 34
//   one attempt: 0x0D (1 byte) + 100 ms + 0x4C (1 byte) + 100 ms
//                + the image and its checksum byte, 65527 bytes, + 300 ms
//                + the untimed reply read (1 ms: "Success" is shorter than the 128 asked for)
//   closing:     100 ms + 0x41 (1 byte) + 100 ms + 0x47 (1 byte) + 100 ms
//   restart:     100 ms to tune back to c; instruction 7: 6 + 6 bytes + return delay;
//                100 ms rate change to the restart code (1 for model 12, else 34) when it
//                differs from c; 1000 ms; write of the baud-rate register at the restart
//                code: 8 + 6 bytes + return delay
//   wire time: 10 bits per byte at the code's unrounded rate; return delay: 2 us per unit.
//
// The parts are summed. An adapter's write returns once no more than its transmit buffer
// (128 bytes on the simulated adapter) is still to go out, so the wire time of an unanswered
// write runs under the wait that follows it: the keyed writes' requests, the four loader
// control bytes and the image's last 128 bytes. The floor, a true lower bound, leaves that
// wire time out.
//
// Ceiling: 1.01 x the floor. Beyond the floor the simulated adapter adds its 1 ms receive
// latency to each of the few replies and the wire time at the truncated integer rate (under
// 0.01 %): about 5 ms of 13.9 s. One percent leaves room for that and fails on a second
// loader attempt or a repeated settling wait.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "BusFloor.h"
#include "SimRig.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "firmware/FirmwareDownload.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"
#include "sim/FirmwareFileWriter.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr std::uint32_t kImageLength = 65526;
constexpr int kLoaderCode = 34;
constexpr int kFastRestartModel = 12;
constexpr std::uint8_t kNewVersion = 31;
constexpr int kKeyedWriteParameters = 6;
constexpr double kKeyedWriteSettleUs = 10000.0;
constexpr double kMs = 1000.0;
constexpr double kTxBufferBytes = 128;
constexpr double kCeilingRatio = 1.01;

struct DownloadFloor {
    double floorUs = 0.0;
    double unansweredWireUs = 0.0;  // wire time that runs under a wait
};

DownloadFloor downloadFloor(const SimDeviceSpec& d, int linkCode) {
    const int c = d.code;
    const double delay = d.returnDelay * kReturnDelayUnitUs;
    auto change = [](int from, int to) { return from == to ? 0.0 : kBaudChangeWaitUs; };
    double us = 0.0;
    // Readiness: one pass, every device answers.
    us += change(linkCode, c) + wireUs(requestBytes(0) + replyBytes(0), c) + delay;
    // Loader arm: keyed writes to registers 250 and 45, each verified by a read-back.
    const double keyed = wireUs(requestBytes(kKeyedWriteParameters), c) + kKeyedWriteSettleUs +
                         wireUs(requestBytes(2) + replyBytes(1), c) + delay;
    us += 2 * keyed;
    us += 250 * kMs + change(c, kLoaderCode);
    // One loader attempt.
    us += wireUs(1, kLoaderCode) + 100 * kMs + wireUs(1, kLoaderCode) + 100 * kMs;
    us += wireUs(kImageLength + 1, kLoaderCode) + 300 * kMs + kUntimedReadUs;
    // Closing the loader dialogue.
    us += 100 * kMs + wireUs(1, kLoaderCode) + 100 * kMs + wireUs(1, kLoaderCode) + 100 * kMs;
    // Restart and write-back of the baud-rate register.
    const int restart = d.model == kFastRestartModel ? 1 : kLoaderCode;
    us += change(kLoaderCode, c) + wireUs(requestBytes(0) + replyBytes(0), c) + delay;
    us += change(c, restart) + 1000 * kMs;
    us += wireUs(requestBytes(2) + replyBytes(0), restart) + delay;

    DownloadFloor f;
    f.floorUs = us;
    f.unansweredWireUs = 2 * wireUs(requestBytes(kKeyedWriteParameters), c) +
                         4 * wireUs(1, kLoaderCode) + wireUs(kTxBufferBytes, kLoaderCode);
    return f;
}

void BM_FirmwareDownloadFullImage(benchmark::State& state) {
    SimDeviceSpec target;
    target.id = 1;
    target.code = 1;
    target.model = 28;
    target.version = 30;
    BusDescription description;
    description.devices.push_back(target);
    const std::vector<std::uint8_t> image =
        makeSimFirmwareImage(target.model, kNewVersion, kImageLength);
    const int linkCodeAfterSearch = kQuickCodes.back();
    const DownloadFloor floor = downloadFloor(target, linkCodeAfterSearch);

    double measuredUs = 0.0;
    bool accepted = false;
    for (auto _ : state) {
        state.PauseTiming();
        SimRig rig(description);
        VirtualClock& clock = rig.clock;
        SimulatedBus& bus = rig.bus;
        std::unique_ptr<DeviceRegistry>& registry = rig.registry;
        if (!rig.open() || SearchEngine(*registry).search(QuickSearch) != Success ||
            registry->deviceCount() != 1) {
            failBenchmark(state, "the target was not found");
            return;
        }
        FirmwareImage& firmware = registry->firmware;
        std::copy(image.begin(), image.end(), firmware.image.begin());
        firmware.imageLength = kImageLength;
        firmware.valid = 1;
        firmware.modelNumber = target.model;
        firmware.version = kNewVersion;
        BuildUpdateList(*registry, 0);
        state.ResumeTiming();

        const std::int64_t start = clock.nowUs();
        DownloadAll(*registry);
        measuredUs = static_cast<double>(clock.nowUs() - start);
        state.SetIterationTime(measuredUs / 1e6);

        state.PauseTiming();
        accepted = registry->updates.count == 1 && registry->updates.resultFlags[0] == 1 &&
                   bus.device(0).reg(2) == kNewVersion && bus.device(0).code() == target.code;
        registry.reset();
        state.ResumeTiming();
    }
    if (!accepted) {
        failBenchmark(state, "the device did not take the image");
        return;
    }
    checkAgainstFloor(state, measuredUs, floor.floorUs - floor.unansweredWireUs, kCeilingRatio,
                      floor.unansweredWireUs);
}
BENCHMARK(BM_FirmwareDownloadFullImage)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::runBenchmarks(argc, argv);
}
