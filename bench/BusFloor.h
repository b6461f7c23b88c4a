// The protocol's own figures, written out here rather than taken from the code the
// benchmarks measure, and the arithmetic for the time floors built from them: wire time of
// bytes at a baud-rate code, the timed read timeout the link programs, the fixed waits, the
// search's code lists, and status packet bytes.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/Packet.h"

namespace mvx::bench {

// One byte on the wire: a start bit, 8 data bits and a stop bit.
inline constexpr double kBitsPerByte = 10.0;
// A device answers 2 us per return-delay unit after the last byte of the request.
inline constexpr double kReturnDelayUnitUs = 2.0;
// Waits of the link: after a rate change, after switching the bit mode on at open, and the
// untimed read timeout.
inline constexpr double kBaudChangeWaitUs = 100000.0;
inline constexpr double kBitModeWaitUs = 100000.0;
inline constexpr double kUntimedReadUs = 1000.0;
// The code the bus connection opens the link at.
inline constexpr int kOpenCode = 1;
// The search: the wait for the answers to a broadcast ping, the IDs walked at a code where
// someone answered, and the two code lists.
inline constexpr double kBroadcastWaitUs = 500000.0;
inline constexpr int kIdsPerCode = 254;
inline constexpr std::array<int, 9> kQuickCodes = {1, 34, 3, 4, 7, 9, 16, 103, 207};
inline constexpr std::array<int, 255> kFullCodes = [] {
    std::array<int, 255> codes{};
    for (int i = 0; i < 255; ++i) {
        codes[static_cast<std::size_t>(i)] = i + 1;
    }
    return codes;
}();

// The bit rate of `code` as the protocol defines it, 2000000 / (code + 1), unrounded. An
// adapter programs its integer part or a near standard rate; floors use the unrounded rate,
// whose wire times are never longer than those of the truncated integer rate.
inline constexpr double exactRate(int code) {
    return 2000000.0 / (static_cast<double>(code) + 1.0);
}

// Wire time of `bytes` bytes at the rate of `code`, in microseconds (exact, not rounded).
inline constexpr double wireUs(double bytes, int code) {
    return bytes * kBitsPerByte * 1e6 / exactRate(code);
}

// The timeout of a timed read of `count` bytes at `code`, in microseconds: the integer part
// of byteTime x count + margin (ms), where byteTime = 12000 / rate ms, in single precision as
// the link computes it, and the margin is 20 ms below code 103 and 60 ms from it on.
inline double timedReadUs(std::uint32_t count, int code) {
    const float rate = static_cast<float>(exactRate(code));
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
