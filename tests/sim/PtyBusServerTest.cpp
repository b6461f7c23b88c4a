// The pty server with a scripted wire behind it, and the serial backend as the host.
#include "sim/PtyBusServer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "drivers/SerialPort.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::Bytes;
using test::hexBytes;
using test::hexString;
namespace fs = std::filesystem;

// A wire with one "device" listening at one rate: every byte it hears comes back complemented,
// `delayUs` later. It records the rates it was told about.
class ScriptedWire final : public WireHost {
public:
    ScriptedWire(std::uint32_t deviceRate, std::int64_t delayUs)
        : deviceRate_(deviceRate), delayUs_(delayUs) {}

    Clock& clock() override { return clock_; }
    void setHostRate(std::uint32_t rateBps) override {
        std::lock_guard lock(mutex_);
        rates_.push_back(rateBps);
    }
    void hostWrite(const std::uint8_t* bytes, std::size_t count, std::uint32_t rateBps) override {
        std::lock_guard lock(mutex_);
        writeRates_.push_back(rateBps);
        if (rateBps != deviceRate_) {
            return;
        }
        const std::int64_t at = clock_.nowUs() + delayUs_;
        for (std::size_t i = 0; i < count; ++i) {
            pending_.push_back({at, static_cast<std::uint8_t>(~bytes[i])});
        }
    }
    std::size_t hostRead(std::uint8_t* out, std::size_t max) override {
        std::lock_guard lock(mutex_);
        const std::int64_t now = clock_.nowUs();
        std::size_t n = 0;
        while (n < max && !pending_.empty() && pending_.front().first <= now) {
            out[n++] = pending_.front().second;
            pending_.pop_front();
        }
        return n;
    }
    std::int64_t nextEventUs() override {
        std::lock_guard lock(mutex_);
        return pending_.empty() ? -1 : pending_.front().first;
    }
    std::vector<std::uint32_t> writeRates() {
        std::lock_guard lock(mutex_);
        return writeRates_;
    }

private:
    SystemClock clock_;
    const std::uint32_t deviceRate_;
    const std::int64_t delayUs_;
    std::mutex mutex_;
    std::deque<std::pair<std::int64_t, std::uint8_t>> pending_;
    std::vector<std::uint32_t> rates_;
    std::vector<std::uint32_t> writeRates_;
};

class PtyBusServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.start("", &error)) << error;
        ASSERT_FALSE(server.slavePath().empty());
        serving = std::thread([this] { served = server.run(); });
    }
    void TearDown() override {
        server.requestStop();
        serving.join();
        EXPECT_TRUE(served);
    }

    FtHandle openPort(std::uint32_t rate) {
        FtHandle port;
        EXPECT_EQ(SerialPort::open(server.slavePath(), &port), FT_OK);
        if (port) {
            EXPECT_EQ(port->setBaudRate(rate), FT_OK);
        }
        return port;
    }

    static Bytes exchange(FtDevice& port, const Bytes& out, std::uint32_t expect,
                          std::uint32_t timeoutMs) {
        std::uint32_t n = 0;
        EXPECT_EQ(port.write(out.data(), static_cast<std::uint32_t>(out.size()), &n), FT_OK);
        EXPECT_EQ(n, out.size());
        EXPECT_EQ(port.setTimeouts(timeoutMs, 0), FT_OK);
        Bytes in(expect);
        EXPECT_EQ(port.read(in.data(), expect, &n), FT_OK);
        in.resize(n);
        return in;
    }

    ScriptedWire wire{57600, 8000};
    PtyBusServer server{wire};
    std::thread serving;
    bool served = false;
};

TEST_F(PtyBusServerTest, RepliesArriveWhenTheWireDeliversThemNotBefore) {
    FtHandle port = openPort(57600);
    ASSERT_NE(port, nullptr);
    const auto start = std::chrono::steady_clock::now();
    const Bytes got = exchange(*port, hexBytes("00 0F F0"), 3, 1000);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(hexString(got), "FF F0 0F");
    EXPECT_GE(took, std::chrono::milliseconds(8));  // held back for the wire delay
    EXPECT_EQ(server.lastRate(), 57600u);
}

TEST_F(PtyBusServerTest, TheHostsRateIsFollowedAndAWrongRateGetsNoAnswer) {
    FtHandle port = openPort(115200);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(exchange(*port, hexBytes("01"), 1, 40).empty());
    ASSERT_EQ(port->setBaudRate(57600), FT_OK);
    EXPECT_EQ(hexString(exchange(*port, hexBytes("01"), 1, 500)), "FE");
    ASSERT_EQ(port->setBaudRate(9615), FT_OK);
    EXPECT_TRUE(exchange(*port, hexBytes("02"), 1, 40).empty());
    EXPECT_EQ(wire.writeRates(), (std::vector<std::uint32_t>{115200, 57600, 9615}));
}

TEST_F(PtyBusServerTest, TheHostMayCloseAndReopenThePort) {
    {
        FtHandle port = openPort(57600);
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(hexString(exchange(*port, hexBytes("10"), 1, 500)), "EF");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the server sees no host
    FtHandle again = openPort(57600);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(hexString(exchange(*again, hexBytes("20"), 1, 500)), "DF");
}

TEST(PtyBusServerLink, TheLinkPointsAtTheSlaveAndGoesAwayWithTheServer) {
    ScriptedWire wire(9600, 0);
    const fs::path dir = fs::temp_directory_path() / ("mvx-link-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path link = dir / "ttyMVX0";
    fs::create_symlink("/dev/null", link);  // a stale link from an earlier run is replaced
    {
        PtyBusServer server(wire);
        std::string error;
        ASSERT_TRUE(server.start(link.string(), &error)) << error;
        EXPECT_EQ(fs::read_symlink(link).string(), server.slavePath());
        FtHandle port;
        EXPECT_EQ(SerialPort::open(link.string(), &port), FT_OK);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    std::ofstream(dir / "plain") << "keep me";
    PtyBusServer server(wire);
    std::string error;
    EXPECT_FALSE(server.start((dir / "plain").string(), &error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(dir / "plain"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace mvx
