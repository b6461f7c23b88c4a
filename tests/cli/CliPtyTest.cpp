// --port PATH over a real pseudo-terminal served by the simulated bus: the serial backend
// end to end. Reads wait on the real pty, so the test keeps to a few transactions at a fast
// rate; the link's fixed pauses run on virtual time.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "cli/Cli.h"
#include "cli/HardwarePorts.h"
#include "sim/PtyBusServer.h"
#include "sim/SimulatedBus.h"

namespace mvx::test {
namespace {

// Serves --port paths through the program's own serial-path port, on a virtual link clock.
class PathEnvironment final : public cli::Environment {
public:
    std::unique_ptr<cli::Port> makePort(const cli::PortSpec& portSpec,
                                        std::string& error) override {
        EXPECT_EQ(portSpec.kind, cli::PortSpec::Kind::Path);
        return cli::makeSerialPathPort(portSpec.path, error, std::make_unique<VirtualClock>());
    }
    bool stderrIsTerminal() const override { return false; }
};

class CliPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.start("", &error)) << error;
        serving = std::thread([this] { server.run(); });
    }
    void TearDown() override {
        server.requestStop();
        if (serving.joinable()) {
            serving.join();
        }
    }
    int run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return cli::run(args, out, err, env);
    }

    SystemClock busClock;
    SimulatedBus bus{SimulatedBus::defaultBus(), busClock};
    SimulatedBusWire wire{bus};
    PtyBusServer server{wire};
    std::thread serving;
    PathEnvironment env;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(CliPtyTest, InfoAndSetThroughThePtyPath) {
    ASSERT_EQ(run({"--port", server.slavePath(), "--json", "info", "--id", "1", "--baud", "1"}), 0)
        << err.str();
    EXPECT_NE(out.str().find("\"name\": \"MQ-35\""), std::string::npos) << out.str();

    ASSERT_EQ(run({"--port", server.slavePath(), "set", "--id", "1", "--baud", "1", "goal-position",
                   "600"}),
              0)
        << err.str();
    EXPECT_EQ(bus.find(1, 1)->reg16(30), 600);
}

TEST(CliPathTest, MissingDeviceIsABadArgument) {
    PathEnvironment env;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::run({"--port", "/dev/no-such-tty", "scan"}, out, err, env), 2);
    EXPECT_EQ(err.str(), "movantrix-cli: --port: no such serial device: /dev/no-such-tty\n");
}

}  // namespace
}  // namespace mvx::test
