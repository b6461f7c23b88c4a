// Byte helpers for tests: "FF FF 01 02 01 FB" <-> byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvx::test {

using Bytes = std::vector<std::uint8_t>;

// Parses hex byte pairs separated by blanks: "FF FF 01" -> {0xFF, 0xFF, 0x01}.
Bytes hexBytes(const std::string& text);
// Formats bytes as upper-case hex pairs separated by single blanks.
std::string hexString(const std::uint8_t* bytes, std::size_t count);
inline std::string hexString(const Bytes& bytes) {
    return hexString(bytes.data(), bytes.size());
}

}  // namespace mvx::test
