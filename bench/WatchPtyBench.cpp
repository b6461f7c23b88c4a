// `movantrix-cli watch` against movantrix-bus-sim on a pseudo-terminal, in real time. A plain
// program: watch_pty_bench (about 20 s).
//
// Case 1, the stream at 100 Hz: ID 1 at code 1 for 10 s. Delivered: the lines that arrived,
// at least 99 % of 1000; the 99th percentile of the gaps between consecutive samples (their
// time_s) at most 15 ms. The gaps as the lines arrived on the pipe are shown beside them.
//
// Case 2, the highest sustained rate: watch at 200 Hz (the most it is asked for) for 3 s at
// codes 1, 34 and 207, next to the wire limit of one status read there: request (8 bytes) and
// reply (32 bytes) on the wire at 10 bits a byte, the device's return delay (2 us a unit) and
// the 1 ms the simulated adapter takes to hand each byte to the host. The floor of the mean
// interval between samples is that limit, or 5 ms where the limit is faster than 200 Hz. A
// mean interval below its floor means the floor or the code is wrong; the ceiling is 1.15:
// beyond the floor come, per read, the wake-ups of the two processes around the pty (a few
// tenths of a millisecond each on a loaded machine) and the serial backend's poll; 15 % of the
// 8 ms at code 34 is 1.2 ms a read, and one more timed wait or rate change a read would be
// far above it.
// The program exits with 1 when a case fails.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "BusFloor.h"
#include "FloorVerdict.h"
#include "SearchFloor.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr double kUsbLatencyUs = 1000.0;  // the simulated adapter's receive latency
constexpr int kStatusRequestParams = 2;   // address 24, length 26
constexpr int kStatusLength = 26;
constexpr double kMostAskedHz = 200.0;
constexpr double kRateCeiling = 1.15;
constexpr double kStreamHz = 100.0;
constexpr double kStreamSeconds = 10.0;
constexpr double kDeliveredShare = 0.99;
constexpr double kGapP99LimitMs = 15.0;

// One watch run: the sample times of its lines and when each line arrived.
struct Stream {
    int status = -1;
    std::vector<double> sampleS;   // time_s of each data line
    std::vector<double> arrivedS;  // arrival of each data line on the pipe, from the first
};

Stream watch(const std::string& pty, int id, int code, double hz, double seconds) {
    const std::vector<std::string> args = {
        MVX_CLI_PROGRAM, "--port",           pty,          "watch",
        "--id",          std::to_string(id), "--baud",     std::to_string(code),
        "--rate",        std::to_string(hz), "--duration", std::to_string(seconds)};
    Stream stream;
    int out = -1;
    const pid_t pid = spawnWithOutput(args, out, true);
    if (pid < 0) {
        return stream;
    }
    std::string pending;
    bool header = true;
    std::int64_t firstUs = -1;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        const std::int64_t now = monotonicUs();
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (header) {
                header = false;
                continue;
            }
            firstUs = firstUs < 0 ? now : firstUs;
            stream.sampleS.push_back(std::atof(line.c_str()));
            stream.arrivedS.push_back(static_cast<double>(now - firstUs) / 1e6);
        }
    }
    ::close(out);
    stream.status = waitFor(pid);
    return stream;
}

// The `share` quantile of the gaps between consecutive times, in ms.
double gapQuantileMs(const std::vector<double>& times, double share) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i) {
        gaps.push_back((times[i] - times[i - 1]) * 1000.0);
    }
    if (gaps.empty()) {
        return 0.0;
    }
    std::sort(gaps.begin(), gaps.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(gaps.size() - 1));
    return gaps[at];
}

bool streamCase(const std::string& pty) {
    const Stream s = watch(pty, 1, 1, kStreamHz, kStreamSeconds);
    const double wanted = kStreamHz * kStreamSeconds;
    const double delivered = static_cast<double>(s.sampleS.size()) / wanted;
    const double p99 = gapQuantileMs(s.sampleS, 0.99);
    const double arrivedP99 = gapQuantileMs(s.arrivedS, 0.99);
    const bool ok = s.status == 0 && delivered >= kDeliveredShare && p99 <= kGapP99LimitMs;
    std::printf(
        "100 Hz, ID 1 at code 1, 10 s: %zu of %.0f samples (%.1f %%, at least %.0f %%), "
        "p99 gap %.2f ms (at most %.0f ms; %.2f ms as the lines arrived), status %d: %s\n",
        s.sampleS.size(), wanted, delivered * 100.0, kDeliveredShare * 100.0, p99, kGapP99LimitMs,
        arrivedP99, s.status, ok ? "ok" : "FAILED");
    std::fflush(stdout);
    return ok;
}

bool rateCase(const std::string& pty, const SimDeviceSpec& device) {
    const int code = device.code;
    const double readUs =
        wireUs(requestBytes(kStatusRequestParams) + replyBytes(kStatusLength), code) +
        device.returnDelay * kReturnDelayUnitUs + kUsbLatencyUs;
    const double floorUs = std::max(readUs, 1e6 / kMostAskedHz);
    const Stream s = watch(pty, device.id, code, kMostAskedHz, 3.0);
    if (s.status != 0 || s.sampleS.size() < 3) {
        std::printf("code %3d: the command failed (exit status %d)\n", code, s.status);
        return false;
    }
    const double span = s.sampleS.back() - s.sampleS.front();
    const double meanUs = span * 1e6 / static_cast<double>(s.sampleS.size() - 1);
    const FloorVerdict verdict = judgeAgainstFloor(meanUs, floorUs, kRateCeiling);
    std::printf(
        "code %3d (ID %3d): wire limit %7.1f Hz (%6.2f ms a read), sustained %7.1f Hz "
        "(mean interval %6.2f ms), ratio %.4f, ceiling %.2f: %s\n",
        code, device.id, 1e6 / readUs, readUs / 1000.0, 1e6 / meanUs, meanUs / 1000.0,
        verdict.ratio, kRateCeiling, verdict.failed() ? verdict.why(kRateCeiling).c_str() : "ok");
    std::fflush(stdout);
    return !verdict.failed();
}

}  // namespace
}  // namespace mvx::bench

int main(int argc, char**) {
    using namespace mvx::bench;
    if (argc != 1) {
        std::fprintf(stderr, "usage: watch_pty_bench\n");
        return 2;
    }
    const mvx::BusDescription bus = mvx::SimulatedBus::defaultBus();
    const BusSim sim(MVX_BUS_SIM_PROGRAM);
    if (sim.path().empty()) {
        std::fprintf(stderr, "watch_pty_bench: movantrix-bus-sim did not start\n");
        return 1;
    }
    std::printf("movantrix-cli watch over movantrix-bus-sim on a pty, real time\n");
    bool ok = streamCase(sim.path());
    for (const auto& [code, id] : {std::pair{1, 1}, std::pair{34, 7}, std::pair{207, 21}}) {
        const mvx::SimDeviceSpec* device = deviceAt(bus, code, id);
        if (device == nullptr) {
            std::fprintf(stderr, "watch_pty_bench: no ID %d at code %d on the default bus\n", id,
                         code);
            return 1;
        }
        ok = rateCase(sim.path(), *device) && ok;
    }
    return ok ? 0 : 1;
}
