// The firmware file's frame, shared by its reader and the simulated devices' file writer: six
// magic bytes, a header of nine bytes in all, and at most 65535 bytes of file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mvx::firmware_file {

constexpr std::array<std::uint8_t, 6> kMagic = {0x11, 0x33, 0x55, 0x77, 0x99, 0x01};
constexpr std::size_t kHeaderSize = 9;
constexpr std::size_t kMaxFileSize = 65535;

}  // namespace mvx::firmware_file
