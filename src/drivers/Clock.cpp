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

}  // namespace mvx
