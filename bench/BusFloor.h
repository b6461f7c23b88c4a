// Arithmetic for the time floors the benchmarks compare against: wire time of bytes at a
// baud-rate code, the timed read timeout the link programs, and status packet bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/BaudRate.h"
#include "protocol/Packet.h"

namespace mvx::bench {

// One byte on the wire: a start bit, 8 data bits and a stop bit.
inline constexpr double kBitsPerByte = 10.0;
// A device answers 2 us per return-delay unit after the last byte of the request.
inline constexpr double kReturnDelayUnitUs = 2.0;
// Waits of the link: after a rate change, and the untimed read timeout.
inline constexpr double kBaudChangeWaitUs = 100000.0;
inline constexpr double kUntimedReadUs = 1000.0;

// Wire time of `bytes` bytes at the rate of `code`, in microseconds (exact, not rounded).
inline double wireUs(double bytes, int code) {
    return bytes * kBitsPerByte * 1e6 / static_cast<double>(rateOf(code));
}

// The timeout of a timed read of `count` bytes at `code`, in microseconds: the integer part
// of byteTime x count + margin (ms), where byteTime = 12000 / rate ms, in single precision as
// the link computes it, and the margin is 20 ms below code 103 and 60 ms from it on.
inline double timedReadUs(std::uint32_t count, int code) {
    const float rate = static_cast<float>(2000000.0 / (static_cast<double>(code) + 1.0));
    const float byteTimeMs = (1000.0f / rate) * 12.0f;
    const float margin = code < 103 ? 20.0f : 60.0f;
    return static_cast<double>(
               static_cast<std::uint32_t>(byteTimeMs * static_cast<float>(count) + margin)) *
           1000.0;
}

// Wire size of an instruction packet with `parameters` parameter bytes, and of a status
// packet carrying `data` bytes.
inline constexpr int requestBytes(int parameters) {
    return parameters + 6;
}
inline constexpr int replyBytes(int data) {
    return data + 6;
}

// A status packet from `id` with no error and the given data.
inline std::vector<std::uint8_t> statusBytes(std::uint8_t id,
                                             const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(data.size() + 6);
    bytes.push_back(0xFF);
    bytes.push_back(0xFF);
    bytes.push_back(id);
    bytes.push_back(static_cast<std::uint8_t>(data.size() + 2));
    bytes.push_back(0);  // no error
    for (const std::uint8_t byte : data) {
        bytes.push_back(byte);
    }
    bytes.push_back(packetChecksum(bytes.data() + 2, bytes.size() - 2));
    return bytes;
}

}  // namespace mvx::bench
