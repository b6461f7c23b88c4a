// The assign flow in virtual time on the simulated bus (adapter latency 1 ms, known): twelve
// new MQ-35s at code 34 ID 1 connected one every 3 s once the first look at the bus is over
// (it hears each broadcast for its whole 500 ms, twice at a silent code: 12 s leave room for
// it), given IDs 1-12 at code 1.
//
// Per actuator: from its connection to its "checked" against the floor the wire and the
// settling impose, from the protocol's figures (BusFloor.h): its answer to a broadcast ping
// at code 34, its identity and record read there, the ID write (none for the first, whose ID 1
// stays) and the baud write, each answered and followed by the 100 ms settling wait, and the
// read-back at code 1 (registers 0-49, identity, record), every request and reply on the wire
// with the device's return delay (250 units of 2 us) and the adapter's 1 ms latency. Ceiling:
// 1.5 s beyond the floor for every actuator (the time spent looking at the other codes between
// the connection and the look at code 34, the standard search's 500 ms for the answers to a
// broadcast, the link's rate changes). Printed: the floor, the slowest and the mean per
// actuator, and the slowest beyond the floor.
//
// All twelve: every one assigned, in the order connected, none missed and none moved twice
// (one move per row, each actuator at its own ID at the end).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "BenchMain.h"
#include "BusFloor.h"
#include "SimRig.h"
#include "robot/AssignFlow.h"

namespace mvx::bench {
namespace {

constexpr int kActuators = 12;
constexpr double kFirstS = 12.0;  // the first connection, after the first look at the bus
constexpr double kEveryS = 3.0;
constexpr int kNewCode = 34;
constexpr int kTargetCode = 1;
constexpr double kCeilingBeyondUs = 1500000.0;
constexpr double kSettleUs = 100000.0;                       // after a write below register 24
constexpr double kLatencyUs = 1000.0;                        // the simulated adapter's
constexpr double kReturnDelayUs = 250 * kReturnDelayUnitUs;  // a new actuator's

// One request answered: request and reply on the wire, the return delay, the latency.
double exchangeUs(int requestParams, int replyData, int code) {
    return wireUs(requestBytes(requestParams) + replyBytes(replyData), code) + kReturnDelayUs +
           kLatencyUs;
}

// From the connection of actuator `k` (0-based) to its check.
double floorUs(int k) {
    double floor = exchangeUs(0, 0, kNewCode);                           // broadcast ping
    floor += exchangeUs(2, 17, kNewCode) + exchangeUs(2, 44, kNewCode);  // identity, record
    if (k > 0) {
        floor += exchangeUs(2, 0, kNewCode) + kSettleUs;  // ID write
    }
    floor += exchangeUs(2, 0, kNewCode) + kSettleUs;  // baud write
    floor += exchangeUs(2, 50, kTargetCode) + exchangeUs(2, 17, kTargetCode) +
             exchangeUs(2, 44, kTargetCode);  // the read-back
    return floor;
}

class Recorder final : public AssignObserver {
public:
    explicit Recorder(Clock& clock) : clock_(clock) {}
    void onAssignEvent(const AssignEvent& event) override {
        if (event.kind != AssignEventKind::Row) {
            return;
        }
        if (event.row.state == AssignState::Checked) {
            checkedUs.resize(std::max<std::size_t>(checkedUs.size(), event.index + 1u), -1);
            checkedUs[static_cast<std::size_t>(event.index)] = clock_.nowUs();
        }
        if (event.row.state == AssignState::Moved) {
            moves.resize(std::max<std::size_t>(moves.size(), event.index + 1u), 0);
            ++moves[static_cast<std::size_t>(event.index)];
        }
    }
    std::vector<std::int64_t> checkedUs;
    std::vector<int> moves;

private:
    Clock& clock_;
};

struct Run {
    AssignReport report;
    std::vector<double> latencyUs;  // per actuator, connection to check
    std::vector<int> moves;
    std::vector<int> idsAtEnd;  // of the actuators in the order connected
    std::vector<int> codesAtEnd;
};

Run assignTwelve(bool alone, const std::vector<int>& codes) {
    BusDescription bus;
    bus.receiveLatencyUs = static_cast<std::int64_t>(kLatencyUs);
    for (int k = 0; k < kActuators; ++k) {
        SimDeviceSpec d;
        d.code = kNewCode;
        d.id = 1;
        d.appearAtUs = std::llround((kFirstS + kEveryS * k) * 1e6);
        d.disappearAtUs =
            alone && k + 1 < kActuators ? std::llround((kFirstS + kEveryS * (k + 1)) * 1e6) : -1;
        bus.devices.push_back(d);
    }
    SimRig rig(bus);
    Run run;
    if (!rig.open()) {
        return run;
    }
    Recorder recorder(rig.clock);
    AssignPlan plan;
    for (int id = 1; id <= kActuators; ++id) {
        plan.ids.push_back(id);
    }
    plan.targetCode = kTargetCode;
    plan.codes = codes;
    const std::atomic<bool> stop{false};
    AssignFlow flow(*rig.registry, recorder);
    run.report = flow.run(plan, stop);
    const std::int64_t origin = rig.bus.scheduleOriginUs();
    for (int k = 0; k < kActuators && k < static_cast<int>(recorder.checkedUs.size()); ++k) {
        run.latencyUs.push_back(static_cast<double>(
            recorder.checkedUs[static_cast<std::size_t>(k)] - origin - bus.devices[k].appearAtUs));
    }
    run.moves = recorder.moves;
    for (int k = 0; k < kActuators; ++k) {
        run.idsAtEnd.push_back(rig.bus.device(static_cast<std::size_t>(k)).id());
        run.codesAtEnd.push_back(rig.bus.device(static_cast<std::size_t>(k)).code());
    }
    return run;
}

const std::vector<int> kQuick(kQuickCodes.begin(), kQuickCodes.end());

void perActuator(benchmark::State& state, bool alone, const std::vector<int>& codes) {
    Run run;
    for (auto _ : state) {
        run = assignTwelve(alone, codes);
    }
    if (run.report.given() != kActuators || run.latencyUs.size() != kActuators) {
        failBenchmark(state, "not every actuator was assigned: " + run.report.summary());
        return;
    }
    double slowest = 0.0;
    double slowestBeyond = -1e18;
    double sum = 0.0;
    bool below = false;
    for (int k = 0; k < kActuators; ++k) {
        const double measured = run.latencyUs[static_cast<std::size_t>(k)];
        const double floor = floorUs(k);
        below = below || measured < floor;
        slowest = std::max(slowest, measured);
        slowestBeyond = std::max(slowestBeyond, measured - floor);
        sum += measured;
    }
    state.counters["floor_ms"] = floorUs(1) / 1000.0;
    state.counters["slowest_ms"] = slowest / 1000.0;
    state.counters["mean_ms"] = sum / kActuators / 1000.0;
    state.counters["beyond_ms"] = slowestBeyond / 1000.0;
    state.counters["ceiling_beyond_ms"] = kCeilingBeyondUs / 1000.0;
    if (below) {
        failBenchmark(state, "measured below the floor: the floor or the code is wrong");
    } else if (slowestBeyond > kCeilingBeyondUs) {
        failBenchmark(state, "an actuator took more than 1.5 s beyond its floor");
    }
}

void BM_AssignPerActuatorDaisyChained(benchmark::State& state) {
    perActuator(state, false, kQuick);
}
BENCHMARK(BM_AssignPerActuatorDaisyChained)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_AssignPerActuatorAlone(benchmark::State& state) {
    perActuator(state, true, kQuick);
}
BENCHMARK(BM_AssignPerActuatorAlone)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_AssignPerActuatorCode34Only(benchmark::State& state) {
    perActuator(state, false, {kNewCode});
}
BENCHMARK(BM_AssignPerActuatorCode34Only)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_AssignTwelveEvery3s(benchmark::State& state) {
    Run run;
    for (auto _ : state) {
        run = assignTwelve(false, kQuick);
    }
    int movedOnce = 0;
    int inOrder = 0;
    for (int k = 0; k < kActuators; ++k) {
        movedOnce += k < static_cast<int>(run.moves.size()) && run.moves[k] == 1 ? 1 : 0;
        inOrder += run.idsAtEnd[static_cast<std::size_t>(k)] == k + 1 &&
                           run.codesAtEnd[static_cast<std::size_t>(k)] == kTargetCode
                       ? 1
                       : 0;
    }
    state.counters["assigned"] = run.report.given();
    state.counters["in_order"] = inOrder;
    state.counters["moved_once"] = movedOnce;
    if (run.report.given() != kActuators || run.report.exitStatus() != 0) {
        failBenchmark(state, "missed: " + run.report.summary());
    } else if (inOrder != kActuators) {
        failBenchmark(state, "not in the order connected");
    } else if (movedOnce != kActuators) {
        failBenchmark(state, "an actuator was moved more than once");
    }
}
BENCHMARK(BM_AssignTwelveEvery3s)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::runBenchmarks(argc, argv);
}
