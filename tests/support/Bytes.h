// Byte helpers for tests: "FF FF 01 02 01 FB" <-> byte vectors, and packets on the wire.
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

// An instruction packet on the wire: FF FF, ID, LEN, instruction, parameters, checksum.
Bytes instructionBytes(std::uint8_t id, std::uint8_t instruction, const Bytes& params = {});
// A status packet as a device sends it (same framing, the error byte in place of the
// instruction).
Bytes statusBytes(std::uint8_t id, std::uint8_t error = 0, const Bytes& data = {});

}  // namespace mvx::test
