#include "search/FastSearchTiming.h"

#include <algorithm>

#include "protocol/BaudRate.h"

namespace mvx {

namespace {

constexpr std::int64_t kTenthBitsPerByte = 105;  // 10.5 bits
constexpr std::int64_t kSettleExtraUs = 100;
constexpr std::int64_t kWindowGuardUs = 20;

std::int64_t tenthBitsUs(std::int64_t tenthBits, int code) {
    // (tenth bits) / 10 / rate s = tenthBits x (code + 1) / 20 us, rounded up
    const std::int64_t scaled = tenthBits * (static_cast<std::int64_t>(code) + 1);
    return (scaled + 19) / 20;
}

}  // namespace

FastSearchTiming::FastSearchTiming(std::int64_t knownLatencyUs)
    : knownLatencyUs_(knownLatencyUs < 0 ? -1 : knownLatencyUs) {}

std::int64_t FastSearchTiming::wireUs(int bytes, int code) {
    return tenthBitsUs(kTenthBitsPerByte * bytes, code);
}

std::int64_t FastSearchTiming::leastWireUs(int bytes, int code) {
    return static_cast<std::int64_t>(bytes) * 10 * 1000000 /
           static_cast<std::int64_t>(rateOf(code));
}

std::int64_t FastSearchTiming::settleUs(int code) {
    return wireUs(1, code) + kSettleExtraUs;
}

std::int64_t FastSearchTiming::replyWindowUs(int requestBytes, int replyBytes, int code) {
    return wireUs(requestBytes, code) + kMaxReturnDelayUs + wireUs(replyBytes, code) +
           kWindowGuardUs;
}

std::int64_t FastSearchTiming::firstByteWindowUs(int requestBytes, int code) {
    return replyWindowUs(requestBytes, 1, code);
}

std::int64_t FastSearchTiming::baseUs() const {
    return (knownLatencyUs_ >= 0 ? knownLatencyUs_ : kAssumedLatencyUs) + kLatencyMarginUs;
}

std::int64_t FastSearchTiming::learnedUs() const {
    return slowestUs_ < 0 ? 0 : slowestUs_ * 3 / 2 + 2 * kLatencyMarginUs;
}

std::int64_t FastSearchTiming::latencyAllowanceUs() const {
    if (knownLatencyUs_ >= 0) {
        return raised_ ? std::max(baseUs(), learnedUs()) : baseUs();
    }
    // Unknown: the assumption stands until the samples are enough to go by.
    return samples_ >= kSamplesToTrust ? learnedUs() : std::max(baseUs(), learnedUs());
}

void FastSearchTiming::observe(std::int64_t sentUs, std::int64_t arrivedUs, int requestBytes,
                               int replyBytes, int code) {
    const std::int64_t sample = std::max<std::int64_t>(
        0, arrivedUs - sentUs - leastWireUs(requestBytes, code) - leastWireUs(replyBytes, code));
    // The sample holds the device's return delay besides the latency.
    const bool late = sample > latencyAllowanceUs() + kMaxReturnDelayUs;
    if (knownLatencyUs_ >= 0 && late) {
        raised_ = true;
    }
    slowestUs_ = std::max(slowestUs_, sample);
    ++samples_;
}

}  // namespace mvx
