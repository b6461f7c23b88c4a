#include "gui/telemetry/TelemetryTrace.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "device/StatusText.h"

namespace mvx::gui {

namespace {

template <typename T>
T clampTo(int value) {
    return static_cast<T>(
        std::clamp<int>(value, std::numeric_limits<T>::min(), std::numeric_limits<T>::max()));
}

}  // namespace

void TelemetryTrace::add(const StatusSample& sample, double runStartS) {
    const double clockS = runStartS + sample.timeS;
    if (samples_.empty()) {
        originS_ = clockS;
    }
    TraceSample stored;
    // A later sample never goes back in time, whatever the clock did between runs.
    stored.timeS = std::max(clockS - originS_, lastTimeS());
    if (runStartPending_) {
        stored.flags |= TraceSample::RunStart;
        runStartIndex_ = samples_.size();
        runStartPending_ = false;
    }
    if (sample.ok) {
        stored.flags |= TraceSample::Read;
        stored.presentPosition = clampTo<std::uint16_t>(sample.presentPosition);
        stored.goalPosition = clampTo<std::uint16_t>(sample.goalPosition);
        stored.presentSpeed = clampTo<std::int16_t>(sample.presentSpeed);
        stored.presentLoad = clampTo<std::int16_t>(sample.presentLoad);
        stored.presentVoltage = clampTo<std::uint8_t>(sample.presentVoltage);
        stored.presentTemperature = clampTo<std::uint8_t>(sample.presentTemperature);
        if (sample.moving != 0) {
            stored.flags |= TraceSample::Moving;
        }
        ++reads_;
    } else {
        if (sample.yielded) {
            stored.flags |= TraceSample::Yielded;
        }
        ++gaps_;
    }
    samples_.push_back(stored);
}

void TelemetryTrace::clear() {
    samples_.clear();
    samples_.shrink_to_fit();
    originS_ = 0.0;
    runStartPending_ = true;
    runStartIndex_ = 0;
    reads_ = 0;
    gaps_ = 0;
}

double TelemetryTrace::recentRate(double windowS) const {
    if (samples_.empty()) {
        return 0.0;
    }
    const double fromS = samples_.back().timeS - windowS;
    int reads = 0;
    double firstS = 0.0;
    double lastS = 0.0;
    for (std::size_t i = samples_.size(); i > runStartIndex_; --i) {
        const TraceSample& sample = samples_[i - 1];
        if (sample.timeS < fromS) {
            break;
        }
        if (sample.read()) {
            if (reads == 0) {
                lastS = sample.timeS;
            }
            firstS = sample.timeS;
            ++reads;
        }
    }
    if (reads < 2 || lastS <= firstS) {
        return 0.0;
    }
    return (reads - 1) / (lastS - firstS);
}

double TelemetryTrace::value(const TraceSample& sample, Quantity quantity) {
    switch (quantity) {
        case PresentPosition:
            return sample.presentPosition;
        case GoalPosition:
            return sample.goalPosition;
        case PresentSpeed:
            return sample.presentSpeed;
        case PresentLoad:
            return sample.presentLoad;
        case Voltage:
            return sample.presentVoltage / 10.0;
        case Temperature:
            return sample.presentTemperature;
    }
    return 0.0;
}

std::size_t TelemetryTrace::lowerBound(double timeS) const {
    const auto it =
        std::lower_bound(samples_.begin(), samples_.end(), timeS,
                         [](const TraceSample& sample, double t) { return sample.timeS < t; });
    return static_cast<std::size_t>(it - samples_.begin());
}

QList<QPointF> TelemetryTrace::points(Quantity quantity, double fromS, double toS,
                                      int buckets) const {
    QList<QPointF> out;
    std::size_t begin = lowerBound(fromS);
    const std::size_t end = lowerBound(std::nextafter(toS, toS + 1.0));
    // The read just before the span, so that the curve starts at its left edge.
    for (std::size_t i = begin; i > 0; --i) {
        if (samples_[i - 1].read()) {
            out.append({samples_[i - 1].timeS, value(samples_[i - 1], quantity)});
            break;
        }
    }
    int reads = 0;
    for (std::size_t i = begin; i < end; ++i) {
        reads += samples_[i].read() ? 1 : 0;
    }
    buckets = std::max(buckets, 1);
    if (reads <= 2 * buckets) {
        out.reserve(out.size() + reads);
        for (std::size_t i = begin; i < end; ++i) {
            if (samples_[i].read()) {
                out.append({samples_[i].timeS, value(samples_[i], quantity)});
            }
        }
        return out;
    }
    out.reserve(out.size() + 2 * buckets);
    const double width = (toS - fromS) / buckets;
    int bucket = -1;
    std::size_t low = 0;
    std::size_t high = 0;
    auto flush = [&] {
        if (bucket < 0) {
            return;
        }
        const std::size_t first = std::min(low, high);
        const std::size_t second = std::max(low, high);
        out.append({samples_[first].timeS, value(samples_[first], quantity)});
        if (second != first) {
            out.append({samples_[second].timeS, value(samples_[second], quantity)});
        }
    };
    for (; begin < end; ++begin) {
        const TraceSample& sample = samples_[begin];
        if (!sample.read()) {
            continue;
        }
        const int at = std::clamp(static_cast<int>((sample.timeS - fromS) / width), 0, buckets - 1);
        const double v = value(sample, quantity);
        if (at != bucket) {
            flush();
            bucket = at;
            low = begin;
            high = begin;
        } else if (v < value(samples_[low], quantity)) {
            low = begin;
        } else if (v > value(samples_[high], quantity)) {
            high = begin;
        }
    }
    flush();
    return out;
}

bool TelemetryTrace::valueRange(Quantity quantity, double fromS, double toS, double& low,
                                double& high) const {
    bool any = false;
    for (std::size_t i = lowerBound(fromS); i < samples_.size() && samples_[i].timeS <= toS; ++i) {
        if (!samples_[i].read()) {
            continue;
        }
        const double v = value(samples_[i], quantity);
        low = any ? std::min(low, v) : v;
        high = any ? std::max(high, v) : v;
        any = true;
    }
    return any;
}

std::vector<std::pair<double, double>> TelemetryTrace::unsampled(double fromS, double toS) const {
    std::vector<std::pair<double, double>> stretches;
    auto keep = [&](double a, double b) {
        a = std::max(a, fromS);
        b = std::min(b, toS);
        if (b >= a) {
            stretches.emplace_back(a, b);
        }
    };
    std::size_t i = lowerBound(fromS);
    while (i > 0 && !samples_[i - 1].read()) {
        --i;
    }
    if (i > 0) {
        --i;  // the read before the span
    }
    bool bridged = false;
    bool haveRead = false;
    double lastReadS = 0.0;
    double startS = 0.0;
    for (; i < samples_.size(); ++i) {
        const TraceSample& sample = samples_[i];
        const bool resumed = (sample.flags & TraceSample::RunStart) != 0 && i > 0;
        if (!bridged && (!sample.read() || resumed)) {
            bridged = true;
            startS = haveRead ? lastReadS : sample.timeS;
        }
        if (sample.read()) {
            if (bridged) {
                keep(startS, sample.timeS);
                bridged = false;
            }
            haveRead = true;
            lastReadS = sample.timeS;
            if (sample.timeS > toS) {
                break;
            }
        }
    }
    if (bridged) {
        keep(startS, samples_.back().timeS);
    }
    return stretches;
}

QByteArray TelemetryTrace::csv() const {
    QByteArray text(kStatusCsvHeader);
    text.append('\n');
    text.reserve(text.size() + reads_ * 40);
    for (const TraceSample& sample : samples_) {
        if (!sample.read()) {
            continue;
        }
        StatusSample line;
        line.timeS = sample.timeS;
        line.presentPosition = sample.presentPosition;
        line.presentSpeed = sample.presentSpeed;
        line.presentLoad = sample.presentLoad;
        line.presentVoltage = sample.presentVoltage;
        line.presentTemperature = sample.presentTemperature;
        line.goalPosition = sample.goalPosition;
        line.moving = (sample.flags & TraceSample::Moving) != 0 ? 1 : 0;
        const std::string csvLine = statusCsvLine(line);
        text.append(csvLine.data(), static_cast<qsizetype>(csvLine.size())).append('\n');
    }
    return text;
}

}  // namespace mvx::gui
