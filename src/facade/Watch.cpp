// Watch: telemetry samples taken when asked for, on the schedule of the core's sampler.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>

#include "device/DeviceEntry.h"
#include "device/StatusText.h"
#include "device/TelemetrySampler.h"
#include "facade/BusState.h"
#include "facade/FacadeErrors.h"
#include "facade/RegisterValues.h"
#include "movantrix/bus.h"
#include "protocol/ResultCode.h"

namespace movantrix {

namespace {

// The longest duration: a year. Watching longer is watching until stopped.
constexpr double kMaxDurationS = 365.0 * 24 * 3600;

}  // namespace

class Watch::Impl {
public:
    Impl(std::shared_ptr<detail::BusState> state, int code, int id, std::vector<std::string> names,
         double rateHz, double durationS)
        : state_(std::move(state)),
          code_(code),
          id_(id),
          names_(std::move(names)),
          sampler_(state_->registry().bus(), state_->clock(), code, id),
          durationUs_(durationS > 0 ? std::max<std::int64_t>(1, std::llround(durationS * 1e6))
                                    : 0) {
        sampler_.setRate(rateHz);
    }

    std::optional<Sample> next(std::int64_t timeoutUs) {
        const detail::BusLock lock(*state_);
        if (ended_ || stop_.load()) {
            ended_ = true;
            if (pending_) {
                const std::exception_ptr error = pending_;
                pending_ = nullptr;
                std::rethrow_exception(error);
            }
            return std::nullopt;
        }
        if (!state_->isOpen()) {
            ended_ = true;
            detail::fail(mvx::AdapterFailure,
                         detail::whereText(code_, id_) + ": the bus is closed");
        }
        mvx::Clock& clock = state_->clock();
        if (!started_) {
            sampler_.begin();
            startUs_ = sampler_.nextDueUs();
            started_ = true;
        }
        const std::int64_t dueUs = sampler_.nextDueUs();
        // None is taken at or after the end of the duration.
        if (durationUs_ > 0 && dueUs - startUs_ >= durationUs_) {
            ended_ = true;
            return std::nullopt;
        }
        const std::int64_t waitUs = dueUs - clock.nowUs();
        if (waitUs > 0) {
            if (timeoutUs >= 0 && timeoutUs < waitUs) {
                clock.sleepUs(timeoutUs);
                return std::nullopt;
            }
            clock.sleepUs(waitUs);
        }
        Sample sample;
        const std::optional<mvx::TelemetrySampler::End> end =
            sampler_.sampleOnce(false, [&](const mvx::StatusSample& s) {
                sample.timeS = s.timeS;
                sample.ok = s.ok;
                sample.result = s.result;
                if (s.ok) {
                    sample.values = detail::sampleValues(s, names_);
                }
            });
        if (end) {
            // This sample is delivered; the next call tells why the watch ended.
            const std::string where = detail::whereText(code_, id_);
            try {
                if (*end == mvx::TelemetrySampler::End::AdapterLost) {
                    detail::fail(mvx::AdapterFailure, where);
                }
                const std::string words = detail::resultWords(sample.result);
                throw NoAnswer(sample.result,
                               where + ": no answer to " +
                                   std::to_string(mvx::TelemetrySampler::kFailuresToStop) +
                                   " status reads in a row: " + words,
                               words);
            } catch (const BusError&) {
                pending_ = std::current_exception();
            }
            ended_ = true;
        }
        return sample;
    }

    bool ended() {
        const detail::BusLock lock(*state_);
        return ended_ && !pending_;
    }
    void stop() { stop_.store(true); }

private:
    std::shared_ptr<detail::BusState> state_;
    int code_;
    int id_;
    std::vector<std::string> names_;
    mvx::TelemetrySampler sampler_;
    std::int64_t durationUs_;
    std::int64_t startUs_ = 0;
    bool started_ = false;
    bool ended_ = false;
    std::exception_ptr pending_;
    std::atomic<bool> stop_{false};
};

Watch::Watch(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Watch::Watch(Watch&&) noexcept = default;
Watch& Watch::operator=(Watch&&) noexcept = default;
Watch::~Watch() = default;

std::optional<Sample> Watch::next() {
    return impl_->next(-1);
}

std::optional<Sample> Watch::next(std::chrono::microseconds timeout) {
    return impl_->next(std::max<std::int64_t>(0, timeout.count()));
}

bool Watch::ended() const {
    return impl_->ended();
}

void Watch::stop() {
    impl_->stop();
}

Watch::iterator Watch::begin() {
    return iterator(this);
}

Watch::iterator Watch::end() {
    return iterator();
}

Watch::iterator::iterator(Watch* watch) : watch_(watch) {
    current_ = watch_->next();
}

Watch::iterator& Watch::iterator::operator++() {
    current_ = watch_->next();
    return *this;
}

Watch Bus::watch(const Device& device, const std::vector<std::string>& names, double rateHz,
                 double durationS) {
    if (!std::isfinite(rateHz) || rateHz <= 0 || rateHz > mvx::TelemetrySampler::kMaxRateHz) {
        throw std::invalid_argument("rate: " + mvx::shortestText(rateHz) +
                                    " is out of range (more than 0, at most " +
                                    mvx::shortestText(mvx::TelemetrySampler::kMaxRateHz) + ")");
    }
    if (!std::isfinite(durationS) || durationS < 0 || durationS > kMaxDurationS) {
        throw std::invalid_argument("duration: " + mvx::shortestText(durationS) +
                                    " is out of range (0 for no end, at most " +
                                    mvx::shortestText(kMaxDurationS) + " (a year))");
    }
    std::vector<std::string> watched = detail::checkSampleNames(names);
    if (!state_ || device.state_ != state_) {
        throw std::invalid_argument("the device is not on this bus");
    }
    detail::BusState& state = *state_;
    const detail::BusLock lock(state);
    mvx::DeviceEntry& entry = state.entry(device.code(), device.id());
    if (entry.modelClass() != mvx::Actuator || entry.returnLevel() < 1) {
        detail::refuse(detail::whereText(device.code(), device.id()),
                       "not an actuator that answers reads; nothing to watch");
    }
    return Watch(std::make_unique<Watch::Impl>(state_, device.code(), device.id(),
                                               std::move(watched), rateHz, durationS));
}

void Bus::watch(const Device& device, const std::vector<std::string>& names, double rateHz,
                double durationS, const std::function<void(const Sample&)>& sink,
                const Stop& stop) {
    Watch samples = watch(device, names, rateHz, durationS);
    constexpr std::chrono::milliseconds kLook{20};
    for (;;) {
        if (stop.token.stop_requested() || (stop.requested && stop.requested())) {
            return;
        }
        std::optional<Sample> sample = samples.next(kLook);
        if (sample) {
            sink(*sample);
        } else if (samples.ended()) {
            return;
        }
    }
}

}  // namespace movantrix
