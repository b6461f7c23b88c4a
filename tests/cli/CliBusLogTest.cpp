// movantrix-cli regs (the control table of every model of the catalogue) and --trace.
#include <gtest/gtest.h>

#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>

#include "CliFixture.h"
#include "device/ModelCatalogue.h"
#include "device/RegisterTable.h"

namespace mvx::test {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(CliRegsTest, EveryModelShowsItsItemsWithTheDevicesValues) {
    struct Case {
        int model;
        std::size_t rows;  // identity and network 6, firmware update 2, actuator map 26 more
        int cwLimitDegreesTimes10;  // cw-angle-limit 100 steps in tenths of a degree; -1: none
    };
    const std::vector<Case> cases =
        {
            {6, 34, 293},   {10, 34, 293},  {12, 34, 293}, {13, 8, -1},
            {28, 34, 293},  {64, 34, 293},  {106, 34, 73}, {113, 34, 293},
            {116, 34, 293}, {117, 34, 293}, {255, 6, -1},  // a model the catalogue does not know
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        BusDescription description;
        SimDeviceSpec described;
        described.id = 5;
        described.code = 1;
        described.model = static_cast<std::uint16_t>(c.model);
        described.registers = {{6, 100}, {17, 36}, {12, 65}};
        description.devices = {described};
        VirtualClock clock;
        SimulatedBus bus(description, clock);
        SimDriver driver(bus);
        TestEnvironment env(driver, clock);
        std::ostringstream out;
        std::ostringstream err;
        ASSERT_EQ(cli::run({"--port", "sim", "regs", "--id", "5", "--baud", "1", "--json"}, out,
                           err, env),
                  0)
            << err.str();
        const nlohmann::json rows = nlohmann::json::parse(out.str());
        const std::vector<RegisterItem> items = registerItems(c.model);
        ASSERT_EQ(rows.size(), c.rows);
        ASSERT_EQ(items.size(), c.rows);
        SimulatedDevice& device = *bus.find(1, 5);
        int lastAddress = -1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const nlohmann::json& row = rows[i];
            EXPECT_EQ(row["address"], items[i].address);
            EXPECT_GT(row["address"].get<int>(), lastAddress);  // address order
            lastAddress = row["address"];
            EXPECT_EQ(row["name"], items[i].name);
            EXPECT_EQ(row["size"], items[i].size == 2 ? "word" : "byte");
            const int raw =
                items[i].size == 2 ? device.reg16(items[i].address) : device.reg(items[i].address);
            EXPECT_EQ(row["raw"], raw) << items[i].name;
            EXPECT_TRUE(row.contains("access") && row.contains("value"));
        }
        EXPECT_EQ(rows[0]["value"], c.model);
        EXPECT_EQ(rows[0]["text"], std::to_string(c.model) + " (" + displayName(c.model) + ")");
        if (c.cwLimitDegreesTimes10 >= 0) {
            const auto at = [&rows](const char* name) {
                for (const auto& row : rows) {
                    if (row["name"] == name) {
                        return row;
                    }
                }
                return nlohmann::json();
            };
            EXPECT_EQ(at("cw-angle-limit")["access"], "RW");
            EXPECT_DOUBLE_EQ(at("cw-angle-limit")["value"].get<double>(),
                             c.cwLimitDegreesTimes10 / 10.0);
            EXPECT_EQ(at("alarm-shutdown")["access"], "RW");
            EXPECT_EQ(at("alarm-led")["value"], (nlohmann::json{"overload", "overheating"}));
            EXPECT_DOUBLE_EQ(at("min-voltage")["value"].get<double>(), 6.5);
            EXPECT_EQ(at("present-position")["access"], "R");
            EXPECT_EQ(at("firmware-update")["access"], "RW (keyed)");
        }
    }
}

class CliTraceTest : public CliTest {};

TEST_F(CliTraceTest, TextTableOfRegs) {
    ASSERT_EQ(run({"--port", "sim", "regs", "--id", "1", "--baud", "1"}), 0) << err();
    const std::vector<std::string> lines = splitLines(out());
    ASSERT_GT(lines.size(), 30u);
    EXPECT_EQ(lines[0], "ADDR  NAME                    SIZE  ACCESS      RAW    VALUE");
    EXPECT_EQ(lines[1], "0     model-number            word  R           28     28 (MQ-35)");
    EXPECT_NE(out().find("steps ("), std::string::npos);
}

TEST_F(CliTraceTest, TraceFileHoldsEveryPacketOfTheRun) {
    const std::string path = ::testing::TempDir() + "cli-trace.txt";
    ASSERT_EQ(run({"--port", "sim", "--trace", path, "scan"}), 0) << err();
    const std::vector<std::string> lines = splitLines(readText(path));
    int host = 0;
    std::vector<std::string> hostLines;
    for (const std::string& line : lines) {
        if (line.find(" > code=") != std::string::npos) {
            hostLines.push_back(line.substr(line.find("> code=")));
        }
    }
    std::vector<std::string> wire;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus) {
            std::ostringstream hex;
            for (std::size_t i = 0; i < t.bytes.size(); ++i) {
                hex << (i ? " " : "") << std::uppercase << std::hex << std::setw(2)
                    << std::setfill('0') << int(t.bytes[i]);
            }
            wire.push_back(hex.str());
        }
    }
    ASSERT_EQ(hostLines.size(), wire.size());
    for (std::size_t i = 0; i < wire.size(); ++i) {
        EXPECT_NE(hostLines[i].find(" " + wire[i] + " | "), std::string::npos) << hostLines[i];
        ++host;
    }
    EXPECT_GT(host, 9);
    EXPECT_EQ(lines.front(), "# 0 rate code=1 (1000000 bps)");
    EXPECT_NE(readText(path).find("< code=1 | no reply [103 timeout]"), std::string::npos);
    EXPECT_EQ(err(), "");
}

TEST_F(CliTraceTest, TraceDashGoesToStderrAndTheOutputStaysClean) {
    ASSERT_EQ(run({"--port", "sim", "--trace", "-", "ping", "--id", "1", "--baud", "1"}), 0);
    EXPECT_EQ(out(), "ID 1 at code 1 (1000000 bps): answered\n");
    const std::vector<std::string> lines = splitLines(err());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 2].find("> code=1 FF FF 01 02 01 FB | ID 1 PING"),
              std::string::npos);
    EXPECT_NE(lines.back().find("< code=1 FF FF 01 02 00 FC | ID 1 status no error"),
              std::string::npos);
}

TEST_F(CliTraceTest, AnUnwritableTraceIsRefusedBeforeTheBus) {
    for (const char* target : {"/etc", "/dev/null", "/nonexistent/trace.txt"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(run({"--port", "sim", "--trace", target, "ping", "--id", "1", "--baud", "1"}), 2);
        EXPECT_EQ(err().rfind(std::string("movantrix-cli: --trace: ") + target + ": ", 0), 0u)
            << err();
        EXPECT_FALSE(anyHostBytes());
    }
}

}  // namespace
}  // namespace mvx::test
