// The clock seam: every sleep and every read deadline goes through a Clock, so tests and
// simulations can run on virtual time instead of waiting.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>

namespace mvx {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds.
    virtual std::int64_t nowUs() = 0;
    // Sleeps for `us` microseconds (nothing for zero or negative values).
    virtual void sleepUs(std::int64_t us) = 0;

    void sleepMs(std::int64_t ms) { sleepUs(ms * 1000); }
    void sleepUntilUs(std::int64_t deadlineUs) { sleepUs(deadlineUs - nowUs()); }

    // A deadline that never comes: waitUntil waits for `ready` alone.
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
    // Waits on `condition` (with `lock` held on entry and on return) until `ready()` holds or
    // this clock reaches `deadlineUs`; true when `ready()` holds. Whoever makes `ready()` true
    // notifies `condition`. Real time waits (condition_variable semantics); a virtual clock
    // moves on to the deadline instead of waiting for it.
    virtual bool waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                           std::int64_t deadlineUs, const std::function<bool()>& ready);
};

// Real time: steady_clock and real sleeps.
class SystemClock final : public Clock {
public:
    std::int64_t nowUs() override;
    void sleepUs(std::int64_t us) override;
};

// Virtual time: starts at 0 and advances only when someone sleeps (or advances it), so a
// 500 ms wait costs nothing. Safe to use from several threads.
class VirtualClock final : public Clock {
public:
    std::int64_t nowUs() override { return now_.load(std::memory_order_acquire); }
    void sleepUs(std::int64_t us) override {
        if (us > 0) {
            now_.fetch_add(us, std::memory_order_acq_rel);
        }
    }
    void advanceUs(std::int64_t us) { sleepUs(us); }
    // Without `ready()`, moves the time on to the deadline at once; waits (really) only for a
    // deadline that never comes.
    bool waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                   std::int64_t deadlineUs, const std::function<bool()>& ready) override;

private:
    std::atomic<std::int64_t> now_{0};
};

}  // namespace mvx
