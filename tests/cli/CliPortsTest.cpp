// ports, and the --port texts with the sim ports the program itself builds.
#include <nlohmann/json.hpp>
#include <sstream>

#include "CliFixture.h"
#include "cli/PortSpec.h"
#include "cli/SimPort.h"
#include "support/ScriptedDriver.h"

namespace mvx::test {
namespace {

using cli::PortSpec;

TEST(CliPortSpecTest, IndexPathAndSim) {
    PortSpec portSpec;
    std::string error;
    ASSERT_TRUE(cli::parsePortSpec("2", portSpec, error));
    EXPECT_EQ(portSpec.kind, PortSpec::Kind::AdapterIndex);
    EXPECT_EQ(portSpec.index, 2u);

    ASSERT_TRUE(cli::parsePortSpec("/dev/pts/3", portSpec, error));
    EXPECT_EQ(portSpec.kind, PortSpec::Kind::Path);
    EXPECT_EQ(portSpec.path, "/dev/pts/3");
    ASSERT_TRUE(cli::parsePortSpec("ttyUSB0", portSpec, error));
    EXPECT_EQ(portSpec.path, "/dev/ttyUSB0");

    portSpec.virtualTime = true;
    ASSERT_TRUE(cli::parsePortSpec("sim", portSpec, error));
    EXPECT_EQ(portSpec.kind, PortSpec::Kind::Sim);
    EXPECT_TRUE(portSpec.path.empty());
    EXPECT_TRUE(portSpec.virtualTime);
    ASSERT_TRUE(cli::parsePortSpec("sim:bus.json", portSpec, error));
    EXPECT_EQ(portSpec.path, "bus.json");

    EXPECT_FALSE(cli::parsePortSpec("123456", portSpec, error));
    // "sim:" without a file is refused with its message in CliArgumentsTest.
}

TEST(CliSimPortTest, DescriptionFileAndVirtualTime) {
    PortSpec portSpec;
    portSpec.kind = PortSpec::Kind::Sim;
    portSpec.virtualTime = true;
    portSpec.path = std::string(MVX_SOURCE_DIR) + "/samples/sim-bus.json";
    std::string error;
    auto port = cli::makeSimPort(portSpec, error);
    ASSERT_NE(port, nullptr) << error;
    EXPECT_NE(dynamic_cast<VirtualClock*>(&port->clock()), nullptr);
    EXPECT_EQ(port->bus().deviceCount(), 8u);

    portSpec.virtualTime = false;
    portSpec.path.clear();
    port = cli::makeSimPort(portSpec, error);
    ASSERT_NE(port, nullptr);
    EXPECT_NE(dynamic_cast<SystemClock*>(&port->clock()), nullptr) << "real time by default";
    // A missing description file is checked through the whole command below.
}

TEST(CliSystemEnvironmentTest, ScanOfADescribedBusOnVirtualTime) {
    cli::SystemEnvironment env;
    std::ostringstream out;
    std::ostringstream err;
    const std::string file = std::string(MVX_SOURCE_DIR) + "/samples/sim-bus.json";
    ASSERT_EQ(
        cli::run({"--port", "sim:" + file, "--sim-virtual-time", "--json", "scan"}, out, err, env),
        0)
        << err.str();
    EXPECT_EQ(nlohmann::json::parse(out.str())["devices"].size(), 8u);

    out.str("");
    err.str("");
    EXPECT_EQ(cli::run({"--port", "sim:/nonexistent/bus.json", "scan"}, out, err, env), 2);
    EXPECT_NE(err.str().find("cannot open bus description \"/nonexistent/bus.json\""),
              std::string::npos)
        << err.str();
}

using CliPortsTest = CliTest;

TEST_F(CliPortsTest, ListsTheSimulatedAdapter) {
    ASSERT_EQ(run({"--port", "sim", "ports"}), 0);
    EXPECT_EQ(out(), "0: Movantrix Simulated Bus\n");
    EXPECT_EQ(err(), "");
}

TEST_F(CliPortsTest, NoAdapterIsAnEmptyListWithAMessage) {
    bus.setAdapterPlugged(false);
    ASSERT_EQ(run({"ports"}), 0);
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(), "movantrix-cli: Can not find USB2Movantrix! Please check connection.\n");
}

TEST_F(CliPortsTest, SettingsTheAdapterDidNotTakeAreWarnedOnceBeforeTheCommandRuns) {
    driver.setLimitations({"ttyUSB0: CBUS3 is not driven: no permission to use /dev/gpiochip2",
                           "ttyUSB0: the latency timer stays at 16 ms, not 1 ms"});
    ASSERT_EQ(run({"--port", "sim", "ping", "--id", "1", "--baud", "1"}), 0) << err();
    EXPECT_EQ(err(),
              "movantrix-cli: warning: ttyUSB0: CBUS3 is not driven: no permission to use "
              "/dev/gpiochip2\n"
              "movantrix-cli: warning: ttyUSB0: the latency timer stays at 16 ms, not 1 ms\n"
              "movantrix-cli: warning: the adapter works, but for all its settings give your "
              "user access to it over USB (the udev rules installed with movantrix-cli); see "
              "ADAPTER ACCESS in movantrix-cli(1)\n");
    EXPECT_NE(out(), "");
}

class CliScriptedPortsTest : public ::testing::Test {
protected:
    int run(const std::vector<std::string>& args) {
        out.str("");
        err.str("");
        return cli::run(args, out, err, env);
    }
    VirtualClock clock;
    ScriptedDriver driver{clock};
    TestEnvironment env{driver, clock};
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(CliScriptedPortsTest, UnreadableDescriptionsShowAsUnknownDeviceName) {
    driver.setAdapters({"USB2Movantrix A", "USB2Movantrix B", "USB2Movantrix C"});
    driver.failNext("listDescription", FT_OTHER_ERROR, 2);
    ASSERT_EQ(run({"ports"}), 0);
    EXPECT_EQ(out.str(),
              "0: USB2Movantrix A\n"
              "1: Unknown device name\n"
              "2: USB2Movantrix C\n");
    EXPECT_EQ(driver.openDevices(), 0) << "listing opens nothing";
}

TEST_F(CliScriptedPortsTest, IndexBeyondTheListIsNamed) {
    driver.setAdapters({"USB2Movantrix A"});
    EXPECT_EQ(run({"--port", "3", "scan"}), 1);
    EXPECT_EQ(err.str(),
              "movantrix-cli: there is no adapter 3 (1 found; 'movantrix-cli ports' lists "
              "them)\n");
    EXPECT_EQ(driver.count("write"), 0);
}

TEST_F(CliScriptedPortsTest, AdapterThatFailsToOpen) {
    driver.failAlways("open", FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(run({"--port", "0", "info", "--id", "1", "--baud", "1"}), 1);
    EXPECT_EQ(err.str(),
              "movantrix-cli: USB2Movantrix access failed! Please check connection. (adapter "
              "access failed (101))\n");
}

}  // namespace
}  // namespace mvx::test
