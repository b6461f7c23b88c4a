#include "firmware/FirmwareImage.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "firmware/UpdateList.h"

namespace mvx {

namespace {

constexpr std::size_t kHeaderSize = 9;
constexpr long kMaxFileSize = 65535;
constexpr std::array<std::uint8_t, 6> kMagic = {0x11, 0x33, 0x55, 0x77, 0x99, 0x01};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Reads the file whole into `bytes`. The size is checked before anything is read, and exactly
// that many bytes are read: a file that shrinks meanwhile fails, one that grows is cut at the
// size measured, so the read never runs past the buffer whatever the file does.
bool readFirmwareFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        return false;
    }
    const long size = std::ftell(file.get());
    if (size < static_cast<long>(kHeaderSize) || size > kMaxFileSize) {
        return false;
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const std::size_t n = std::fread(bytes.data() + got, 1, bytes.size() - got, file.get());
        if (n == 0) {
            return false;  // end of file or read error before the measured size
        }
        got += n;
    }
    return true;
}

}  // namespace

void LoadFirmware(const std::string& path, FirmwareImage& firmware, UpdateList& updates) {
    updates.count = 0;

    std::vector<std::uint8_t> file;
    if (!readFirmwareFile(path, file) || !std::equal(kMagic.begin(), kMagic.end(), file.begin())) {
        firmware.valid = 0;
        return;
    }

    // Every image byte is stored XOR-ed with the low byte of its own file offset.
    for (std::size_t i = kHeaderSize; i < file.size(); ++i) {
        file[i] ^= static_cast<std::uint8_t>(i & 0xFF);
    }

    if (firmware.image.size() < kFirmwareBufferSize) {
        firmware.image.resize(kFirmwareBufferSize);
    }
    const std::size_t length = file.size() - kHeaderSize;
    std::copy(file.begin() + kHeaderSize, file.end(), firmware.image.begin());
    firmware.imageLength = static_cast<std::uint32_t>(length);
    firmware.modelNumber = file[6] + 256 * file[7];
    firmware.version = file[8];
    firmware.valid = 1;
}

}  // namespace mvx
