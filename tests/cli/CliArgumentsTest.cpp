// Bad arguments and files: a message, a non-zero status, and nothing on the bus.
#include "CliFixture.h"
#include "sim/FirmwareFileWriter.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace mvx::test {
namespace {

class CliArgumentsTest : public CliTest {
protected:
    // Runs a command line that must be refused before the port is opened.
    void expectRefused(const std::vector<std::string>& args, const std::string& message) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(out(), "");
        EXPECT_NE(err().find(message), std::string::npos) << err();
        EXPECT_EQ(env.portsMade, 0) << "the port must not even be prepared";
        EXPECT_FALSE(anyHostBytes());
    }
};

TEST_F(CliArgumentsTest, OutOfRangeAddresses) {
    expectRefused({"--port", "sim", "info", "--id", "300", "--baud", "1"}, "--id");
    expectRefused({"--port", "sim", "info", "--id", "254", "--baud", "1"}, "--id");
    expectRefused({"--port", "sim", "ping", "--id", "1", "--baud", "256"}, "--baud");
    expectRefused({"--port", "sim", "ping", "--id", "-1", "--baud", "1"}, "");
    expectRefused({"--port", "sim", "info", "--baud", "1"}, "--id is required");
}

TEST_F(CliArgumentsTest, RawRegisterRanges) {
    expectRefused({"--port", "sim", "read", "--id", "1", "--baud", "1", "250", "10"},
                  "run past the end of the control table");
    expectRefused({"--port", "sim", "read", "--id", "1", "--baud", "1", "0", "0"}, "LEN");
    expectRefused({"--port", "sim", "write", "--id", "1", "--baud", "1", "256", "1"}, "ADDR");
    expectRefused({"--port", "sim", "write", "--id", "1", "--baud", "1", "30", "256"},
                  "value 256 is out of range (0-255 for a byte)");
    expectRefused({"--port", "sim", "write", "--id", "1", "--baud", "1", "30", "70000", "--word"},
                  "(0-65535 for a word)");
    expectRefused({"--port", "sim", "write", "--id", "1", "--baud", "1", "255", "1", "--word"},
                  "runs past the control table");
}

// Every whole-number option, whichever command has it, is decimal and refused in the same
// words: no octal, hex, exponent or fraction.
TEST_F(CliArgumentsTest, EveryNumberOptionIsDecimalAndRefusedInTheSameWords) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"ping", "--id", "0x10", "--baud", "1"}, "--id: \"0x10\" is not a number"},
        {{"ping", "--id", "300", "--baud", "1"}, "--id: 300 is out of range (0-253)"},
        {{"ping", "--id", "1", "--baud", "1.5"}, "--baud: \"1.5\" is not a number"},
        {{"read", "--id", "1", "--baud", "1", "0", "1e2"}, "LEN: \"1e2\" is not a number"},
        {{"read", "--id", "1", "--baud", "1", "9999999999", "1"},
         "ADDR: 9999999999 is out of range (0-255)"},
        {{"write", "--id", "1", "--baud", "1", "30", "1.5"}, "VALUE: \"1.5\" is not a number"},
        {{"backup", "--id", "1", "--baud", "0x1"}, "--baud: \"0x1\" is not a number"},
        {{"restore", "x.json", "--id", "1", "--baud", "256"},
         "--baud: 256 is out of range (0-255)"},
        {{"restore", "x.json", "--id", "1,0x2", "--baud", "1"},
         "--id: \"0x2\" is not an ID (0-253)"},
        {{"assign", "--ids", "1", "--baud", "1", "--return-delay", "1e2"},
         "--return-delay: \"1e2\" is not a number"},
        {{"assign", "--ids", "1", "--baud", "1", "--return-delay", "1.5"},
         "--return-delay: \"1.5\" is not a number"},
        {{"assign", "--ids", "1", "--baud", "1", "--return-delay", "256"},
         "--return-delay: 256 is out of range (0-255)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        expectRefused(args, c.message);
    }
}

TEST_F(CliArgumentsTest, NamedRegisterNamesAndValues) {
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "goal", "10"},
                  "unknown register name \"goal\"");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "goal-position", "5000"},
                  "goal-position: 5000 is out of range (0-4095)");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "led", "bright"},
                  "led: \"bright\" is not on or off");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "max-voltage", "30"},
                  "max-voltage: 30.0 V is out of range (5.0-25.0 V)");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "min-voltage", "6.25"},
                  "not a voltage");
    // Ten times it wraps around to 5.4 V in an int.
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "min-voltage", "429496735"},
                  "min-voltage: \"429496735\" is not a voltage");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "alarm-led", "overload,hot"},
                  "unknown alarm flag \"hot\"");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "return-level", "3"},
                  "return-level: 3 is out of range (0-2)");
    expectRefused({"--port", "sim", "set", "--id", "1", "--baud", "1", "moving-speed", "1x"},
                  "is not a whole number");
}

TEST_F(CliArgumentsTest, FirmwareFiles) {
    expectRefused({"--port", "sim", "flash", "/nonexistent/file.mvx"},
                  "/nonexistent/file.mvx: no such firmware file");
    const std::string bad = ::testing::TempDir() + "cli_bad_firmware.mvx";
    {
        std::ofstream file(bad, std::ios::binary);
        file << "not a firmware file";
    }
    expectRefused({"--port", "sim", "flash", bad}, bad + ": Invalid Firmware File!");
    std::remove(bad.c_str());
}

TEST_F(CliArgumentsTest, PortsAndCommands) {
    expectRefused({"--port", "sim:", "scan"}, "--port: \"sim:\" needs a bus description file");
    expectRefused({"--port", "", "scan"}, "--port: empty port name");
    expectRefused({"--port", "sim"}, "A subcommand is required");
    expectRefused({"--port", "sim", "frobnicate"}, "frobnicate");
}

TEST(CliMessagesTest, EachNamesTheRealCauseWithTheProgramName) {
    const std::string sample = std::string(MVX_SOURCE_DIR) + "/samples/sim-bus.json";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--port", sample, "ping", "--id", "1", "--baud", "1"},
         "--port: " + sample + " is not a serial device"},
        {{"--port", "/tmp", "scan"}, "--port: /tmp is not a serial device"},
        {{"--port", "/dev/null", "scan"}, "--port: /dev/null is not a serial device"},
        {{"--port", "sim", "flash", "/tmp"}, "/tmp: not a regular file"},
        {{"--port", "sim", "ping", "--id", "abc", "--baud", "1"}, "--id: \"abc\" is not a number"},
        {{"--port", "sim", "write", "--id", "1", "--baud", "1", "30", "0x10"},
         "VALUE: \"0x10\" is not a number"},
        {{"--port", "sim", "info", "--baud", "1"}, "--id is required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        cli::SystemEnvironment env;
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(cli::run(c.args, out, err, env), 2);
        EXPECT_EQ(out.str(), "");
        EXPECT_EQ(err.str().rfind("movantrix-cli: " + c.message, 0), 0u) << err.str();
    }
}

TEST_F(CliArgumentsTest, HelpIsNoFailure) {
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out().find("Usage:"), std::string::npos);
    EXPECT_EQ(run({"set", "--help"}), 0);
    EXPECT_NE(out().find("goal-position"), std::string::npos) << "the register names are listed";
}

TEST_F(CliArgumentsTest, VersionIsNoFailure) {
    EXPECT_EQ(run({"--version"}), 0);
    EXPECT_EQ(out(), "movantrix-cli " MVX_TEST_VERSION "\n");
}

}  // namespace
}  // namespace mvx::test
