// movantrix-cli against movantrix-bus-sim on a pseudo-terminal, in real time: the wall time
// of whole command runs (process start to exit) against the floor of what they ask of the
// bus. A plain program: cli_pty_bench [--runs N] (3 runs of each case by default).
//
// The cases: a quick scan of the default simulated bus and of an empty bus, a ping and a
// read of two bytes of the slow actuator (ID 21 at code 207) of the default bus. Each floor
// is the link's open (the first rate setting and the bit-mode switch, 100 ms each) plus the
// floor of the requests (SearchFloor.h). The route through the pty has no USB adapter: the
// serial backend's write returns while its bytes are still on their way, and the bus server
// puts them on the simulated wire when it reads them from the pty, so they take their wire
// time from then on; replies are held back until their last bit (plus the simulated 1 ms
// receive latency) has passed on the real clock. So the wire time of an answered request
// and its reply are both spent in real time, and the floors hold as they do in virtual time.
//
// Verdict: every run must take at least its floor, and the fastest run of a case must stay
// within the case's ceiling ratio (the fastest, because load on a shared machine only adds
// time). Ceilings: 1.10 for the scans: beyond the floor come the process start and exit
// (tens of ms), the 1 ms receive latency of each reply and the wake-up delay of the two
// processes around each of about 800 timed waits, a few tenths of a millisecond each on a
// loaded machine; 10 % allows 3 s on the default bus and fails on, say, an extra rate-change
// wait at every code of an empty-bus scan (16 %). 1.5 for the ping and the read: their
// floors are only 0.3-0.4 s, and starting and ending a process on a loaded machine takes
// from a few to a hundred milliseconds or more (10-35 ms over the floor were seen).
//
// Then the fast scan against the same server with its adapter's receive latency at 1 ms and at
// 16 ms (--latency-ms; the pty reports no latency, so the search assumes 16 ms until it has
// timed replies): `scan --fast --json` must list every device of the bus, and print exactly what
// `scan --json` prints where that found them all (at 16 ms the standard scan's read margins
// are nearly used up and it may miss one); each is timed in the same run: the fastest fast run
// against its floor (the open plus SearchFloor.h's fastFloorUs), and its ratio to the standard
// scan. Ceiling of that ratio: 0.25 at 1 ms (about 0.19 is expected: the walk's reply windows, 4.1
// s of the 31.7 s, the standard 500 ms broadcast wait at the three codes with devices and the
// process start), 0.35 at 16 ms (each probe's round trips take 16 ms more). Last, the same at 1 ms
// with the devices' broadcast answers spaced out by ID (--broadcast-spacing-us 300: ID 100
// answers 30 ms late): once it has seen a late answer the fast scan waits the standard 500 ms at
// every code; ceiling 0.4 (about 0.3 is expected). The program exits with 1 when a case fails or
// a command does not do its work.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "BusFloor.h"
#include "FloorVerdict.h"
#include "SearchFloor.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

constexpr double kScanCeiling = 1.10;
constexpr double kDeviceCeiling = 1.5;
constexpr int kSlowId = 21;
constexpr int kSlowCode = 207;
constexpr int kReadAddress = 36;
constexpr int kReadLength = 2;

// What one run of the command-line program did.
struct Run {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string output;
    double wallUs = 0.0;
};

Run runCli(const std::vector<std::string>& args) {
    std::vector<std::string> full = {MVX_CLI_PROGRAM};
    full.insert(full.end(), args.begin(), args.end());
    Run run;
    const std::int64_t start = monotonicUs();
    int out = -1;
    const pid_t pid = spawnWithOutput(full, out);
    if (pid < 0) {
        return run;
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(out, buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            run.output.append(buffer, static_cast<std::size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(out);
    run.status = waitFor(pid);
    run.wallUs = static_cast<double>(monotonicUs() - start);
    return run;
}

int countOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

struct Case {
    std::string name;
    std::vector<std::string> args;  // after --port PATH
    TimeFloor floor;
    double ceiling = 1.0;
    std::function<bool(const Run&)> didItsWork;
};

// Runs `c` `runs` times on the pty and prints its line; false when it failed.
bool runCase(const Case& c, const std::string& pty, int runs) {
    std::vector<std::string> args = {"--port", pty};
    args.insert(args.end(), c.args.begin(), c.args.end());
    double fastest = 0.0;
    double slowest = 0.0;
    bool below = false;
    for (int i = 0; i < runs; ++i) {
        const Run run = runCli(args);
        if (run.status != 0 || !c.didItsWork(run)) {
            std::printf("%-26s the command failed (exit status %d)\n", c.name.c_str(), run.status);
            std::fflush(stdout);
            return false;
        }
        fastest = i == 0 ? run.wallUs : std::min(fastest, run.wallUs);
        slowest = std::max(slowest, run.wallUs);
        below = below || judgeAgainstFloor(run.wallUs, c.floor.floorUs, c.ceiling).belowFloor;
    }
    FloorVerdict verdict = judgeAgainstFloor(fastest, c.floor.floorUs, c.ceiling);
    verdict.belowFloor = below;
    const double floorUs = c.floor.floorUs;
    std::printf("%-26s %10.1f %10.1f %10.1f   %6.4f-%6.4f %8.2f   %s\n", c.name.c_str(),
                floorUs / 1000.0, fastest / 1000.0, slowest / 1000.0, fastest / floorUs,
                slowest / floorUs, c.ceiling,
                verdict.failed() ? verdict.why(c.ceiling).c_str() : "ok");
    std::fflush(stdout);
    return !verdict.failed();
}

TimeFloor scanFloor(const BusDescription& bus) {
    TimeFloor f = openFloor();
    const TimeFloor search = searchFloor(bus, kQuickCodes);
    f.floorUs += search.floorUs;
    f.hiddenWireUs += search.hiddenWireUs;
    f.replies += search.replies;
    return f;
}

// Open, tune to the device, and `requests` on it.
TimeFloor deviceFloor(const std::function<void(TimeFloor&)>& requests) {
    TimeFloor f = openFloor();
    int current = kOpenCode;
    addTune(f, current, kSlowCode);
    requests(f);
    return f;
}

std::vector<Case> defaultBusCases(const BusDescription& bus, const SimDeviceSpec& slow) {
    const std::string id = std::to_string(kSlowId);
    const std::string code = std::to_string(kSlowCode);
    const int devices = static_cast<int>(bus.devices.size());
    return {
        {"scan, default bus",
         {"--json", "scan"},
         scanFloor(bus),
         kScanCeiling,
         [devices](const Run& r) { return countOf(r.output, "\"id\":") == devices; }},
        {"ping ID 21 at code 207",
         {"ping", "--id", id, "--baud", code},
         deviceFloor(
             [&slow](TimeFloor& f) { addExchange(f, kSlowCode, kPingParameters, 0, slow); }),
         kDeviceCeiling,
         [](const Run& r) { return countOf(r.output, "answered") == 1; }},
        {"read 2 bytes of ID 21",
         {"read", "--id", id, "--baud", code, std::to_string(kReadAddress),
          std::to_string(kReadLength)},
         deviceFloor([&slow](TimeFloor& f) {
             addIdentity(f, kSlowCode, slow);
             addExchange(f, kSlowCode, kReadParameters, kReadLength, slow);
         }),
         kDeviceCeiling,
         [](const Run& r) { return countOf(r.output, "\n") == kReadLength; }},
    };
}

// `scan --fast --json` against `scan --json` on the default bus served with `latencyMs` (and
// its broadcast answers spaced out by `spacingUs` a unit of ID when that is not 0); false when
// the fast scan missed a device or printed something else than a standard scan that found them
// all, or when its ratio to the standard scan is above `ceiling`.
bool runFastScan(const BusDescription& bus, int latencyMs, double ceiling, int runs,
                 int spacingUs = 0) {
    BusSim sim(MVX_BUS_SIM_PROGRAM, "", latencyMs, spacingUs);
    const std::string name = "scan --fast, " + std::to_string(latencyMs) + " ms latency" +
                             (spacingUs != 0 ? ", spaced" : "");
    if (sim.path().empty()) {
        std::printf("%-26s movantrix-bus-sim did not start\n", name.c_str());
        return false;
    }
    const int devices = static_cast<int>(bus.devices.size());
    const Run standard = runCli({"--port", sim.path(), "--json", "scan"});
    const int standardFound = countOf(standard.output, "\"id\":");
    if (standard.status != 0) {
        std::printf("%-26s the standard scan failed (exit status %d)\n", name.c_str(),
                    standard.status);
        return false;
    }
    double fastest = 0.0;
    for (int i = 0; i < runs; ++i) {
        const Run fast = runCli({"--port", sim.path(), "--json", "scan", "--fast"});
        const bool same = standardFound != devices || fast.output == standard.output;
        if (fast.status != 0 || countOf(fast.output, "\"id\":") != devices || !same) {
            std::printf("%-26s the fast scan found other devices (exit status %d)\n", name.c_str(),
                        fast.status);
            return false;
        }
        fastest = i == 0 ? fast.wallUs : std::min(fastest, fast.wallUs);
    }
    const double fastFloor =
        openFloor().floorUs + fastFloorUs(bus, kQuickCodes, latencyMs * 1000.0);
    const double ratio = fastest / standard.wallUs;
    const bool failed = fastest < fastFloor || ratio > ceiling;
    std::printf(
        "%-26s floor %8.1f ms, fastest %8.1f ms (%5.2f x), scan %8.1f ms (%d of %d "
        "devices), ratio %6.4f, ceiling %4.2f   %s\n",
        name.c_str(), fastFloor / 1000.0, fastest / 1000.0, fastest / fastFloor,
        standard.wallUs / 1000.0, standardFound, devices, ratio, ceiling,
        fastest < fastFloor ? "below the floor"
        : ratio > ceiling   ? "above the ceiling"
                            : "ok");
    std::fflush(stdout);
    return !failed;
}

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    using namespace mvx::bench;
    int runs = 3;
    if (argc == 3 && std::string(argv[1]) == "--runs" && std::atoi(argv[2]) > 0) {
        runs = std::atoi(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: cli_pty_bench [--runs N]\n");
        return 2;
    }

    const mvx::BusDescription bus = mvx::SimulatedBus::defaultBus();
    const mvx::SimDeviceSpec* slow = deviceAt(bus, kSlowCode, kSlowId);
    if (slow == nullptr || !floorKnown(bus)) {
        std::fprintf(stderr, "cli_pty_bench: the default bus has no floor for its cases\n");
        return 1;
    }
    // The empty bus, as a description file for the server.
    char dir[] = "/tmp/mvx-cli-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
        std::perror("cli_pty_bench: mkdtemp");
        return 1;
    }
    const std::string emptyBusFile = std::string(dir) + "/empty-bus.json";
    std::ofstream(emptyBusFile) << "{\"devices\": []}\n";

    std::printf("movantrix-cli over movantrix-bus-sim on a pty, wall time of %d run(s) a case\n",
                runs);
    std::printf("%-26s %10s %10s %10s   %-13s %8s   %s\n", "case", "floor ms", "fastest", "slowest",
                "ratio", "ceiling", "verdict");
    std::fflush(stdout);
    bool ok = true;
    {
        BusSim sim(MVX_BUS_SIM_PROGRAM);
        if (sim.path().empty()) {
            std::fprintf(stderr, "cli_pty_bench: movantrix-bus-sim did not start\n");
            return 1;
        }
        for (const Case& c : defaultBusCases(bus, *slow)) {
            ok = runCase(c, sim.path(), runs) && ok;
        }
    }
    {
        BusSim sim(MVX_BUS_SIM_PROGRAM, emptyBusFile);
        const Case empty{"scan, empty bus",
                         {"--json", "scan"},
                         scanFloor(mvx::BusDescription{}),
                         kScanCeiling,
                         [](const Run& r) { return countOf(r.output, "\"id\":") == 0; }};
        if (sim.path().empty()) {
            std::fprintf(stderr, "cli_pty_bench: movantrix-bus-sim did not start\n");
            ok = false;
        } else {
            ok = runCase(empty, sim.path(), runs) && ok;
        }
    }
    std::filesystem::remove_all(dir);
    ok = runFastScan(bus, 1, 0.25, runs) && ok;
    ok = runFastScan(bus, 16, 0.35, runs) && ok;
    ok = runFastScan(bus, 1, 0.4, runs, 300) && ok;
    return ok ? 0 : 1;
}
