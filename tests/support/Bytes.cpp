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

Bytes instructionBytes(std::uint8_t id, std::uint8_t instruction, const Bytes& params) {
    Bytes out;
    out.reserve(params.size() + 6);
    for (std::uint8_t b : {std::uint8_t{0xFF}, std::uint8_t{0xFF}, id,
                           static_cast<std::uint8_t>(params.size() + 2), instruction}) {
        out.push_back(b);
    }
    for (std::uint8_t p : params) {
        out.push_back(p);
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i < out.size(); ++i) {
        sum += out[i];
    }
    out.push_back(static_cast<std::uint8_t>(~sum));
    return out;
}

Bytes statusBytes(std::uint8_t id, std::uint8_t error, const Bytes& data) {
    return instructionBytes(id, error, data);
}

}  // namespace mvx::test
