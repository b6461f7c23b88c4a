// Copies an adapter description into a caller's buffer the way the list calls hand it out:
// zero-terminated, cut to the buffer and to the driver's own description limit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "drivers/FtDriver.h"

namespace mvx {

// Returns false (and writes nothing) when there is no room at all.
inline bool copyDescription(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    const std::size_t room = std::min(size, kFtDescriptionSize) - 1;
    const std::size_t n = std::min(room, text.size());
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return true;
}

}  // namespace mvx
