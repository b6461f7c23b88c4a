#include "firmware/FirmwareImage.h"

#include <algorithm>
#include <array>

#include "drivers/RegularFile.h"
#include "firmware/FirmwareFileFormat.h"
#include "firmware/UpdateList.h"

namespace mvx {

namespace {

// Reads the file whole into `bytes`. The size is checked before anything is read, and exactly
// that many bytes are read: a file that shrinks meanwhile fails, one that grows is cut at the
// size measured, so the read never runs past the buffer whatever the file does.
bool readFirmwareFile(RegularFile& file, std::vector<std::uint8_t>& bytes) {
    if (!file.isOpen() || file.size() < firmware_file::kHeaderSize ||
        file.size() > firmware_file::kMaxFileSize) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(file.size()));
    return file.readExactly(bytes.data(), bytes.size());
}

}  // namespace

void LoadFirmware(const std::string& path, FirmwareImage& firmware, UpdateList& updates) {
    RegularFile file = RegularFile::open(path);
    LoadFirmware(file, firmware, updates);
}

void LoadFirmware(RegularFile& file, FirmwareImage& firmware, UpdateList& updates) {
    updates.count = 0;

    std::vector<std::uint8_t> bytes;
    if (!readFirmwareFile(file, bytes) ||
        !std::equal(firmware_file::kMagic.begin(), firmware_file::kMagic.end(), bytes.begin())) {
        firmware.valid = 0;
        return;
    }

    // Every image byte is stored XOR-ed with the low byte of its own file offset.
    for (std::size_t i = firmware_file::kHeaderSize; i < bytes.size(); ++i) {
        bytes[i] ^= static_cast<std::uint8_t>(i & 0xFF);
    }

    if (firmware.image.size() < kFirmwareBufferSize) {
        firmware.image.resize(kFirmwareBufferSize);
    }
    const std::size_t length = bytes.size() - firmware_file::kHeaderSize;
    std::copy(bytes.begin() + firmware_file::kHeaderSize, bytes.end(), firmware.image.begin());
    firmware.imageLength = static_cast<std::uint32_t>(length);
    firmware.modelNumber = bytes[6] + 256 * bytes[7];
    firmware.version = bytes[8];
    firmware.valid = 1;
}

}  // namespace mvx
