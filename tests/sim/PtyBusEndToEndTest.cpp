// The whole road over a real pseudo-terminal: adapter link and packets on the serial backend,
// the pty server, the simulated bus. Runs in real time, so it keeps to few transactions at fast
// rates.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "drivers/SerialPort.h"
#include "link/AdapterLink.h"
#include "protocol/Transaction.h"
#include "sim/PtyBusServer.h"
#include "sim/SimulatedBus.h"
#include "support/Bytes.h"

extern char** environ;

namespace mvx {
namespace {

using test::Bytes;
using test::hexBytes;
using test::hexString;
namespace fs = std::filesystem;

BusDescription smallBus() {
    BusDescription bus;
    SimDeviceSpec a;  // code 1: 1000000 bps
    a.id = 1;
    a.code = 1;
    a.model = 28;
    SimDeviceSpec b;  // code 16: 117647 bps, answers pings and reads only
    b.id = 7;
    b.code = 16;
    b.model = 10;
    b.returnLevel = 1;
    bus.devices = {a, b};
    return bus;
}

class PtyBusEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.start("", &error)) << error;
        serving = std::thread([this] { served = server.run(); });
        driver = std::make_unique<SerialPortDriver>(server.slavePath());
        // The link's settling waits run on virtual time; reads wait on the real pty.
        link = AdapterLink::open(*driver, linkClock, 0, 1);
        ASSERT_NE(link, nullptr);
    }
    void TearDown() override {
        if (HasFailure()) {
            std::ostringstream record;  // what went over the wire, to tell what went wrong
            writeTrafficRecord(record, bus.traffic(), 0);
            std::cerr << record.str();
        }
        link.reset();
        server.requestStop();
        serving.join();
        EXPECT_TRUE(served);
    }

    SystemClock clock;
    SimulatedBus bus{smallBus(), clock};
    SimulatedBusWire wire{bus};
    PtyBusServer server{wire};
    std::thread serving;
    bool served = false;
    VirtualClock linkClock;
    std::unique_ptr<SerialPortDriver> driver;
    std::unique_ptr<AdapterLink> link;
};

TEST_F(PtyBusEndToEnd, PingReadAndWriteAtOneMegabit) {
    EXPECT_EQ(ping(*link, 1), 100);
    EXPECT_EQ(ping(*link, 2), 103);  // nobody there

    std::uint8_t block[3] = {};
    ASSERT_EQ(readBlock(*link, 1, 0, 3, block), 100);  // model number and firmware version
    EXPECT_EQ(block[0] | (block[1] << 8), 28);

    EXPECT_EQ(writeByte(*link, 1, 25, 1), 100);  // LED on
    std::uint8_t led = 0;
    ASSERT_EQ(readByte(*link, 1, 25, led), 100);
    EXPECT_EQ(led, 1);
    EXPECT_EQ(server.lastRate(), 1000000u);
}

TEST_F(PtyBusEndToEnd, ADeviceAtAnotherRateAnswersOnlyOnceTheHostSwitches) {
    EXPECT_EQ(ping(*link, 7), 103);
    ASSERT_EQ(link->setBaudCode(16), 100);
    EXPECT_EQ(ping(*link, 7), 100);
    std::uint8_t id = 0;
    ASSERT_EQ(readByte(*link, 7, 3, id), 100);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(ping(*link, 1), 103);  // the 1 Mbit device does not hear 117647 bps
    ASSERT_EQ(link->setBaudCode(1), 100);
    EXPECT_EQ(ping(*link, 1), 100);

    // The record shows the replies the host did hear, at the rates it used.
    int heard = 0;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::BusToHost && t.heardByHost) {
            ++heard;
            EXPECT_EQ(t.rateBps, t.deviceId == 7 ? 117647u : 1000000u);
        }
    }
    EXPECT_EQ(heard, 3);
}

// --- the program --------------------------------------------------------------------------

// Runs movantrix-bus-sim with `options` and a link and a traffic record in a fresh directory,
// sends `packet` at 1 Mbit/s through the link, reads `replyLength` bytes, ends it with SIGTERM
// and returns the traffic record (empty on failure, with the test failed).
std::string runBusSim(const std::vector<std::string>& options, const Bytes& packet,
                      std::size_t replyLength, Bytes& reply) {
    const fs::path dir = fs::temp_directory_path() / ("mvx-bussim-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string link = (dir / "ttyMVX").string();
    const std::string traffic = (dir / "traffic.txt").string();

    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = MVX_BUS_SIM;
    std::vector<std::string> args = {program, "--link", link, "--traffic", traffic};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    FILE* stream = fdopen(out[0], "r");
    char line[256] = {};
    EXPECT_NE(fgets(line, sizeof line, stream), nullptr);
    std::string slave(line);
    while (!slave.empty() && slave.back() == '\n') {
        slave.pop_back();
    }
    EXPECT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    EXPECT_EQ(fs::read_symlink(link).string(), slave);

    {
        FtHandle port;
        EXPECT_EQ(SerialPort::open(link, &port), FT_OK);
        if (port) {
            EXPECT_EQ(port->setBaudRate(1000000), FT_OK);
            EXPECT_EQ(port->setTimeouts(500, 0), FT_OK);
            std::uint32_t n = 0;
            EXPECT_EQ(port->write(packet.data(), static_cast<std::uint32_t>(packet.size()), &n),
                      FT_OK);
            reply.assign(replyLength, 0);
            EXPECT_EQ(port->read(reply.data(), static_cast<std::uint32_t>(replyLength), &n), FT_OK);
            reply.resize(n);
        }
    }

    EXPECT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    fclose(stream);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    std::ifstream in(traffic);
    std::stringstream text;
    text << in.rdbuf();
    fs::remove_all(dir);
    return text.str();
}

// The record's time of its line that contains `what`, -1 without one.
long long recordTimeUs(const std::string& record, const std::string& what) {
    const std::size_t at = record.find(what);
    if (at == std::string::npos) {
        return -1;
    }
    const std::size_t lineStart = record.rfind('\n', at);
    return std::stoll(record.substr(lineStart == std::string::npos ? 0 : lineStart + 1));
}

TEST(BusSimProgram, ServesTheDefaultBusAndWritesTheTrafficRecord) {
    Bytes reply;
    const std::string record = runBusSim({}, hexBytes("FF FF 01 02 01 FB"), 6, reply);
    EXPECT_EQ(hexString(reply), "FF FF 01 02 00 FC");
    EXPECT_NE(record.find("host    1000000 bps  FF FF 01 02 01 FB"), std::string::npos) << record;
    EXPECT_NE(record.find("id 1    1000000 bps  FF FF 01 02 00 FC"), std::string::npos) << record;
}

// --broadcast-spacing-us: the devices answer a broadcast ping that much later per unit of their
// ID: ID 9 of the default bus 9 x 300 us after its return delay of 500 us, the ping's 60 us on
// the wire before.
TEST(BusSimProgram, SpacesTheBroadcastAnswersOutByIdOnRequest) {
    Bytes reply;
    const std::string record =
        runBusSim({"--broadcast-spacing-us", "300"}, hexBytes("FF FF FE 02 01 FE"), 30, reply);
    EXPECT_EQ(reply.size(), 30u);  // IDs 1, 2, 3, 4 and 9
    const long long broadcast = recordTimeUs(record, "host    1000000 bps  FF FF FE 02 01 FE");
    const long long nine = recordTimeUs(record, "id 9    1000000 bps  FF FF 09 02 00 F4");
    ASSERT_GE(broadcast, 0) << record;
    ASSERT_GE(nine, 0) << record;
    EXPECT_EQ(nine - broadcast, 60 + 500 + 9 * 300) << record;
}

// Options refused before anything is served: status 2, the reason on standard error and no
// slave path on standard output (nobody is told to wait for a bus).
TEST(BusSimProgram, RefusesABadTrafficTargetOrNumberBeforeServing) {
    const fs::path dir = fs::temp_directory_path() / ("mvx-bussim-no-" + std::to_string(getpid()));
    fs::create_directories(dir / "adir");
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string options;
        std::string message;
    } cases[] = {
        {"--traffic " + (dir / "adir").string(),
         "movantrix-bus-sim: --traffic: " + (dir / "adir").string() + ": not a regular file"},
        {"--traffic " + fifo, "movantrix-bus-sim: --traffic: " + fifo + ": not a regular file"},
        {"--latency-ms 0x10", "--latency-ms: \"0x10\" is not a number"},
        {"--broadcast-spacing-us 1e2", "--broadcast-spacing-us: \"1e2\" is not a number"},
        {"--latency-ms 256", "--latency-ms: 256 is out of range (0-255)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string out = (dir / "out.txt").string();
        const std::string err = (dir / "err.txt").string();
        const int status = std::system(
            (std::string(MVX_BUS_SIM) + " " + c.options + " >" + out + " 2>" + err + " </dev/null")
                .c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2);
        std::stringstream said;
        said << std::ifstream(err).rdbuf();
        EXPECT_NE(said.str().find(c.message), std::string::npos) << said.str();
        EXPECT_EQ(fs::file_size(out), 0u);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace mvx
