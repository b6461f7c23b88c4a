// The firmware loader dialogue, byte by byte as the download engine runs it.
#include "SimFixture.h"
#include "sim/FirmwareFileWriter.h"

namespace mvx::test {
namespace {

const Bytes kSuccess = {'S', 'u', 'c', 'c', 'e', 's', 's'};

class SimLoaderTest : public SimFixture {
protected:
    Bytes readBack(std::uint8_t id, std::uint8_t address) {
        clock.sleepMs(10);
        const Bytes reply = exchange(instructionBytes(id, 2, {address, 1}), 7);
        return reply.size() == 7 ? Bytes{reply[5]} : Bytes{};
    }

    // Keyed writes that take the target at (code, id) into its loader, then the rate switch.
    void enterLoader(std::uint8_t code, std::uint8_t id) {
        setCode(code);
        send(keyedBytes(id, 250, 255));
        EXPECT_EQ(readBack(id, 250), Bytes{255});
        send(keyedBytes(id, 45, 254));
        EXPECT_EQ(readBack(id, 45), Bytes{254});
        clock.sleepMs(250);
        setCode(34);
    }

    // One loader attempt; returns what the device answered.
    Bytes attempt(const Bytes& imageAndChecksum) {
        send({0x0D});
        clock.sleepMs(100);
        send({0x4C});
        clock.sleepMs(100);
        EXPECT_EQ(handle->purge(FT_PURGE_RX), FT_OK);
        for (std::size_t at = 0; at < imageAndChecksum.size(); at += 200) {
            const std::size_t n = std::min<std::size_t>(200, imageAndChecksum.size() - at);
            send(Bytes(imageAndChecksum.begin() + at, imageAndChecksum.begin() + at + n));
        }
        clock.sleepMs(300);
        return receive(128, 1);
    }

    void leave() {
        clock.sleepMs(100);
        send({0x41});
        clock.sleepMs(100);
        send({0x47});
        clock.sleepMs(100);
        EXPECT_EQ(handle->purge(FT_PURGE_RX), FT_OK);
    }

    static Bytes withChecksum(Bytes image) {
        unsigned sum = 0;
        for (auto b : image) {
            sum += b;
        }
        image.push_back(static_cast<std::uint8_t>(sum & 0xFF));
        return image;
    }
};

TEST_F(SimLoaderTest, FullDialogueInstallsTheNewVersionAndRestoresTheRate) {
    // The other devices at code 1 stand by (their read-back is still answered).
    send(keyedBytes(2, 45, 10));
    EXPECT_EQ(readBack(2, 45), Bytes{10});

    enterLoader(1, 1);
    EXPECT_EQ(dev(34, 1).mode(), SimDeviceMode::Loader);
    EXPECT_EQ(bus->find(1, 2)->mode(), SimDeviceMode::Quiet);
    setCode(1);
    EXPECT_TRUE(ping(2).empty()) << "a standing-by device must stay silent";
    EXPECT_TRUE(ping(1).empty()) << "the loader does not answer packets";
    EXPECT_EQ(ping(3), statusBytes(3, 0)) << "not told to stand by";
    setCode(34);

    const Bytes image = withChecksum(makeSimFirmwareImage(28, 31, 450));
    EXPECT_EQ(attempt(image), kSuccess);
    leave();
    EXPECT_EQ(bus->find(1, 1)->mode(), SimDeviceMode::Normal);
    EXPECT_EQ(bus->find(1, 2)->mode(), SimDeviceMode::Normal);
    EXPECT_EQ(bus->find(1, 2)->reg(45), 0);
    EXPECT_EQ(bus->find(1, 1)->reg(2), 30) << "the old firmware runs until the restart";

    // Instruction 7 at the device's own code: answered, then it restarts at code 34.
    setCode(1);
    EXPECT_EQ(exchange(instructionBytes(1, 7), 6), statusBytes(1, 0));
    EXPECT_TRUE(ping(1).empty());
    EXPECT_EQ(ping(2), statusBytes(2, 0));
    setCode(34);
    clock.sleepMs(1000);
    EXPECT_EQ(exchange(instructionBytes(1, 3, {4, 1}), 6), statusBytes(1, 0));
    EXPECT_TRUE(ping(1).empty());
    setCode(1);
    EXPECT_EQ(ping(1), statusBytes(1, 0));
    EXPECT_EQ(dev(1, 1).reg(2), 31);
    EXPECT_EQ(dev(1, 1).reg(4), 1);
}

TEST_F(SimLoaderTest, WrongChecksumGetsNoSuccessAndTheNextAttemptMayStillSucceed) {
    enterLoader(1, 4);
    Bytes image = withChecksum(makeSimFirmwareImage(64, 40, 300));
    image.back() ^= 0x01;
    EXPECT_TRUE(attempt(image).empty());
    image.back() ^= 0x01;
    EXPECT_EQ(attempt(image), kSuccess);
    leave();
    setCode(1);
    EXPECT_EQ(exchange(instructionBytes(4, 7), 6), statusBytes(4, 0));
    setCode(34);
    EXPECT_EQ(exchange(instructionBytes(4, 3, {4, 1}), 6), statusBytes(4, 0));
    EXPECT_EQ(dev(1, 4).reg(2), 40);
}

TEST_F(SimLoaderTest, RejectingLoaderStaysSilentOnRightImagesFirst) {
    dev(1, 4).setFaults({.rejectImages = 2});
    enterLoader(1, 4);
    const Bytes image = withChecksum(makeSimFirmwareImage(64, 40, 20));
    EXPECT_TRUE(attempt(image).empty());
    EXPECT_TRUE(attempt(image).empty());
    EXPECT_EQ(attempt(image), kSuccess);
}

TEST_F(SimLoaderTest, EmptyImageIsTheSingleChecksumByteZero) {
    enterLoader(1, 3);
    EXPECT_EQ(attempt({0x00}), kSuccess);
    leave();
    // An image without the signature keeps the version.
    setCode(1);
    exchange(instructionBytes(3, 7), 6);
    setCode(34);
    EXPECT_EQ(dev(34, 3).reg(2), 38);
}

TEST_F(SimLoaderTest, ModelTwelveRestartsAtCodeOneUntilRegisterFourIsWrittenBack) {
    // Move the LT-50+ to code 3 first.
    EXPECT_EQ(exchange(instructionBytes(2, 3, {4, 3}), 6), statusBytes(2, 0));
    enterLoader(3, 2);
    EXPECT_EQ(attempt(withChecksum(makeSimFirmwareImage(12, 25, 1000))), kSuccess);
    leave();
    setCode(3);
    EXPECT_EQ(exchange(instructionBytes(2, 7), 6), statusBytes(2, 0));
    EXPECT_TRUE(ping(2).empty());
    setCode(1);
    clock.sleepMs(1000);
    EXPECT_EQ(exchange(instructionBytes(2, 3, {4, 3}), 6), statusBytes(2, 0));
    setCode(3);
    EXPECT_EQ(ping(2), statusBytes(2, 0));
    EXPECT_EQ(dev(3, 2).reg(2), 25);
}

TEST_F(SimLoaderTest, LoaderNeedsArming) {
    send(keyedBytes(1, 45, 254));
    EXPECT_EQ(readBack(1, 45), Bytes{0});
    clock.sleepMs(250);
    EXPECT_EQ(dev(1, 1).mode(), SimDeviceMode::Normal);
    EXPECT_EQ(ping(1), statusBytes(1, 0));
}

TEST_F(SimLoaderTest, LeavingWithoutAnImageChangesNothing) {
    enterLoader(1, 1);
    leave();
    setCode(1);
    EXPECT_EQ(exchange(instructionBytes(1, 7), 6), statusBytes(1, 0));
    EXPECT_EQ(ping(1), statusBytes(1, 0));
    EXPECT_EQ(dev(1, 1).reg(2), 30);
}

TEST_F(SimLoaderTest, AbandonedLoaderGivesUpAfterThirtySeconds) {
    send(keyedBytes(2, 45, 10));
    readBack(2, 45);
    enterLoader(1, 1);
    send({0x0D});
    clock.sleepMs(29000);
    EXPECT_EQ(dev(34, 1).mode(), SimDeviceMode::Loader);
    clock.sleepMs(1100);  // 30 s after the 0x0D
    ASSERT_NE(bus->find(1, 1), nullptr);
    EXPECT_EQ(dev(1, 1).mode(), SimDeviceMode::Normal);
    setCode(1);
    EXPECT_EQ(ping(1), statusBytes(1, 0));
    EXPECT_EQ(ping(2), statusBytes(2, 0)) << "stand-by ends with the loader";
}

TEST_F(SimLoaderTest, SuccessIsRecordedAtTheLoaderRate) {
    enterLoader(1, 1);
    bus->clearTraffic();
    attempt(withChecksum(makeSimFirmwareImage(28, 31, 20)));
    const auto traffic = bus->traffic();
    ASSERT_FALSE(traffic.empty());
    EXPECT_EQ(traffic.back().direction, SimTraffic::BusToHost);
    EXPECT_EQ(traffic.back().bytes, kSuccess);
    EXPECT_EQ(traffic.back().rateBps, 57142u);
    EXPECT_EQ(traffic.back().deviceId, 1);
}

}  // namespace
}  // namespace mvx::test
