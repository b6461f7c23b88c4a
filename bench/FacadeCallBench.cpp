// The library's calls in C++, as the Python module's benchmark (python_bench.py) compares them:
//   facade_call_bench read N     N reads of goal-position from MQ-35 at code 1 ID 1 on the
//                                simulated bus with virtual time; prints the time of one read
//                                in microseconds (the best of 5 rounds)
//   facade_call_bench watch HZ S the simulated bus in real time: a watch of that device at HZ
//                                samples per second for S seconds; prints the samples delivered
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <movantrix/movantrix.h>

namespace {

int readBench(long count) {
    movantrix::Bus bus = movantrix::open("sim", movantrix::OpenOptions{.virtualTime = true});
    const movantrix::Device device = bus.device(1, 1);
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < count; ++i) {
            (void)device.read("goal-position");
        }
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / static_cast<double>(count));
    }
    std::printf("%.3f\n", best);
    return 0;
}

int watchBench(double rateHz, double durationS) {
    movantrix::Bus bus = movantrix::open("sim");
    const movantrix::Device device = bus.device(1, 1);
    long delivered = 0;
    for (const movantrix::Sample& sample : bus.watch(device, {}, rateHz, durationS)) {
        delivered += sample.ok ? 1 : 0;
    }
    std::printf("%ld\n", delivered);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "read" && argc == 3) {
        return readBench(std::atol(argv[2]));
    }
    if (mode == "watch" && argc == 4) {
        return watchBench(std::atof(argv[2]), std::atof(argv[3]));
    }
    std::fprintf(stderr, "usage: facade_call_bench read N | watch HZ SECONDS\n");
    return 2;
}
