#include "device/TelemetrySampler.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "device/ServoRecord.h"
#include "drivers/Clock.h"
#include "protocol/BusConnection.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

namespace {

constexpr std::uint8_t kStatusAddress = RegTorqueEnable;                // 24
constexpr std::uint8_t kStatusLength = RegPunch + 2 - RegTorqueEnable;  // 24..49
// Sleeps are taken in slices of at most this much, so a stop() is seen within one slice
// even at low rates.
constexpr std::int64_t kStopCheckUs = 10'000;

int wordAt(const std::uint8_t* block, int reg) {
    return block[reg - kStatusAddress] | block[reg - kStatusAddress + 1] << 8;
}
int byteAt(const std::uint8_t* block, int reg) {
    return block[reg - kStatusAddress];
}

}  // namespace

int readStatusSample(BusConnection& bus, int code, int id, StatusSample& sample) {
    sample.ok = false;
    sample.yielded = false;
    if (code < 0 || code > 255 || id < 0 || id >= kBroadcastId) {
        sample.result = Busy;  // refused: not a device address, nothing sent
        return sample.result;
    }
    std::uint8_t block[kStatusLength] = {};
    int result = bus.tune(static_cast<std::uint8_t>(code));
    if (result == Success) {
        const std::shared_ptr<AdapterLink> link = bus.link();
        result = link ? readBlock(*link, static_cast<std::uint8_t>(id), kStatusAddress,
                                  kStatusLength, block)
                      : AdapterFailure;
    }
    if (result != Success) {
        sample.result = result;
        return result;
    }
    sample.ok = true;
    sample.result = Success;
    sample.torqueEnable = byteAt(block, RegTorqueEnable) == 1 ? 1 : 0;
    sample.goalPosition = wordAt(block, RegGoalPosition);
    sample.presentPosition = wordAt(block, RegPresentPosition);
    sample.presentSpeed = decodeDirection(wordAt(block, RegPresentSpeed));
    sample.presentLoad = decodeDirection(wordAt(block, RegPresentLoad));
    sample.presentVoltage = byteAt(block, RegPresentVoltage);
    sample.presentTemperature = byteAt(block, RegPresentTemperature);
    sample.moving = byteAt(block, RegMoving) == 1 ? 1 : 0;
    return Success;
}

TelemetrySampler::TelemetrySampler(BusConnection& bus, Clock& clock, int code, int id)
    : bus_(bus), clock_(clock), code_(code), id_(id) {}

void TelemetrySampler::setRate(double hz) {
    if (std::isfinite(hz) && hz > 0.0) {
        rateHz_.store(std::min(hz, kMaxRateHz));
    }
}

double TelemetrySampler::rate() const {
    return rateHz_.load();
}

void TelemetrySampler::stop() {
    stopRequested_.store(true);
}

bool TelemetrySampler::sleepUntil(std::int64_t deadlineUs) {
    for (;;) {
        if (stopping()) {
            return false;
        }
        const std::int64_t left = deadlineUs - clock_.nowUs();
        if (left <= 0) {
            return true;
        }
        clock_.sleepUs(std::min(left, kStopCheckUs));
    }
}

void TelemetrySampler::begin() {
    startUs_ = clock_.nowUs();
    periodStartUs_ = startUs_;
    failures_ = 0;
    last_ = StatusSample{};
}

std::optional<TelemetrySampler::End> TelemetrySampler::sampleOnce(
    bool yielded, const std::function<void(const StatusSample&)>& sink) {
    const double timeS = static_cast<double>(clock_.nowUs() - startUs_) / 1e6;
    std::optional<End> end;
    if (yielded) {
        StatusSample gap;
        gap.timeS = timeS;
        gap.yielded = true;
        sink(gap);
    } else {
        const int result = readStatusSample(bus_, code_, id_, last_);
        if (result == Success) {
            failures_ = 0;
            last_.timeS = timeS;
            sink(last_);
        } else {
            StatusSample gap;
            gap.timeS = timeS;
            gap.result = result;
            sink(gap);
            if (result == AdapterFailure) {
                end = End::AdapterLost;
            } else if (++failures_ >= kFailuresToStop) {
                end = End::NoAnswer;
            }
        }
    }
    // Periods follow one another on a fixed schedule, so a sample that started late (a slow
    // read, a late wake-up, a job of someone else) costs no sample: the next starts at once if
    // its period has begun, and the one after on time. A whole period behind, the schedule
    // starts anew from now rather than catching up in a burst.
    const auto periodUs = static_cast<std::int64_t>(std::llround(1e6 / rateHz_.load()));
    periodStartUs_ += periodUs;
    if (const std::int64_t now = clock_.nowUs(); now - periodStartUs_ >= periodUs) {
        periodStartUs_ = now;
    }
    return end;
}

TelemetrySampler::End TelemetrySampler::run(const std::function<bool()>& yield,
                                            const std::function<void(const StatusSample&)>& sink) {
    begin();
    End end = End::Stopped;
    while (!stopping()) {
        if (const std::optional<End> ended = sampleOnce(yield && yield(), sink)) {
            end = *ended;
            break;
        }
        if (!sleepUntil(periodStartUs_)) {
            break;
        }
    }
    // Each run consumes the stop that ended it; a stop that came when none was running ends
    // the next run at once (a stop just before the worker started is not lost).
    if (end == End::Stopped) {
        stopRequested_.store(false);
    }
    return end;
}

}  // namespace mvx
