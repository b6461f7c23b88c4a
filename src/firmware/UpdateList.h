// Which devices receive the loaded firmware image, and how each fared.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace mvx {

inline constexpr int kUpdateListCapacity = 256;

// How one device of the list fared (its result flag).
enum UpdateResult : std::uint8_t {
    UpdateFailed = 0,      // tried: the loader did not take the image
    UpdateSucceeded = 1,   // the image is in
    UpdateNotReached = 2,  // never tried: the run ended before this device (adapter lost)
    // Never tried: another device of the registry holds its ID at the code it restarts at,
    // where the rate write-back by ID would move that device too (`idInUseAtCodes`).
    UpdateSkippedIdInUse = 3,
    // Never tried: it answered with another model number than the image's (swapped since the
    // search).
    UpdateSkippedModelChanged = 4,
    // Tried and failed, and it did not answer its ping afterwards (or the run ended while it
    // was in its loader): it may still be in its loader until it is powered off and on.
    UpdateFailedInLoader = 5,
};

struct UpdateList {
    int count = 0;
    // Devices that matched but found the list full (BuildUpdateList): not updated this time.
    int leftOut = 0;
    std::array<int, kUpdateListCapacity> baudCodes{};
    std::array<int, kUpdateListCapacity> ids{};
    std::array<std::uint8_t, kUpdateListCapacity> resultFlags{};
    // For an updated device: -1 when it is back at its own rate, else the code it was left at
    // (its loader's) because its rate could not be restored.
    std::array<int, kUpdateListCapacity> leftAtCodes{};
    // For a device skipped as UpdateSkippedIdInUse: the code at which its ID is in use.
    std::array<int, kUpdateListCapacity> idInUseAtCodes{};
    // DownloadProgress: written by the download worker, read by the GUI at any time.
    std::atomic<int> progress{0};
};

}  // namespace mvx
