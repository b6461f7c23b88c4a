#include "firmware/FirmwareImage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "firmware/UpdateList.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::Bytes;

// A firmware file: the magic, model (LE16), version, then the image scrambled by offset.
Bytes firmwareFile(int model, int version, const Bytes& image) {
    Bytes file = {0x11,
                  0x33,
                  0x55,
                  0x77,
                  0x99,
                  0x01,
                  static_cast<std::uint8_t>(model & 0xFF),
                  static_cast<std::uint8_t>(model >> 8),
                  static_cast<std::uint8_t>(version)};
    for (std::size_t i = 0; i < image.size(); ++i) {
        file.push_back(static_cast<std::uint8_t>(image[i] ^ ((i + 9) & 0xFF)));
    }
    return file;
}

class FirmwareImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("mvx-firmware-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        updates_.count = 5;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const Bytes& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    void load(const std::string& path) { LoadFirmware(path, firmware_, updates_); }

    std::filesystem::path dir_;
    FirmwareImage firmware_;
    UpdateList updates_;
};

TEST_F(FirmwareImageTest, NineByteFileIsValidAndEmpty) {
    load(write("empty.mvx", firmwareFile(12, 3, {})));
    EXPECT_EQ(firmware_.valid, 1);
    EXPECT_EQ(firmware_.imageLength, 0u);
    EXPECT_EQ(firmware_.modelNumber, 12);
    EXPECT_EQ(firmware_.version, 3);
    EXPECT_EQ(updates_.count, 0);
}

TEST_F(FirmwareImageTest, DescramblesByFileOffset) {
    Bytes file = firmwareFile(12, 1, Bytes(300, 0x00));
    file[9] = 0x48;
    file[10] = 0x48;
    file[265] = 0x09 ^ 0x5A;  // offset 265 is XOR-ed with 0x09 again
    load(write("scrambled.mvx", file));
    ASSERT_EQ(firmware_.valid, 1);
    ASSERT_EQ(firmware_.imageLength, 300u);
    EXPECT_EQ(firmware_.image[0], 0x41);
    EXPECT_EQ(firmware_.image[1], 0x42);
    EXPECT_EQ(firmware_.image[256], 0x5A);
    EXPECT_EQ(firmware_.image[299], 0x00);
}

TEST_F(FirmwareImageTest, ModelIsLittleEndianAndVersionUnsigned) {
    load(write("a.mvx", Bytes{0x11, 0x33, 0x55, 0x77, 0x99, 0x01, 0x0C, 0x00, 0xFF}));
    EXPECT_EQ(firmware_.modelNumber, 12);
    EXPECT_EQ(firmware_.version, 255);
    load(write("b.mvx", Bytes{0x11, 0x33, 0x55, 0x77, 0x99, 0x01, 0x40, 0x00, 0x07}));
    EXPECT_EQ(firmware_.modelNumber, 64);
    load(write("c.mvx", Bytes{0x11, 0x33, 0x55, 0x77, 0x99, 0x01, 0x34, 0x12, 0x80}));
    EXPECT_EQ(firmware_.modelNumber, 0x1234);
    EXPECT_EQ(firmware_.version, 128);
}

TEST_F(FirmwareImageTest, LargestFileLoadsAndOneMoreByteIsRejected) {
    Bytes image(65535 - 9);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7);
    }
    load(write("largest.mvx", firmwareFile(29, 2, image)));
    ASSERT_EQ(firmware_.valid, 1);
    ASSERT_EQ(firmware_.imageLength, 65526u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), firmware_.image.begin()));

    // One byte more: rejected before anything is read, the buffer keeps the previous image.
    Bytes tooLarge = firmwareFile(29, 3, Bytes(65536 - 9, 0xEE));
    load(write("too-large.mvx", tooLarge));
    EXPECT_EQ(firmware_.valid, 0);
    EXPECT_EQ(firmware_.image.size(), kFirmwareBufferSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), firmware_.image.begin()));
    EXPECT_EQ(firmware_.version, 2);
}

TEST_F(FirmwareImageTest, HugeFileNeverOverrunsTheBuffer) {
    // A sparse file of 4 GiB that starts with the magic.
    const std::string path = write("huge.mvx", firmwareFile(12, 1, Bytes(16, 1)));
    std::filesystem::resize_file(path, 4ull << 30);
    load(path);
    EXPECT_EQ(firmware_.valid, 0);
    EXPECT_EQ(firmware_.image.size(), kFirmwareBufferSize);
}

TEST_F(FirmwareImageTest, RejectsWhatIsNotAFirmwareFile) {
    const Bytes good = firmwareFile(12, 1, {1, 2, 3});

    Bytes badMagic = good;
    badMagic[5] = 0x02;
    load(write("magic.mvx", badMagic));
    EXPECT_EQ(firmware_.valid, 0);

    load(write("short.mvx", Bytes(good.begin(), good.begin() + 8)));
    EXPECT_EQ(firmware_.valid, 0);

    load(write("zero.mvx", {}));
    EXPECT_EQ(firmware_.valid, 0);

    load((dir_ / "missing.mvx").string());
    EXPECT_EQ(firmware_.valid, 0);
}

// Only a regular file is read: a FIFO is rejected at once instead of waiting for a writer
// (which froze the wizard), a device and a directory are never read.
TEST_F(FirmwareImageTest, OnlyARegularFileIsRead) {
    const std::string fifo = (dir_ / "fifo.mvx").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir_.string()}) {
        SCOPED_TRACE(path);
        load(write("good.mvx", firmwareFile(12, 1, {1, 2, 3})));
        ASSERT_EQ(firmware_.valid, 1);
        auto loading = std::async(std::launch::async, [&] { load(path); });
        const bool returned =
            loading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (!returned) {
            ::close(::open(path.c_str(), O_WRONLY));  // a writer comes and goes: the load ends
        }
        loading.wait();
        EXPECT_TRUE(returned) << "the load waited for a writer";
        EXPECT_EQ(firmware_.valid, 0);
    }
}

TEST_F(FirmwareImageTest, SecondLoadReplacesAndInvalidLoadEmptiesTheList) {
    load(write("first.mvx", firmwareFile(12, 1, {0x10, 0x20, 0x30})));
    ASSERT_EQ(firmware_.valid, 1);
    load(write("second.mvx", firmwareFile(64, 9, {0x55})));
    ASSERT_EQ(firmware_.valid, 1);
    EXPECT_EQ(firmware_.imageLength, 1u);
    EXPECT_EQ(firmware_.image[0], 0x55);
    EXPECT_EQ(firmware_.modelNumber, 64);
    EXPECT_EQ(firmware_.version, 9);

    updates_.count = 3;
    Bytes bad = firmwareFile(12, 4, {});
    bad[0] = 0x00;
    load(write("bad.mvx", bad));
    EXPECT_EQ(firmware_.valid, 0);
    EXPECT_EQ(updates_.count, 0);
    // Model and version keep their earlier values after a failed load.
    EXPECT_EQ(firmware_.modelNumber, 64);
    EXPECT_EQ(firmware_.version, 9);
}

}  // namespace
}  // namespace mvx
