// A firmware image loaded from a firmware file, and the file loader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvx {

inline constexpr std::size_t kFirmwareBufferSize = 65536;
inline constexpr std::uint32_t kMaxImageLength = 65526;  // largest file (65535) less the header

struct FirmwareImage {
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(kFirmwareBufferSize);
    std::uint32_t imageLength = 0;
    int valid = 0;
    int modelNumber = 0;
    int version = 0;
};

struct UpdateList;
class RegularFile;

// Reads a firmware file into `firmware`; `firmware.valid` tells the outcome. The update list
// is emptied whatever the outcome. Only a regular file is read, and opening it never blocks
// (RegularFile): a FIFO, a device or a directory is no firmware file.
void LoadFirmware(const std::string& path, FirmwareImage& firmware, UpdateList& updates);
// The same over a file the caller has opened (to tell why one cannot be opened).
void LoadFirmware(RegularFile& file, FirmwareImage& firmware, UpdateList& updates);

}  // namespace mvx
