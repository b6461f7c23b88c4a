// The status sampler on the simulated bus and the virtual clock: what one sample reads and
// decodes, the schedule, gaps, the stop rules, and the sampler driven by the bus executor beside
// other work.
#include "device/TelemetrySampler.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "device/DeviceEntry.h"
#include "protocol/BaudRate.h"
#include "protocol/BusConnection.h"
#include "protocol/BusExecutor.h"
#include "protocol/Packet.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

class TelemetrySamplerTest : public SimRegistryTest {
protected:
    // An actuator at (1, 3) and one at (34, 5), both model 12 at level 2.
    void SetUp() override { start({simSpec(1, 3, 12), simSpec(34, 5, 12)}); }

    BusConnection& bus() { return registry->bus(); }

    // Runs a sampler on (code, id) until `count` samples arrived (or it ended by itself).
    std::vector<StatusSample> sample(int code, int id, double hz, std::size_t count,
                                     TelemetrySampler::End* end = nullptr,
                                     const std::function<bool()>& yield = nullptr,
                                     const std::function<void(std::size_t)>& each = nullptr) {
        TelemetrySampler sampler(bus(), clock, code, id);
        sampler.setRate(hz);
        std::vector<StatusSample> samples;
        const TelemetrySampler::End ended = sampler.run(yield, [&](const StatusSample& s) {
            samples.push_back(s);
            if (each) {
                each(samples.size() - 1);
            }
            if (samples.size() >= count) {
                sampler.stop();
            }
        });
        if (end != nullptr) {
            *end = ended;
        }
        return samples;
    }

    static SimFaults silent(bool on) {
        SimFaults faults;
        faults.dropReply = on;
        return faults;
    }

    void writeGoal(SimulatedDevice& d, int speed, int goal) {
        d.setReg16(32, speed);
        d.setReg16(30, goal);
        d.setReg(24, 1);
    }
};

TEST_F(TelemetrySamplerTest, OneSampleIsOneReadOfTheStatusBlockDecoded) {
    struct Case {
        int goal;
        int speedSign;  // present speed and load carry the direction of travel
    };
    for (const Case c : {Case{800, 1}, Case{200, -1}}) {
        SCOPED_TRACE(c.goal);
        SimulatedDevice& d = dev(1, 3);
        writeGoal(d, 100, c.goal);
        d.setReg(42, 121);
        d.setReg(43, 45);
        clock.sleepMs(200);
        sim->clearTraffic();
        StatusSample s;
        s.timeS = 7.5;
        ASSERT_EQ(readStatusSample(bus(), 1, 3, s), 100);
        const auto reads = packets(Read, 3);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(params(reads[0]), bytes({24, 26}));
        EXPECT_TRUE(s.ok);
        EXPECT_FALSE(s.yielded);
        EXPECT_EQ(s.result, 100);
        EXPECT_EQ(s.timeS, 7.5) << "the time is the caller's";
        EXPECT_EQ(s.torqueEnable, 1);
        EXPECT_EQ(s.goalPosition, c.goal);
        EXPECT_NEAR(s.presentPosition, d.reg16(36), 1);
        EXPECT_EQ(s.presentSpeed, 100 * c.speedSign);
        EXPECT_EQ(s.presentLoad, (40 + 100 / 8) * c.speedSign);
        EXPECT_EQ(s.presentVoltage, 121);
        EXPECT_EQ(s.presentTemperature, 45);
        EXPECT_EQ(s.moving, 1);
    }
}

TEST_F(TelemetrySamplerTest, FailedReadsKeepTheOldValues) {
    struct Case {
        int code, id;
        bool adapterFails;
        int result;
        std::size_t packetsSent;
    };
    for (const Case c : {Case{1, 9, false, 103, 1}, Case{1, 254, false, 105, 0},
                         Case{-1, 3, false, 105, 0}, Case{1, 3, true, 101, 0}}) {
        SCOPED_TRACE(c.result);
        StatusSample s;
        ASSERT_EQ(readStatusSample(bus(), 1, 3, s), 100);
        const int position = s.presentPosition;
        sim->clearTraffic();
        if (c.adapterFails) {
            driver.hook = [](const std::string& call) {
                return call == "write" ? FT_IO_ERROR : FT_OK;
            };
        }
        EXPECT_EQ(readStatusSample(bus(), c.code, c.id, s), c.result);
        driver.hook = nullptr;
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(s.result, c.result);
        EXPECT_EQ(s.presentPosition, position);
        EXPECT_EQ(s.presentVoltage, dev(1, 3).reg(42));
        EXPECT_EQ(packets(Read).size(), c.packetsSent);
    }
}

TEST_F(TelemetrySamplerTest, SamplesStartEachPeriodOnTheClock) {
    struct Case {
        int code;
        double hz;
        double intervalS;  // wanted interval, or 0: reads back to back (the bus is too slow)
    };
    for (const Case c :
         {Case{1, 100, 0.01}, Case{1, 25, 0.04}, Case{34, 4, 0.25}, Case{34, 200, 0.0}}) {
        SCOPED_TRACE(c.hz);
        const int id = c.code == 1 ? 3 : 5;
        const auto samples = sample(c.code, id, c.hz, 50);
        ASSERT_EQ(samples.size(), 50u);
        EXPECT_EQ(samples[0].timeS, 0.0);
        const double interval = c.intervalS > 0 ? c.intervalS : samples[1].timeS;
        if (c.intervalS == 0) {
            // Request (8 bytes) and reply (32 bytes) at 57142 bps take 7 ms: more than 5 ms.
            EXPECT_GT(interval, 0.005);
        }
        for (std::size_t i = 0; i < samples.size(); ++i) {
            EXPECT_TRUE(samples[i].ok);
            EXPECT_NEAR(samples[i].timeS, static_cast<double>(i) * interval, 1e-5) << i;
        }
    }
}

TEST_F(TelemetrySamplerTest, ALateSampleCostsNoneAndAWholePeriodBehindStartsAnew) {
    struct Case {
        std::int64_t delayUs;  // the reply to sample 3 comes this late (period: 5 ms)
        bool onTheOldSchedule;
    };
    for (const Case c : {Case{5'000, true}, Case{15'000, false}}) {
        SCOPED_TRACE(c.delayUs);
        SimulatedDevice& d = dev(1, 3);
        const auto samples = sample(1, 3, 200, 8, nullptr, nullptr, [&](std::size_t i) {
            SimFaults faults;
            faults.extraDelayUs = i == 2 ? c.delayUs : 0;
            d.setFaults(faults);
        });
        ASSERT_EQ(samples.size(), 8u);
        EXPECT_TRUE(samples[3].ok);
        const double late = samples[4].timeS;
        EXPECT_GT(late, 0.015 + c.delayUs / 1e6) << "sample 4 starts when sample 3 ends";
        for (std::size_t i = 5; i < samples.size(); ++i) {
            const double expected = c.onTheOldSchedule ? static_cast<double>(i) * 0.005
                                                       : late + static_cast<double>(i - 4) * 0.005;
            EXPECT_NEAR(samples[i].timeS, expected, 1e-6) << i;
        }
    }
}

TEST_F(TelemetrySamplerTest, ANewRateTakesEffectFromTheNextPeriod) {
    TelemetrySampler sampler(bus(), clock, 1, 3);
    sampler.setRate(100);
    std::vector<double> times;
    sampler.run(nullptr, [&](const StatusSample& s) {
        times.push_back(s.timeS);
        if (times.size() == 5) {
            sampler.setRate(10);
            sampler.setRate(0);   // ignored
            sampler.setRate(-3);  // ignored
        }
        if (times.size() == 8) {
            sampler.stop();
        }
    });
    EXPECT_EQ(sampler.rate(), 10);
    ASSERT_EQ(times.size(), 8u);
    EXPECT_NEAR(times[4], 0.04, 1e-6);
    EXPECT_NEAR(times[5], 0.14, 1e-6);
    EXPECT_NEAR(times[7], 0.34, 1e-6);
}

TEST_F(TelemetrySamplerTest, YieldedPeriodsAreGapsWithoutTrafficAndDoNotCountAsFailures) {
    dev(1, 3).setFaults(silent(true));
    int asked = 0;
    TelemetrySampler::End end{};
    // Reads 0-3 fail, then the bus is yielded for 10 periods, then read 14 is the fifth failure.
    const auto samples = sample(1, 3, 10, 100, &end, [&] { return ++asked > 4 && asked <= 14; });
    EXPECT_EQ(end, TelemetrySampler::End::NoAnswer);
    ASSERT_EQ(samples.size(), 15u);
    EXPECT_EQ(packets(Read, 3).size(), 5u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const bool yielded = i >= 4 && i < 14;
        EXPECT_FALSE(samples[i].ok);
        EXPECT_EQ(samples[i].yielded, yielded) << i;
        EXPECT_EQ(samples[i].result, yielded ? 0 : 103) << i;
        EXPECT_NEAR(samples[i].timeS, static_cast<double>(i) * 0.1, 1e-5) << i;
    }
}

TEST_F(TelemetrySamplerTest, FiveFailedReadsInARowStopAndAnAnswerStartsTheCountAgain) {
    SimulatedDevice& d = dev(1, 3);
    TelemetrySampler::End end{};
    // Samples 2-5 fail, 6 answers, 7-11 fail.
    const auto samples = sample(1, 3, 100, 100, &end, nullptr, [&](std::size_t i) {
        const std::size_t next = i + 1;
        d.setFaults(silent((next >= 2 && next <= 5) || next >= 7));
    });
    EXPECT_EQ(end, TelemetrySampler::End::NoAnswer);
    ASSERT_EQ(samples.size(), 12u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const bool answered = i < 2 || i == 6;
        EXPECT_EQ(samples[i].ok, answered) << i;
        EXPECT_EQ(samples[i].result, answered ? 100 : 103) << i;
        if (!answered) {
            EXPECT_EQ(samples[i].presentVoltage, 0) << "a gap carries no values";
        }
    }
}

TEST_F(TelemetrySamplerTest, ALostAdapterEndsTheRunAtOnce) {
    TelemetrySampler::End end{};
    const auto samples = sample(1, 3, 100, 100, &end, nullptr, [&](std::size_t i) {
        if (i == 2) {
            driver.hook = [](const std::string& call) {
                return call == "write" ? FT_IO_ERROR : FT_OK;
            };
        }
    });
    EXPECT_EQ(end, TelemetrySampler::End::AdapterLost);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples[3].result, 101);
    EXPECT_FALSE(samples[3].ok);
}

TEST_F(TelemetrySamplerTest, StopFromAnotherThreadEndsTheRunAndAnEarlyStopIsNotLost) {
    TelemetrySampler sampler(bus(), clock, 1, 3);
    sampler.setRate(1);  // long periods: the stop has to cut the sleep short
    std::atomic<int> taken{0};
    auto count = [&](const StatusSample&) { taken.fetch_add(1); };

    sampler.stop();  // before the run: that run ends at once, without a sample
    EXPECT_EQ(sampler.run(nullptr, count), TelemetrySampler::End::Stopped);
    EXPECT_EQ(taken.load(), 0);

    std::thread stopper([&] {
        while (taken.load() < 3) {
            std::this_thread::yield();
        }
        sampler.stop();
    });
    EXPECT_EQ(sampler.run(nullptr, count), TelemetrySampler::End::Stopped);
    stopper.join();
    EXPECT_GE(taken.load(), 3);
}

// The sampler as a source of the bus executor, the way the desktop program's telemetry window
// runs it: the executor asks for the due time and takes one sample at a time.
class SamplerSource final : public BusExecutor::PeriodicSource {
public:
    SamplerSource(TelemetrySampler& sampler, std::function<void(const StatusSample&)> sink)
        : sampler_(sampler), sink_(std::move(sink)) {
        sampler_.begin();
    }
    std::int64_t nextDueUs() override { return sampler_.nextDueUs(); }
    bool runDue(bool yielded) override { return !sampler_.sampleOnce(yielded, sink_); }

private:
    TelemetrySampler& sampler_;
    std::function<void(const StatusSample&)> sink_;
};

TEST_F(TelemetrySamplerTest, DrivenByTheExecutorItKeepsItsSchedule) {
    BusExecutor executor(clock);
    TelemetrySampler sampler(bus(), clock, 1, 3);
    sampler.setRate(100);
    std::mutex mutex;
    std::vector<StatusSample> samples;
    auto source = std::make_shared<SamplerSource>(sampler, [&](const StatusSample& sample) {
        std::lock_guard lock(mutex);
        samples.push_back(sample);
    });
    auto taken = [&] {
        std::lock_guard lock(mutex);
        return samples.size();
    };
    executor.addPeriodic(source);
    while (taken() < 20) {
        std::this_thread::yield();
    }
    executor.removePeriodic(source);
    // A sample under way when the source was removed still ends on the executor's thread:
    // stop it before the samples are read and go.
    executor.stop();
    std::lock_guard lock(mutex);
    ASSERT_GE(samples.size(), 20u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_TRUE(samples[i].ok) << i;
        EXPECT_NEAR(samples[i].timeS, static_cast<double>(i) * 0.01, 1e-5) << i;
    }
}

TEST_F(TelemetrySamplerTest, SamplesAndPageWorkAtTwoCodesEachGoOutAtTheirDevicesRate) {
    // The sampler on (1, 3) and the Operation page's kind of work on (34, 5) (status polls and
    // LED writes), all through one executor: each exchange at its device's rate, answered.
    DeviceEntry& other = registerDevice(34, 5);
    ASSERT_NE(other.servoRecord(), nullptr);
    constexpr int kRounds = 150;
    std::atomic<int> failedSamples{0};
    std::atomic<int> samplesTaken{0};
    std::atomic<int> failedOps{0};
    BusExecutor executor(clock);
    TelemetrySampler sampler(bus(), clock, 1, 3);
    sampler.setRate(200);
    auto source = std::make_shared<SamplerSource>(sampler, [&](const StatusSample& s) {
        failedSamples.fetch_add(s.ok || s.yielded ? 0 : 1);
        samplesTaken.fetch_add(1);
    });
    executor.addPeriodic(source);
    ServoRecord& record = *other.servoRecord();
    for (int i = 0; i < kRounds; ++i) {
        executor.submitSkippable("poll", [&](bool skipped) {
            failedOps.fetch_add(skipped || record.load(LoadState) == 100 ? 0 : 1);
        });
        executor.submit([&, i] { failedOps.fetch_add(record.setLed(i % 2) == 100 ? 0 : 1); });
        executor.runUntilIdle();
    }
    while (samplesTaken.load() < kRounds) {
        std::this_thread::yield();
    }
    executor.stop();
    EXPECT_EQ(failedOps.load(), 0);
    EXPECT_EQ(failedSamples.load(), 0);
    std::size_t toDevice3 = 0;
    for (const SimTraffic& t : hostWrites()) {
        ASSERT_GE(t.bytes.size(), 3u);
        const int id = t.bytes[2];
        EXPECT_EQ(t.rateBps, rateOf(id == 3 ? 1 : 34)) << "packet to ID " << id;
        toDevice3 += id == 3 ? 1 : 0;
    }
    EXPECT_GE(toDevice3, static_cast<std::size_t>(kRounds));
}

}  // namespace
}  // namespace mvx::test
