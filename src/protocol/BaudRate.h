// Baud-rate codes, their bit rates, and the code lists the bus search walks.
#pragma once

#include <array>
#include <cstdint>

namespace mvx {

// Bit rate of a baud-rate code: 2000000 / (code + 1), by integer division.
constexpr std::uint32_t rateOf(int code) {
    return 2000000u / static_cast<std::uint32_t>(code + 1);
}

// Quick search: the common rates, 1000000 and 57142 bps first.
inline constexpr std::array<std::uint8_t, 9> kQuickSearchCodes = {1, 34, 3, 4, 7, 9, 16, 103, 207};

// Full search: every code from 1 to 255 in ascending order.
constexpr std::array<std::uint8_t, 255> fullSearchCodes() {
    std::array<std::uint8_t, 255> codes{};
    for (int i = 0; i < 255; ++i) {
        codes[i] = static_cast<std::uint8_t>(i + 1);
    }
    return codes;
}

}  // namespace mvx
