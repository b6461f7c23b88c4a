#include "drivers/Clock.h"

#include <chrono>
#include <thread>

namespace mvx {

std::int64_t SystemClock::nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleepUs(std::int64_t us) {
    if (us > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
}

bool Clock::waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                      std::int64_t deadlineUs, const std::function<bool()>& ready) {
    while (!ready()) {
        if (deadlineUs == kNever) {
            condition.wait(lock);
            continue;
        }
        const std::int64_t leftUs = deadlineUs - nowUs();
        if (leftUs <= 0) {
            return false;
        }
        condition.wait_for(lock, std::chrono::microseconds(leftUs));
    }
    return true;
}

bool VirtualClock::waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                             std::int64_t deadlineUs, const std::function<bool()>& ready) {
    if (ready()) {
        return true;
    }
    if (deadlineUs == kNever) {
        condition.wait(lock, ready);
        return true;
    }
    // Nobody sleeps on virtual time: the deadline has come as soon as it is asked for.
    std::int64_t now = now_.load(std::memory_order_acquire);
    while (now < deadlineUs &&
           !now_.compare_exchange_weak(now, deadlineUs, std::memory_order_acq_rel)) {
    }
    return ready();
}

}  // namespace mvx
