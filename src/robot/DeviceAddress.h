// Where a device answers on the bus: its baud-rate code and its ID, as a value.
#pragma once

#include <compare>
#include <string>

namespace mvx {

struct DeviceAddress {
    int code = -1;
    int id = -1;

    bool valid() const { return code >= 0 && code <= 255 && id >= 0 && id <= 253; }
    friend auto operator<=>(const DeviceAddress&, const DeviceAddress&) = default;
};

// "code 1 ID 3".
inline std::string addressWords(const DeviceAddress& address) {
    return "code " + std::to_string(address.code) + " ID " + std::to_string(address.id);
}

}  // namespace mvx
