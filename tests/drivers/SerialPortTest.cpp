// The serial-port backend against a pseudo-terminal whose master side plays the wire.
#include "drivers/SerialPort.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "drivers/SerialTestPty.h"
#include "drivers/Termios2.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::Bytes;
using test::hexBytes;
using test::hexString;
namespace fs = std::filesystem;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        ASSERT_EQ(SerialPort::open(pty.slavePath(), &port), FT_OK);
        ASSERT_NE(port, nullptr);
    }

    FtStatus readBytes(std::uint32_t count, Bytes* out) {
        out->assign(count, 0);
        std::uint32_t got = 0;
        const FtStatus status = port->read(out->data(), count, &got);
        out->resize(got);
        return status;
    }

    test::TestPty pty;
    FtHandle port;
};

TEST(SerialPortOpen, MissingPathIsNotFoundAndNonTtyIsNotOpened) {
    FtHandle handle;
    EXPECT_EQ(SerialPort::open("/nonexistent/ttyUSB9", &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);

    const fs::path file = fs::temp_directory_path() / ("mvx-notatty-" + std::to_string(getpid()));
    std::ofstream(file) << "x";
    EXPECT_EQ(SerialPort::open(file.string(), &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(handle, nullptr);
    fs::remove(file);
}

// The adapter link's whole open sequence on a pty is run by PtyBusEndToEndTest.

TEST_F(SerialPortTest, ArbitraryRatesReachTheLineAndZeroIsRefused) {
    std::uint32_t rate = 0;
    for (std::uint32_t want : {57142u, 9615u, 2000000u, 7812u}) {
        ASSERT_EQ(port->setBaudRate(want), FT_OK);
        ASSERT_EQ(tty::getRate(pty.master(), &rate), 0);
        EXPECT_EQ(rate, want);
    }
    EXPECT_EQ(port->setBaudRate(0), FT_INVALID_BAUD_RATE);
    ASSERT_EQ(tty::getRate(pty.master(), &rate), 0);
    EXPECT_EQ(rate, 7812u);
}

TEST_F(SerialPortTest, LineSettingsAreCheckedAndRawModeKeepsEveryByte) {
    EXPECT_EQ(port->setDataCharacteristics(9, FT_STOP_BITS_1, FT_PARITY_NONE),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(port->setDataCharacteristics(FT_BITS_8, 1, FT_PARITY_NONE), FT_INVALID_PARAMETER);
    EXPECT_EQ(port->setFlowControl(0x0400, 0x11, 0x13), FT_INVALID_PARAMETER);
    EXPECT_EQ(port->setDataCharacteristics(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);

    // CR, LF, XON/XOFF, ^C and DEL pass untouched both ways, and nothing is echoed.
    const Bytes special = hexBytes("0D 0A 11 13 03 7F FF 00 04");
    ASSERT_TRUE(pty.send(special));
    ASSERT_EQ(port->setTimeouts(500, 0), FT_OK);
    Bytes got;
    EXPECT_EQ(readBytes(special.size(), &got), FT_OK);
    EXPECT_EQ(hexString(got), hexString(special));
    std::uint32_t written = 0;
    ASSERT_EQ(port->write(special.data(), special.size(), &written), FT_OK);
    EXPECT_EQ(written, special.size());
    EXPECT_EQ(hexString(pty.receive(special.size())), hexString(special));
    EXPECT_TRUE(pty.receive(1, 20).empty());  // no echo of what the master sent
}

TEST_F(SerialPortTest, QueueStatusCountsWaitingBytesAndPurgeDropsThem) {
    ASSERT_TRUE(pty.send(hexBytes("FF FF 01 02 00 FC")));
    std::uint32_t waiting = 0;
    for (int i = 0; i < 100 && waiting < 6; ++i) {
        ASSERT_EQ(port->getQueueStatus(&waiting), FT_OK);
        if (waiting < 6) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(waiting, 6u);
    ASSERT_EQ(port->purge(FT_PURGE_RX), FT_OK);
    ASSERT_EQ(port->getQueueStatus(&waiting), FT_OK);
    EXPECT_EQ(waiting, 0u);
    EXPECT_EQ(port->getQueueStatus(nullptr), FT_INVALID_PARAMETER);
}

TEST_F(SerialPortTest, ReadWithTimeoutZeroReturnsAtOnceWithWhatIsThere) {
    ASSERT_EQ(port->setTimeouts(0, 0), FT_OK);
    Bytes got;
    EXPECT_EQ(readBytes(4, &got), FT_OK);
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(pty.send(hexBytes("AA BB")));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(readBytes(4, &got), FT_OK);
    EXPECT_EQ(hexString(got), "AA BB");
}

TEST_F(SerialPortTest, ReadCollectsPiecesUntilCountAndStopsAtTheTimeout) {
    ASSERT_EQ(port->setTimeouts(2000, 0), FT_OK);
    std::thread wire([this] {
        pty.send(hexBytes("FF FF"));
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        pty.send(hexBytes("01 02 00 FC"));
    });
    Bytes got;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readBytes(6, &got), FT_OK);
    const auto took = std::chrono::steady_clock::now() - start;
    wire.join();
    EXPECT_EQ(hexString(got), "FF FF 01 02 00 FC");
    EXPECT_LT(took, std::chrono::milliseconds(1500));  // returned on the count, not the timeout

    // Short data: the timeout ends the read, the status stays FT_OK, the count tells.
    ASSERT_EQ(port->setTimeouts(40, 0), FT_OK);
    ASSERT_TRUE(pty.send(hexBytes("FF FF")));
    const auto start2 = std::chrono::steady_clock::now();
    EXPECT_EQ(readBytes(4, &got), FT_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - start2, std::chrono::milliseconds(39));
    EXPECT_EQ(hexString(got), "FF FF");
}

TEST_F(SerialPortTest, ReadDeadlineComesFromTheClock) {
    // A clock that is already far past every deadline ends a waiting read at once.
    class LateClock final : public Clock {
    public:
        std::int64_t nowUs() override { return calls_++ == 0 ? 0 : 10'000'000; }
        void sleepUs(std::int64_t) override {}

    private:
        int calls_ = 0;
    } clock;
    FtHandle other;
    port.reset();
    SerialPortOptions options;
    options.clock = &clock;
    ASSERT_EQ(SerialPort::open(pty.slavePath(), &other, options), FT_OK);
    ASSERT_EQ(other->setTimeouts(5000, 0), FT_OK);
    std::uint8_t buffer[4];
    std::uint32_t got = 9;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(other->read(buffer, 4, &got), FT_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(got, 0u);
}

TEST_F(SerialPortTest, WritesReturnWhenAllButTheWriteAheadIsOnTheWire) {
    // The kernel swallows a whole image at once; the write must still take its wire time,
    // or a wait timed from the end of the write (the loader's 300 ms) runs out too early.
    VirtualClock clock;
    FtHandle paced;
    port.reset();
    SerialPortOptions options;
    options.clock = &clock;
    ASSERT_EQ(SerialPort::open(pty.slavePath(), &paced, options), FT_OK);

    const Bytes ping = hexBytes("FF FF 01 02 01 FB");
    std::uint32_t written = 0;
    ASSERT_EQ(paced->write(ping.data(), ping.size(), &written), FT_OK);
    EXPECT_EQ(clock.nowUs(), 0) << "no rate set yet: nothing to pace by";

    ASSERT_EQ(paced->setBaudRate(57142), FT_OK);
    ASSERT_EQ(paced->write(ping.data(), ping.size(), &written), FT_OK);
    EXPECT_EQ(clock.nowUs(), 0) << "a packet fits in the write-ahead";

    const Bytes image(1000, 0x5A);
    ASSERT_EQ(paced->write(image.data(), image.size(), &written), FT_OK);
    ASSERT_EQ(written, image.size());
    // 1006 bytes at 10 bit times each, less the 128 bytes still allowed on their way.
    EXPECT_EQ(clock.nowUs(), 1006 * 10'000'000LL / 57142 - 128 * 10'000'000LL / 57142);
}

TEST_F(SerialPortTest, AStalledWriteComesBackShortAfterTheWriteTimeout) {
    ASSERT_EQ(port->setTimeouts(0, 30), FT_OK);
    const Bytes big(256 * 1024, 0x55);  // more than any tty buffers; nobody reads the master
    std::uint32_t written = 0;
    EXPECT_EQ(port->write(big.data(), big.size(), &written), FT_OK);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
}

TEST_F(SerialPortTest, AVanishedDeviceIsAnIoErrorForReadsAndWrites) {
    ASSERT_TRUE(pty.send(hexBytes("01")));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pty.closeMaster();
    ASSERT_EQ(port->setTimeouts(200, 0), FT_OK);
    Bytes got;
    EXPECT_EQ(readBytes(4, &got), FT_IO_ERROR);
    const Bytes ping = hexBytes("FF FF 01 02 01 FB");
    std::uint32_t written = 0;
    EXPECT_EQ(port->write(ping.data(), ping.size(), &written), FT_IO_ERROR);
}

TEST_F(SerialPortTest, ClosedHandleRefusesEveryCall) {
    EXPECT_EQ(port->close(), FT_OK);
    EXPECT_EQ(port->close(), FT_INVALID_HANDLE);
    std::uint32_t n = 0;
    std::uint8_t b = 0;
    EXPECT_EQ(port->setBaudRate(9600), FT_INVALID_HANDLE);
    EXPECT_EQ(port->read(&b, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(port->write(&b, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(port->setBitMode(0x88, FT_BITMODE_CBUS_BITBANG), FT_INVALID_HANDLE);
}

TEST_F(SerialPortTest, LatencyTimerGoesToTheSysfsAttributeWhenThereIsOne) {
    const fs::path sys = fs::temp_directory_path() / ("mvx-sys-" + std::to_string(getpid()));
    const std::string name = fs::path(pty.slavePath()).filename().string();
    fs::create_directories(sys / "class/tty" / name / "device");
    const fs::path attribute = sys / "class/tty" / name / "device/latency_timer";
    std::ofstream(attribute) << "16\n";

    port.reset();
    SerialPortOptions options;
    options.sysRoot = sys.string();
    ASSERT_EQ(SerialPort::open(pty.slavePath(), &port, options), FT_OK);
    EXPECT_EQ(port->setLatencyTimer(1), FT_OK);
    std::string value;
    std::ifstream(attribute) >> value;
    EXPECT_EQ(value, "1");
    fs::remove_all(sys);
}

TEST(SerialPortDriverTest, ListsAnExistingPathOnceUnderItsNameAndOpensIt) {
    test::TestPty pty;
    ASSERT_TRUE(pty.ok());
    SerialPortDriver driver(pty.slavePath());
    std::uint32_t count = 9;
    ASSERT_EQ(driver.listNumber(&count), FT_OK);
    EXPECT_EQ(count, 1u);
    char text[128];
    ASSERT_EQ(driver.listDescription(0, text, sizeof text), FT_OK);
    EXPECT_EQ(std::string(text), fs::path(pty.slavePath()).filename().string());
    EXPECT_NE(driver.listDescription(1, text, sizeof text), FT_OK);
    FtHandle handle;
    EXPECT_EQ(driver.open(0, &handle), FT_OK);
    EXPECT_NE(handle, nullptr);

    SerialPortDriver named(pty.slavePath(), "Bench adapter");
    ASSERT_EQ(named.listDescription(0, text, sizeof text), FT_OK);
    EXPECT_STREQ(text, "Bench adapter");

    SerialPortDriver missing("/dev/does-not-exist-mvx");
    ASSERT_EQ(missing.listNumber(&count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(missing.open(0, &handle), FT_DEVICE_NOT_FOUND);
}

}  // namespace
}  // namespace mvx
