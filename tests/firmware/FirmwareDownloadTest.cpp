#include "firmware/FirmwareDownload.h"

#include <gtest/gtest.h>

#include "device/DeviceRegistry.h"
#include "search/FakeBus.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::Bytes;
using test::FakeBus;
using test::FakeDevice;
using test::hexBytes;
using test::makeDevice;
using test::WireWrite;

constexpr std::uint32_t kLoaderRate = 57142;

class FirmwareDownloadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.bus().open(0)); }

    // Puts the fake devices into the registry, in the order given.
    void registerDevices(std::vector<FakeDevice> devices) {
        bus_.devices = std::move(devices);
        for (const FakeDevice& d : bus_.devices) {
            ASSERT_EQ(registry_.appendPlaceholder()->probe(d.code, d.id), 100);
        }
        bus_.log.clear();
    }
    void setImage(int model, int version, const Bytes& image) {
        FirmwareImage& fw = registry_.firmware;
        std::copy(image.begin(), image.end(), fw.image.begin());
        fw.imageLength = static_cast<std::uint32_t>(image.size());
        fw.modelNumber = model;
        fw.version = version;
        fw.valid = 1;
    }
    void updateAll() { BuildUpdateList(registry_, 0); }

    // The raw loader writes (not packets) at 57142 bps.
    std::vector<WireWrite> rawWrites() const {
        std::vector<WireWrite> out;
        for (const WireWrite& w : bus_.writesAt(kLoaderRate)) {
            if (w.bytes.size() < 2 || w.bytes[0] != 0xFF || w.bytes[1] != 0xFF) {
                out.push_back(w);
            }
        }
        return out;
    }
    int rawCount(std::uint8_t single) const {
        int n = 0;
        for (const WireWrite& w : rawWrites()) {
            n += w.bytes == Bytes{single};
        }
        return n;
    }
    // Packets with this instruction to this ID.
    std::vector<WireWrite> packets(int id, int instruction) const {
        std::vector<WireWrite> out;
        for (const WireWrite& w : bus_.log) {
            if (w.bytes.size() >= 6 && w.bytes[0] == 0xFF && w.bytes[2] == id &&
                w.bytes[4] == instruction) {
                out.push_back(w);
            }
        }
        return out;
    }

    VirtualClock clock_;
    FakeBus bus_{clock_};
    DeviceRegistry registry_{bus_, clock_};
};

TEST_F(FirmwareDownloadTest, TwoByteImageIsSentWithItsChecksumAndTheDeviceUpdated) {
    auto device = makeDevice(3, 5, 64, 1);
    device.versionAfterUpdate = 2;
    registerDevices({device});
    setImage(64, 2, {0x41, 0x42});
    updateAll();
    ASSERT_EQ(registry_.updates.count, 1);

    EXPECT_EQ(DownloadAll(registry_), 100);

    const FakeDevice& d = bus_.devices[0];
    ASSERT_EQ(d.images.size(), 1u);
    EXPECT_EQ(d.images[0], hexBytes("41 42 83"));
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    EXPECT_EQ(DownloadProgress(registry_), 100);
    EXPECT_EQ(registry_.find(3, 5)->firmwareVersion(), 2);
    // The device was restarted and put back on its own rate.
    EXPECT_EQ(d.instruction7Count, 1);
    EXPECT_EQ(d.code, 3);
    EXPECT_EQ(d.version(), 2);
    // The loaded image is left as loaded.
    EXPECT_EQ(registry_.firmware.imageLength, 2u);

    // The dialogue on the wire: 0D, 100 ms, 4C, 100 ms, image, 300 ms (+1 ms read), 100 ms,
    // 41, 100 ms, 47.
    const std::vector<WireWrite> raw = rawWrites();
    ASSERT_EQ(raw.size(), 5u);
    EXPECT_EQ(raw[0].bytes, Bytes{0x0D});
    EXPECT_EQ(raw[1].bytes, Bytes{0x4C});
    EXPECT_EQ(raw[2].bytes, hexBytes("41 42 83"));
    EXPECT_EQ(raw[3].bytes, Bytes{0x41});
    EXPECT_EQ(raw[4].bytes, Bytes{0x47});
    EXPECT_EQ(raw[1].timeUs - raw[0].timeUs, 100000);
    EXPECT_EQ(raw[2].timeUs - raw[1].timeUs, 100000);
    EXPECT_EQ(raw[3].timeUs - raw[2].timeUs, 401000);
    EXPECT_EQ(raw[4].timeUs - raw[3].timeUs, 100000);
}

TEST_F(FirmwareDownloadTest, KeyedWritesQuietTheOthersAndOpenTheTargetsLoader) {
    registerDevices({makeDevice(1, 1, 12), makeDevice(3, 5, 64), makeDevice(34, 9, 13)});
    setImage(64, 2, {0x01});
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);

    EXPECT_EQ(bus_.devices[0].regs[45], 10);
    EXPECT_EQ(bus_.devices[2].regs[45], 10);
    EXPECT_EQ(bus_.devices[1].regs[250], 255);
    EXPECT_EQ(bus_.devices[1].regs[45], 254);
    const auto keyed = packets(5, 13);
    ASSERT_EQ(keyed.size(), 2u);
    EXPECT_EQ(keyed[0].bytes, hexBytes("FF FF 05 08 0D FA FF 4D 56 58 21 D0"));
    EXPECT_EQ(keyed[1].bytes[5], 45);
    EXPECT_EQ(keyed[1].bytes[6], 254);
    // 250 ms after the read-back the link goes to the loader rate.
    const auto raw = rawWrites();
    ASSERT_FALSE(raw.empty());
    EXPECT_GE(raw[0].timeUs - keyed[1].timeUs, 350000);  // 250 ms + the 100 ms baud change
}

TEST_F(FirmwareDownloadTest, EmptyImageIsSentAsTheChecksumByteAlone) {
    registerDevices({makeDevice(1, 2, 12)});
    setImage(12, 4, {});
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);
    ASSERT_EQ(bus_.devices[0].images.size(), 1u);
    EXPECT_EQ(bus_.devices[0].images[0], Bytes{0x00});
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
}

TEST_F(FirmwareDownloadTest, ImageGoesOutInBlocksOfAtMost200Bytes) {
    registerDevices({makeDevice(1, 2, 12)});
    Bytes image(450);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    setImage(12, 4, image);
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);

    std::vector<std::size_t> sizes;
    for (const WireWrite& w : rawWrites()) {
        if (w.bytes.size() > 1) {
            sizes.push_back(w.bytes.size());
        }
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{200, 200, 51}));
    Bytes expected = image;
    expected.push_back(static_cast<std::uint8_t>((449 * 450 / 2) & 0xFF));
    EXPECT_EQ(bus_.devices[0].images.at(0), expected);
}

TEST_F(FirmwareDownloadTest, SuccessOnTheSecondAttempt) {
    auto device = makeDevice(1, 2, 12);
    device.successOnAttempt = 2;
    registerDevices({device});
    setImage(12, 4, {0x10, 0x20});
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    EXPECT_EQ(rawCount(0x0D), 2);
    EXPECT_EQ(rawCount(0x4C), 2);
    EXPECT_EQ(bus_.devices[0].images.size(), 2u);
    EXPECT_EQ(rawCount(0x41), 1);
    EXPECT_EQ(rawCount(0x47), 1);
}

TEST_F(FirmwareDownloadTest, ThreeFailedAttemptsFailTheEntryButCloseTheLoader) {
    auto device = makeDevice(1, 2, 12, 3);
    device.successOnAttempt = 0;
    registerDevices({device});
    setImage(12, 4, {0x10});
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 0);
    EXPECT_EQ(bus_.devices[0].images.size(), 3u);
    EXPECT_EQ(rawCount(0x0D), 3);
    EXPECT_EQ(rawCount(0x41), 1);
    EXPECT_EQ(rawCount(0x47), 1);
    EXPECT_TRUE(packets(2, 7).empty());
    EXPECT_EQ(registry_.find(1, 2)->firmwareVersion(), 3);
    EXPECT_EQ(DownloadProgress(registry_), 100);
}

TEST_F(FirmwareDownloadTest, FailedBlockWriteEndsTheAttemptWithoutReadingTheReply) {
    registerDevices({makeDevice(1, 2, 12)});
    setImage(12, 4, Bytes(450, 0x11));
    updateAll();
    int blocks = 0;
    bus_.fail = [&](const std::string& call) {
        // The second block of the first attempt fails.
        return call == "write" && bus_.devices[0].stage == 2 && bus_.devices[0].attempts == 1 &&
               ++blocks == 2;
    };
    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    EXPECT_EQ(rawCount(0x0D), 2);
    // The first attempt's 200 bytes, then the whole image.
    ASSERT_EQ(bus_.devices[0].images.size(), 2u);
    EXPECT_EQ(bus_.devices[0].images[0].size(), 200u);
    EXPECT_EQ(bus_.devices[0].images[1].size(), 451u);
}

TEST_F(FirmwareDownloadTest, RefusedLoaderKeyedWriteSendsNoLoaderBytes) {
    auto device = makeDevice(1, 2, 12, 3);
    device.refuseLoader = true;
    registerDevices({device});
    setImage(12, 4, {0x10});
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 0);
    EXPECT_TRUE(rawWrites().empty());
    EXPECT_TRUE(packets(2, 7).empty());
    EXPECT_EQ(registry_.find(1, 2)->firmwareVersion(), 3);
    EXPECT_EQ(DownloadProgress(registry_), 100);
}

TEST_F(FirmwareDownloadTest, SilentDeviceGivesUpTheRunAfter101Passes) {
    registerDevices({makeDevice(1, 2, 12), makeDevice(1, 3, 12), makeDevice(34, 8, 13)});
    setImage(12, 4, {0x10});
    updateAll();
    ASSERT_EQ(registry_.updates.count, 2);
    bus_.devices[2].silent = true;  // a device of another model stops answering
    const std::int64_t start = clock_.nowUs();

    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(packets(8, 1).size(), 101u);
    EXPECT_EQ(packets(2, 1).size(), 101u);
    EXPECT_TRUE(rawWrites().empty());
    EXPECT_TRUE(packets(2, 13).empty());
    EXPECT_EQ(registry_.updates.resultFlags[0], 0);
    EXPECT_EQ(registry_.updates.resultFlags[1], 0);
    EXPECT_EQ(DownloadProgress(registry_), 100);
    // 100 pauses of 100 ms between 101 passes; each pass pings three devices (one silent
    // ping times out after about 20 ms) and changes the rate twice (100 ms each).
    const std::int64_t elapsedMs = (clock_.nowUs() - start) / 1000;
    EXPECT_GE(elapsedMs, 100 * 100 + 101 * (200 + 20));
    EXPECT_LT(elapsedMs, 100 * 100 + 101 * (200 + 30));
}

TEST_F(FirmwareDownloadTest, ProgressTakes33And66And100ForThreeDevices) {
    registerDevices({makeDevice(1, 1, 12), makeDevice(1, 2, 12), makeDevice(1, 3, 12)});
    setImage(12, 4, {0x10});
    updateAll();
    std::vector<int> seen;
    bus_.fail = [&](const std::string& call) {
        const int progress = DownloadProgress(registry_);
        if (call == "write" && (seen.empty() || seen.back() != progress)) {
            seen.push_back(progress);
        }
        return false;
    };
    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(seen, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(DownloadProgress(registry_), 100);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(registry_.updates.resultFlags[k], 1);
    }
}

TEST(DownloadPercentTest, RoundsToSinglePrecisionThenTruncates) {
    EXPECT_EQ(DownloadPercent(1, 3), 33);
    EXPECT_EQ(DownloadPercent(2, 3), 66);
    EXPECT_EQ(DownloadPercent(3, 3), 100);
    EXPECT_EQ(DownloadPercent(29, 100), 29);  // 28.999999999999996 in double precision
    EXPECT_EQ(DownloadPercent(57, 100), 57);
    EXPECT_EQ(DownloadPercent(1, 1), 100);
}

TEST_F(FirmwareDownloadTest, EmptyListSendsNothing) {
    registerDevices({makeDevice(1, 1, 12)});
    setImage(64, 4, {0x10});
    updateAll();
    ASSERT_EQ(registry_.updates.count, 0);
    registry_.updates.progress = 42;
    EXPECT_EQ(DownloadAll(registry_), 100);
    EXPECT_TRUE(bus_.log.empty());
    EXPECT_EQ(DownloadProgress(registry_), 100);
}

TEST_F(FirmwareDownloadTest, BuildUpdateListOldOnlyLeavesOutTheSameVersion) {
    registerDevices({makeDevice(1, 1, 12, 3), makeDevice(1, 2, 12, 4), makeDevice(1, 3, 64, 1),
                     makeDevice(34, 4, 12, 5), makeDevice(3, 5, 12, 1)});
    setImage(12, 4, {});
    BuildUpdateList(registry_, 1);
    ASSERT_EQ(registry_.updates.count, 2);
    EXPECT_EQ(registry_.updates.baudCodes[0], 1);
    EXPECT_EQ(registry_.updates.ids[0], 1);
    EXPECT_EQ(registry_.updates.baudCodes[1], 3);
    EXPECT_EQ(registry_.updates.ids[1], 5);

    BuildUpdateList(registry_, 0);
    ASSERT_EQ(registry_.updates.count, 4);
    EXPECT_EQ(registry_.updates.ids[0], 1);
    EXPECT_EQ(registry_.updates.ids[1], 2);
    EXPECT_EQ(registry_.updates.ids[2], 4);
    EXPECT_EQ(registry_.updates.ids[3], 5);
}

TEST_F(FirmwareDownloadTest, BuildUpdateListStopsAt256Devices) {
    std::vector<FakeDevice> devices;
    for (int i = 0; i < 300; ++i) {
        devices.push_back(makeDevice(i < 200 ? 1 : 3, i % 200, 13, 1));
    }
    registerDevices(devices);
    setImage(13, 2, {});
    BuildUpdateList(registry_, 1);
    ASSERT_EQ(registry_.updates.count, 256);
    EXPECT_EQ(registry_.updates.baudCodes[199], 1);
    EXPECT_EQ(registry_.updates.ids[199], 199);
    EXPECT_EQ(registry_.updates.baudCodes[255], 3);
    EXPECT_EQ(registry_.updates.ids[255], 55);
}

TEST_F(FirmwareDownloadTest, RestartRateDependsOnTheModelAndTheRecordedCodeIsWrittenBack) {
    registerDevices({makeDevice(3, 5, 12), makeDevice(4, 6, 64)});
    setImage(12, 4, {0x10});
    updateAll();
    registry_.firmware.modelNumber = 64;
    BuildUpdateList(registry_, 0);
    ASSERT_EQ(DownloadAll(registry_), 100);
    registry_.firmware.modelNumber = 12;
    BuildUpdateList(registry_, 0);
    ASSERT_EQ(DownloadAll(registry_), 100);

    // Model 64: instruction 7 at its own rate, then register 4 = 4 written at 57142 bps.
    const auto restart64 = packets(6, 7);
    ASSERT_EQ(restart64.size(), 1u);
    EXPECT_EQ(restart64[0].rate, 400000u);
    const auto baud64 = packets(6, 3);
    ASSERT_EQ(baud64.size(), 1u);
    EXPECT_EQ(baud64[0].bytes, hexBytes("FF FF 06 04 03 04 04 EA"));
    EXPECT_EQ(baud64[0].rate, kLoaderRate);
    EXPECT_GE(baud64[0].timeUs - restart64[0].timeUs, 1000000);
    // Model 12: register 4 = 3 written at 1000000 bps.
    const auto restart12 = packets(5, 7);
    ASSERT_EQ(restart12.size(), 1u);
    EXPECT_EQ(restart12[0].rate, 500000u);
    const auto baud12 = packets(5, 3);
    ASSERT_EQ(baud12.size(), 1u);
    EXPECT_EQ(baud12[0].bytes, hexBytes("FF FF 05 04 03 04 03 EC"));
    EXPECT_EQ(baud12[0].rate, 1000000u);
    EXPECT_GE(baud12[0].timeUs - restart12[0].timeUs, 1000000);
    // Both are back on their own rates.
    EXPECT_EQ(bus_.devices[0].code, 3);
    EXPECT_EQ(bus_.devices[1].code, 4);
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
}

TEST_F(FirmwareDownloadTest, SecondRunSendsExactlyWhatTheFirstSent) {
    registerDevices({makeDevice(1, 2, 12)});
    setImage(12, 4, {0x01, 0x02, 0x03});
    updateAll();
    ASSERT_EQ(DownloadAll(registry_), 100);
    const std::vector<WireWrite> first = rawWrites();
    bus_.log.clear();
    bus_.devices[0].images.clear();
    ASSERT_EQ(DownloadAll(registry_), 100);
    const std::vector<WireWrite> second = rawWrites();
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].bytes, second[i].bytes);
    }
    EXPECT_EQ(bus_.devices[0].images.at(0), hexBytes("01 02 03 06"));
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    EXPECT_EQ(registry_.firmware.imageLength, 3u);
}

}  // namespace
}  // namespace mvx
