// The bus executor on the virtual clock: the order of commands, skippable jobs and periodic
// sources, what is skipped, dropped or yielded while the bus is busy, the periodic schedule,
// and stopping with a job under way.
#include "protocol/BusExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mvx::test {
namespace {

// What ran, in order, from any thread.
class Log {
public:
    void add(std::string entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// A command that holds the executor until released, so that more work can be queued behind it.
class Gate {
public:
    BusExecutor::Job job(Log& log) {
        return [this, &log] {
            log.add("gate");
            held_.set_value();
            released_.get_future().wait();
        };
    }
    void waitHeld() { held_.get_future().wait(); }
    void release() { released_.set_value(); }

private:
    std::promise<void> held_;
    std::promise<void> released_;
};

// Runs every `periodUs` from `firstUs` on; notes each run (yielded ones with a "~") with its time.
class Ticker final : public BusExecutor::PeriodicSource {
public:
    Ticker(Clock& clock, Log& log, std::string name, std::int64_t firstUs, std::int64_t periodUs,
           int runs)
        : clock_(clock),
          log_(log),
          name_(std::move(name)),
          dueUs_(firstUs),
          periodUs_(periodUs),
          runsLeft_(runs) {}

    std::int64_t nextDueUs() override { return dueUs_; }
    bool runDue(bool yielded) override {
        log_.add((yielded ? "~" : "") + name_ + "@" + std::to_string(clock_.nowUs()));
        dueUs_ += periodUs_;
        return --runsLeft_ > 0;
    }

private:
    Clock& clock_;
    Log& log_;
    std::string name_;
    std::int64_t dueUs_;
    std::int64_t periodUs_;
    int runsLeft_;
};

struct OrderCase {
    const char* name;
    // Queued behind the gate, in order: "c" a command, "s:KEY" a skippable job, "b+" / "b-"
    // raise and lower the busy flag (at once, on this thread).
    std::vector<std::string> queued;
    std::vector<std::string> ran;  // after the gate; a skipped job shows as "skipped KEY"
    std::vector<bool> accepted;    // what each submission returned (flag steps left out)
};

class OrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(OrderTest, CommandsFirstSkippablesOnceAndSkippedWhileBusy) {
    const OrderCase& c = GetParam();
    VirtualClock clock;
    std::atomic<bool> busy{false};
    BusExecutor executor(clock, [&busy] { return busy.load(); });
    Log log;
    Gate gate;
    ASSERT_TRUE(executor.submit(gate.job(log)));
    gate.waitHeld();
    std::vector<bool> accepted;
    int commands = 0;
    for (const std::string& step : c.queued) {
        if (step == "b+" || step == "b-") {
            busy = step == "b+";
        } else if (step == "c") {
            const std::string name = "c" + std::to_string(++commands);
            accepted.push_back(executor.submit([&log, name] { log.add(name); }));
        } else {
            const std::string key = step.substr(2);
            accepted.push_back(executor.submitSkippable(
                key, [&log, key](bool skipped) { log.add(skipped ? "skipped " + key : key); }));
        }
    }
    gate.release();
    executor.runUntilIdle();
    std::vector<std::string> expected = {"gate"};
    expected.insert(expected.end(), c.ran.begin(), c.ran.end());
    EXPECT_EQ(log.entries(), expected);
    EXPECT_EQ(accepted, c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrderTest,
    ::testing::Values(
        OrderCase{"commandsInOrder", {"c", "c", "c"}, {"c1", "c2", "c3"}, {true, true, true}},
        OrderCase{"commandsOvertakeSkippables",
                  {"s:poll", "c", "s:other", "c"},
                  {"c1", "c2", "poll", "other"},
                  {true, true, true, true}},
        OrderCase{"aSecondPollWhileOneWaitsIsDropped",
                  {"s:poll", "s:poll", "s:other", "s:poll"},
                  {"poll", "other"},
                  {true, false, true, false}},
        OrderCase{"skippedWhileBusyCommandsStillRun",
                  {"b+", "s:poll", "c", "s:other"},
                  {"c1", "skipped poll", "skipped other"},
                  {true, true, true}},
        OrderCase{"busyOverBeforeDispatchRuns", {"b+", "s:poll", "b-"}, {"poll"}, {true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BusExecutorTest, PeriodicSourcesKeepTheirScheduleOnTheVirtualClock) {
    VirtualClock clock;
    BusExecutor executor(clock);
    Log log;
    Gate gate;
    executor.submit(gate.job(log));
    gate.waitHeld();
    executor.addPeriodic(std::make_shared<Ticker>(clock, log, "a", 1000, 10000, 3));
    executor.addPeriodic(std::make_shared<Ticker>(clock, log, "b", 6000, 25000, 2));
    gate.release();
    // Both sources end by themselves; the clock has moved on to each due time in turn.
    for (int i = 0; i < 1000 && log.entries().size() < 6; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"gate", "a@1000", "b@6000", "a@11000",
                                                       "a@21000", "b@31000"}));
}

struct YieldCase {
    const char* name;
    bool busy;
    bool commandWaiting;
    std::vector<std::string> ran;
};

class YieldTest : public ::testing::TestWithParam<YieldCase> {};

TEST_P(YieldTest, ADueSourceYieldsToACommandAndToTheBusyBus) {
    const YieldCase& c = GetParam();
    VirtualClock clock;
    std::atomic<bool> busy{c.busy};
    BusExecutor executor(clock, [&busy] { return busy.load(); });
    Log log;
    Gate gate;
    executor.submit(gate.job(log));
    gate.waitHeld();
    // Due at once (the clock is at 0), twice.
    executor.addPeriodic(std::make_shared<Ticker>(clock, log, "t", 0, 5000, 2));
    if (c.commandWaiting) {
        executor.submit([&log] { log.add("command"); });
    }
    gate.release();
    executor.runUntilIdle();
    for (int i = 0; i < 1000 && log.entries().size() < c.ran.size() + 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::vector<std::string> expected = {"gate"};
    expected.insert(expected.end(), c.ran.begin(), c.ran.end());
    EXPECT_EQ(log.entries(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, YieldTest,
    ::testing::Values(YieldCase{"free", false, false, {"t@0", "t@5000"}},
                      YieldCase{"commandWaits", false, true, {"~t@0", "command", "t@5000"}},
                      YieldCase{"busBusy", true, false, {"~t@0", "~t@5000"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BusExecutorTest, RemovedSourceRunsNoMore) {
    VirtualClock clock;
    BusExecutor executor(clock);
    Log log;
    Gate gate;
    executor.submit(gate.job(log));
    gate.waitHeld();
    auto ticker = std::make_shared<Ticker>(clock, log, "t", 0, 1000, 1000);
    executor.addPeriodic(ticker);
    executor.removePeriodic(ticker);
    gate.release();
    executor.runUntilIdle();
    executor.stop();
    EXPECT_EQ(log.entries(), std::vector<std::string>{"gate"});
}

// A source whose first run holds the executor until released; due at every moment after.
class HeldSource final : public BusExecutor::PeriodicSource {
public:
    std::int64_t nextDueUs() override { return 0; }
    bool runDue(bool) override {
        if (runs_++ == 0) {
            gate_.job(log_)();
        }
        return true;
    }
    Gate& gate() { return gate_; }
    int runs() const { return runs_; }

private:
    Log log_;
    Gate gate_;
    std::atomic<int> runs_{0};
};

TEST(BusExecutorTest, RunUntilIdleWaitsForThePeriodicRunUnderWayButNotTheNextOnes) {
    VirtualClock clock;
    BusExecutor executor(clock);
    auto source = std::make_shared<HeldSource>();
    executor.addPeriodic(source);
    source->gate().waitHeld();
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        executor.runUntilIdle();
        returned = true;
    });
    // Whatever the run under way puts on the bus is there once runUntilIdle returns.
    for (int i = 0; i < 1000 && !returned; ++i) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(returned);
    source->gate().release();
    waiter.join();  // though the source is due again at once, run after run
    EXPECT_GE(source->runs(), 1);
    executor.removePeriodic(source);
}

TEST(BusExecutorTest, StopEndsTheRunningJobDropsTheQueueAndRunsTheLastJobThere) {
    VirtualClock clock;
    auto executor = std::make_unique<BusExecutor>(clock);
    Log log;
    Gate gate;
    executor->submit(gate.job(log));
    gate.waitHeld();
    // A dropped job is destroyed unrun: its captures go.
    auto dropped = std::make_shared<int>(0);
    executor->submit([&log, dropped] { log.add("dropped"); });
    executor->submitSkippable("poll", [&log, dropped](bool) { log.add("dropped poll"); });
    std::atomic<bool> lastOnExecutor{false};
    std::thread stopper([&] {
        executor->stop([&] {
            log.add("last");
            lastOnExecutor = executor->onExecutorThread();
        });
    });
    // The stop waits for the job under way; once it has begun, nothing more is taken.
    while (executor->submit([&log] { log.add("probe"); })) {
        std::this_thread::yield();
    }
    gate.release();
    stopper.join();
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"gate", "last"}));
    EXPECT_TRUE(lastOnExecutor);
    EXPECT_EQ(dropped.use_count(), 1);
    EXPECT_FALSE(executor->submit([&log] { log.add("after"); }));
    executor->runUntilIdle();  // returns at once once stopped
    executor.reset();
    EXPECT_EQ(log.entries().size(), 2u);
}

TEST(BusExecutorTest, JobsRunOnTheExecutorThreadAndAThrowingJobEndsAlone) {
    VirtualClock clock;
    BusExecutor executor(clock);
    std::atomic<bool> inside{false};
    std::atomic<bool> after{false};
    executor.submit([] { throw std::runtime_error("unforeseen"); });
    executor.submit([&] {
        inside = executor.onExecutorThread();
        after = true;
    });
    executor.runUntilIdle();
    EXPECT_TRUE(after);
    EXPECT_TRUE(inside);
    EXPECT_FALSE(executor.onExecutorThread());
}

TEST(VirtualClockTest, WaitUntilMovesTheTimeOnUnlessReady) {
    VirtualClock clock;
    std::mutex mutex;
    std::condition_variable condition;
    std::unique_lock lock(mutex);
    EXPECT_FALSE(clock.waitUntil(condition, lock, 2500, [] { return false; }));
    EXPECT_EQ(clock.nowUs(), 2500);
    EXPECT_FALSE(clock.waitUntil(condition, lock, 1000, [] { return false; }));  // never back
    EXPECT_EQ(clock.nowUs(), 2500);
    EXPECT_TRUE(clock.waitUntil(condition, lock, 9000, [] { return true; }));
    EXPECT_EQ(clock.nowUs(), 2500);
    EXPECT_TRUE(lock.owns_lock());
}

}  // namespace
}  // namespace mvx::test
