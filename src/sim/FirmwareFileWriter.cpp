#include "sim/FirmwareFileWriter.h"

#include <algorithm>

#include "drivers/RegularFile.h"
#include "firmware/FirmwareFileFormat.h"

namespace mvx {

namespace {

constexpr std::uint8_t kSignature[4] = {'M', 'V', 'F', 'W'};
constexpr std::size_t kSignatureSize = 7;  // "MVFW", model (2), version

}  // namespace

std::vector<std::uint8_t> makeSimFirmwareImage(std::uint16_t model, std::uint8_t version,
                                               std::size_t size) {
    std::vector<std::uint8_t> image(std::max(size, kSignatureSize));
    std::copy(std::begin(kSignature), std::end(kSignature), image.begin());
    image[4] = static_cast<std::uint8_t>(model & 0xFF);
    image[5] = static_cast<std::uint8_t>(model >> 8);
    image[6] = version;
    // Filler: a small linear congruential sequence seeded by model and version, so the same
    // arguments always give the same image.
    std::uint32_t state = 0x4D565846u ^ (static_cast<std::uint32_t>(model) << 8) ^ version;
    for (std::size_t i = kSignatureSize; i < image.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return image;
}

int simImageVersion(const std::vector<std::uint8_t>& image, std::uint16_t model) {
    if (image.size() < kSignatureSize ||
        !std::equal(std::begin(kSignature), std::end(kSignature), image.begin())) {
        return -1;
    }
    if ((image[4] | (image[5] << 8)) != model) {
        return -1;
    }
    return image[6];
}

std::vector<std::uint8_t> encodeFirmwareFile(std::uint16_t model, std::uint8_t version,
                                             const std::vector<std::uint8_t>& image) {
    std::vector<std::uint8_t> file(std::begin(firmware_file::kMagic),
                                   std::end(firmware_file::kMagic));
    file.push_back(static_cast<std::uint8_t>(model & 0xFF));
    file.push_back(static_cast<std::uint8_t>(model >> 8));
    file.push_back(version);
    for (std::size_t i = 0; i < image.size(); ++i) {
        const std::size_t offset = firmware_file::kHeaderSize + i;
        file.push_back(static_cast<std::uint8_t>(image[i] ^ (offset & 0xFF)));
    }
    return file;
}

bool writeFirmwareFile(const std::string& path, std::uint16_t model, std::uint8_t version,
                       const std::vector<std::uint8_t>& image, std::string& error) {
    if (image.size() + firmware_file::kHeaderSize > firmware_file::kMaxFileSize) {
        error = "image of " + std::to_string(image.size()) + " bytes is too large (at most " +
                std::to_string(firmware_file::kMaxFileSize - firmware_file::kHeaderSize) + ")";
        return false;
    }
    const std::vector<std::uint8_t> file = encodeFirmwareFile(model, version, image);
    // Written whole or not at all, and only as a regular file.
    return writeFileAtomically(path, std::string(file.begin(), file.end()), error);
}

}  // namespace mvx
