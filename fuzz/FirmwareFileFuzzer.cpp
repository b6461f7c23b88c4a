// Fuzz target: the firmware file reader on any file content. The input is written to a
// scratch file (the reader takes a path) and loaded into an image that holds an earlier load.
//
// Invariants: the load is valid exactly for 9 to 65535 bytes starting with the magic; then the
// image is the descrambled rest, the model and version come from the header; the update list
// is emptied whatever the outcome; an invalid load keeps model and version.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UpdateList.h"

namespace {

constexpr std::size_t kHeaderSize = 9;
constexpr std::size_t kMaxFileSize = 65535;
constexpr std::array<std::uint8_t, 6> kMagic = {0x11, 0x33, 0x55, 0x77, 0x99, 0x01};

// One scratch file per process, removed at exit.
const std::string& scratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") +
                              "/mvx-fuzz-firmware-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        MVX_FUZZ_CHECK(fd >= 0);
        ::close(fd);
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] { std::remove(removeAtExit.c_str()); });
        return pattern;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchPath();
    // A new file each time: truncating one that holds data makes ext4 flush it on close, which
    // cut the rate thirtyfold.
    std::remove(path.c_str());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    MVX_FUZZ_CHECK(file != nullptr);
    MVX_FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
    MVX_FUZZ_CHECK(std::fclose(file) == 0);

    mvx::FirmwareImage firmware;
    firmware.modelNumber = 4242;
    firmware.version = 77;
    mvx::UpdateList updates;
    updates.count = 5;
    mvx::LoadFirmware(path, firmware, updates);

    const bool expectValid = size >= kHeaderSize && size <= kMaxFileSize &&
                             std::equal(kMagic.begin(), kMagic.end(), data);
    MVX_FUZZ_CHECK(updates.count == 0);
    MVX_FUZZ_CHECK(firmware.valid == (expectValid ? 1 : 0));
    MVX_FUZZ_CHECK(firmware.image.size() >= mvx::kFirmwareBufferSize);
    if (!expectValid) {
        MVX_FUZZ_CHECK(firmware.modelNumber == 4242 && firmware.version == 77);
        return 0;
    }
    MVX_FUZZ_CHECK(firmware.imageLength == size - kHeaderSize);
    MVX_FUZZ_CHECK(firmware.modelNumber == data[6] + 256 * data[7]);
    MVX_FUZZ_CHECK(firmware.version == data[8]);
    for (std::size_t i = kHeaderSize; i < size; ++i) {
        MVX_FUZZ_CHECK(firmware.image[i - kHeaderSize] ==
                       static_cast<std::uint8_t>(data[i] ^ (i & 0xFF)));
    }
    return 0;
}
