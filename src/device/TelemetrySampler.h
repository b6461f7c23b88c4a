// Live status of one actuator at a steady rate: one read of the status block (registers 24-49,
// the bytes the Operation page reads) per sample. `movantrix-cli watch` runs it in its own loop
// (run()); the desktop program's telemetry windows have the bus executor drive the same
// schedule one sample at a time (begin(), nextDueUs(), sampleOnce()).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace mvx {

class BusConnection;
class Clock;

// One sample. A gap (ok == false) carries the time and why it is a gap, nothing else.
struct StatusSample {
    double timeS = 0.0;          // seconds since the first sample of the run
    bool ok = false;             // false: a gap (failed read, or the bus was yielded)
    bool yielded = false;        // a gap because the bus was in use by someone else
    int result = 0;              // the read's result code (100 on success; 0 for a yielded gap)
    int goalPosition = 0;        // raw units
    int presentPosition = 0;     // raw units
    int presentSpeed = 0;        // signed by the direction rule
    int presentLoad = 0;         // signed by the direction rule
    int presentVoltage = 0;      // tenths of a volt
    int presentTemperature = 0;  // degrees Celsius
    int moving = 0;              // 0 or 1
    int torqueEnable = 0;        // 0 or 1
};

// Reads the status block of the device at (code, id) once, after tuning the bus to `code`, and
// decodes it into `sample` (timeS left as it is). 100, or the read's failure; on failure
// `sample` keeps its old values but `ok` (false) and `result`.
int readStatusSample(BusConnection& bus, int code, int id, StatusSample& sample);

class TelemetrySampler {
public:
    enum class End {
        Stopped,      // stop() was called
        NoAnswer,     // kFailuresToStop failed reads in a row
        AdapterLost,  // a read returned 101
    };
    static constexpr int kFailuresToStop = 5;
    static constexpr double kMaxRateHz = 1000.0;

    TelemetrySampler(BusConnection& bus, Clock& clock, int code, int id);

    // Samples per second; taken at the start of each period (sleeps until the next period
    // start; a read that overruns its period starts the next one at once). Periods keep a
    // fixed schedule: a late sample costs none, and only a sample a whole period behind starts
    // the schedule anew from then (no burst to catch up). Thread-safe; taken from the next
    // period on. Rates above kMaxRateHz are held there; zero, negative or
    // non-finite rates are ignored.
    void setRate(double hz);
    double rate() const;

    // Samples until stop(), kFailuresToStop failed reads in a row, or a 101. Before each sample
    // `yield()` is asked: true means the bus is in use by someone else, and a yielded gap is
    // delivered instead of a read. Every sample, read or gap, goes to `sink` on this thread.
    // A yielded gap does not count as a failure.
    End run(const std::function<bool()>& yield,
            const std::function<void(const StatusSample&)>& sink);

    // The same run, one sample at a time, for a caller that keeps the time itself: begin()
    // starts the schedule now (sample times count from here, the failures from 0);
    // nextDueUs() is when the next sample is due on the sampler's clock; sampleOnce() takes
    // it (or, `yielded`, delivers a yielded gap instead) to `sink`, moves the schedule on and
    // tells how the run ended, or nothing while it goes on. stop() is not looked at here.
    void begin();
    std::int64_t nextDueUs() const { return periodStartUs_; }
    std::optional<End> sampleOnce(bool yielded,
                                  const std::function<void(const StatusSample&)>& sink);

    // Ends a running run() within one sample period (thread-safe; the sleep is cut short).
    // The run that ends this way consumes the stop; a stop while no run() is running ends the
    // next run() at once, so a stop issued before a worker gets going is not lost.
    void stop();
    // Also ends a run when `*flag` turns true, checked as often as a stop(); the run leaves
    // the flag as it is. For a signal handler, which may only set a flag. Set it before run();
    // null (the default) for none.
    void setStopFlag(const std::atomic<bool>* flag) { stopFlag_ = flag; }

private:
    bool stopping() const {
        return stopRequested_.load() || (stopFlag_ != nullptr && stopFlag_->load());
    }
    // Sleeps until `deadlineUs` in short slices; false when stop() came first.
    bool sleepUntil(std::int64_t deadlineUs);

    BusConnection& bus_;
    Clock& clock_;
    int code_;
    int id_;
    std::atomic<double> rateHz_{10.0};
    std::atomic<bool> stopRequested_{false};
    const std::atomic<bool>* stopFlag_ = nullptr;
    // The schedule of the current run (see run()).
    std::int64_t startUs_ = 0;
    std::int64_t periodStartUs_ = 0;
    int failures_ = 0;
    StatusSample last_;
};

}  // namespace mvx
