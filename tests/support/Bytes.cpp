#include "support/Bytes.h"

#include <cstdio>
#include <sstream>

namespace mvx::test {

Bytes hexBytes(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return out;
}

std::string hexString(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += buf;
    }
    return out;
}

}  // namespace mvx::test
