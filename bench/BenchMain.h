// A benchmark program's main that fails: a benchmark marks its run with failBenchmark (an
// error in the report) and the program then exits with 1, so scripts/bench.sh sees it.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

namespace mvx::bench {

inline int& failedBenchmarks() {
    static int count = 0;
    return count;
}

// Ends the benchmark's run with `why` as its error.
inline void failBenchmark(benchmark::State& state, const std::string& why) {
    ++failedBenchmarks();
    state.SkipWithError(why.c_str());
}

// Runs the benchmarks the options select; 1 when one of them failed, else 0.
inline int runBenchmarks(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return failedBenchmarks() == 0 ? 0 : 1;
}

}  // namespace mvx::bench
