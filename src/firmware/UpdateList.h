// Which devices receive the loaded firmware image, and how each fared.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace mvx {

inline constexpr int kUpdateListCapacity = 256;

struct UpdateList {
    int count = 0;
    std::array<int, kUpdateListCapacity> baudCodes{};
    std::array<int, kUpdateListCapacity> ids{};
    std::array<std::uint8_t, kUpdateListCapacity> resultFlags{};
    // DownloadProgress: written by the download worker, read by the GUI at any time.
    std::atomic<int> progress{0};
};

}  // namespace mvx
