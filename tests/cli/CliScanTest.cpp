// scan: the table, the JSON, the full search, the progress bar and a failing adapter.
#include <nlohmann/json.hpp>

#include <algorithm>

#include "CliFixture.h"
#include "protocol/BaudRate.h"

namespace mvx::test {
namespace {

using CliScanTest = CliTest;

TEST_F(CliScanTest, TablePrintsExactlyTheDevicesOfTheDefaultBus) {
    ASSERT_EQ(run({"--port", "sim", "scan"}), 0) << err();
    EXPECT_EQ(out(),
              "CODE      BPS   ID  CLASS     NAME     MODEL  VERSION  LEVEL\n"
              "   1  1000000    1  Actuator  MQ-35       28       30      2\n"
              "   1  1000000    2  Actuator  LT-50+      12       24      2\n"
              "   1  1000000    3  Actuator  PW-900     106       38      2\n"
              "   1  1000000    4  Actuator  MQ-75       64       35      2\n"
              "   1  1000000    9  Unknown   Unknown    255        0      0\n"
              "  34    57142    7  Actuator  MQ-15       10       27      1\n"
              "  34    57142  100  Sensor    LT-P1       13       20      2\n"
              " 207     9615   21  Actuator  KV-430     113       36      2\n");
    // No terminal: no progress bar, nothing else on stderr.
    EXPECT_EQ(err(), "");
    EXPECT_EQ(env.lastSpec.kind, cli::PortSpec::Kind::Sim);
    // The search did not write to any device.
    EXPECT_EQ(hostPackets(3), 0);
}

TEST_F(CliScanTest, JsonListsTheDevicesInRegistryOrder) {
    ASSERT_EQ(run({"--port", "sim", "--json", "scan"}), 0) << err();
    const auto root = nlohmann::json::parse(out());
    ASSERT_TRUE(root.contains("devices"));
    const auto& devices = root["devices"];
    ASSERT_EQ(devices.size(), 8u);

    const std::vector<std::pair<int, int>> order = {{1, 1}, {1, 2},  {1, 3},    {1, 4},
                                                    {1, 9}, {34, 7}, {34, 100}, {207, 21}};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(devices[i]["code"], order[i].first) << i;
        EXPECT_EQ(devices[i]["id"], order[i].second) << i;
    }
    const auto& first = devices[0];
    EXPECT_EQ(first["bps"], 1000000);
    EXPECT_EQ(first["class"], "Actuator");
    EXPECT_EQ(first["name"], "MQ-35");
    EXPECT_EQ(first["model"], 28);
    EXPECT_EQ(first["version"], 30);
    EXPECT_EQ(first["return_level"], 2);

    // The device that answers only pings: model 255, as the registry records it.
    const auto& pingOnly = devices[4];
    EXPECT_EQ(pingOnly["model"], 255);
    EXPECT_EQ(pingOnly["class"], "Unknown");
    EXPECT_EQ(pingOnly["name"], "Unknown");
    EXPECT_EQ(pingOnly["version"], 0);
    EXPECT_EQ(pingOnly["return_level"], 0);

    EXPECT_EQ(devices[5]["return_level"], 1);
    EXPECT_EQ(devices[6]["class"], "Sensor");
    EXPECT_EQ(devices[7]["bps"], 9615);
}

class CliFullScanTest : public CliTest {
protected:
    static BusDescription offListBus() {
        BusDescription description;
        description.adapterName = "Off-list bus";
        SimDeviceSpec portSpec;
        portSpec.id = 5;
        portSpec.code = 2;  // not among the nine common codes
        portSpec.model = 64;
        description.devices.push_back(portSpec);
        return description;
    }
    CliFullScanTest() : CliTest(offListBus()) {}
};

TEST_F(CliFullScanTest, OnlyTheFullSearchFindsADeviceOffTheCommonCodes) {
    ASSERT_EQ(run({"--port", "sim", "scan"}), 0) << err();
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(), "No device found.\n");

    ASSERT_EQ(run({"--port", "sim", "scan", "--full"}), 0) << err();
    EXPECT_EQ(out(),
              "CODE     BPS  ID  CLASS     NAME   MODEL  VERSION  LEVEL\n"
              "   2  666666   5  Actuator  MQ-75     64       30      2\n");
}

// Virtual time from the first broadcast ping to the first ping of ID 0 after it.
std::int64_t firstWalkAfterBroadcastUs(const SimulatedBus& bus) {
    std::int64_t broadcast = -1;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus && t.bytes.size() == 6 && t.bytes[4] == 1) {
            if (t.bytes[2] == 254 && broadcast < 0) {
                broadcast = t.startUs;
            } else if (t.bytes[2] == 0 && broadcast >= 0) {
                return t.startUs - broadcast;
            }
        }
    }
    return -1;
}

// Virtual time from the broadcast at `from` to the next one, at `to`.
std::int64_t broadcastGapUs(const SimulatedBus& bus, int from, int to) {
    std::int64_t start = -1;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction != SimTraffic::HostToBus || t.bytes.size() != 6 || t.bytes[2] != 254) {
            continue;
        }
        if (t.rateBps == rateOf(static_cast<std::uint8_t>(from))) {
            start = t.startUs;
        } else if (t.rateBps == rateOf(static_cast<std::uint8_t>(to)) && start >= 0) {
            return t.startUs - start;
        }
    }
    return -1;
}

// --fast prints what the standard search prints, table and JSON, quick and full, and it is the
// fast search that ran: it leaves a silent code without the standard search's 600 ms.
TEST_F(CliFullScanTest, FastScanPrintsWhatTheScanPrints) {
    const std::vector<std::vector<std::string>> commands = {
        {"scan"}, {"--json", "scan"}, {"scan", "--full"}, {"--json", "scan", "--full"}};
    for (std::vector<std::string> args : commands) {
        args.insert(args.begin(), {"--port", "sim"});
        ASSERT_EQ(run(args), 0) << err();
        const std::string standard = out() + "|" + err();
        args.push_back("--fast");
        bus.clearTraffic();
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_EQ(out() + "|" + err(), standard);
    }
}

TEST_F(CliScanTest, FastScanAndFastFlashSearchTheFastWay) {
    ASSERT_EQ(run({"--port", "sim", "scan", "--fast"}), 0) << err();
    const std::string table = out();
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 9);  // the header and 8 devices
    EXPECT_EQ(err(), "");
    // The answers to a broadcast get the standard search's 500 ms; a silent code is left at once.
    EXPECT_GE(firstWalkAfterBroadcastUs(bus), 500000);
    const std::int64_t silentUs = broadcastGapUs(bus, 3, 4);
    EXPECT_GT(silentUs, 0);
    EXPECT_LT(silentUs, 100000);

    bus.clearTraffic();
    ASSERT_EQ(run({"--port", "sim", "flash", "--fast", sample("MQ-35_v31.mvx")}), 0) << err();
    EXPECT_NE(out().find("ID 1 at code 1: Success\n"), std::string::npos) << out();
    EXPECT_EQ(device(1, 1).reg(2), 31);
    EXPECT_LT(broadcastGapUs(bus, 3, 4), 100000);
}

// A fast search that saw devices answer the broadcast late says so on stderr at its end; it
// found what the standard search finds.
class CliSpacedScanTest : public CliTest {
protected:
    static BusDescription spacedBus() {
        BusDescription description = SimulatedBus::defaultBus();
        description.broadcastSpacingUs = 300;
        return description;
    }
    CliSpacedScanTest() : CliTest(spacedBus()) {}
};

TEST_F(CliSpacedScanTest, FastScanSaysItSawLateAnswers) {
    ASSERT_EQ(run({"--port", "sim", "scan"}), 0) << err();
    const std::string standard = out();
    EXPECT_EQ(err(), "");
    for (const char* command : {"scan", "flash"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {"--port", "sim", command, "--fast"};
        if (std::string(command) == "flash") {
            args.push_back(sample("MQ-35_v31.mvx"));
        }
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_NE(err().find("movantrix-cli: warning: answers to the broadcast came late: the "
                             "fast search waited for the answers as the standard search does "
                             "from then on; on a bus whose devices all answer late, search "
                             "without --fast\n"),
                  std::string::npos)
            << err();
        if (std::string(command) == "scan") {
            EXPECT_EQ(out(), standard);
        }
    }
}

TEST_F(CliScanTest, ProgressBarOnlyOnATerminal) {
    env.terminal = true;
    ASSERT_EQ(run({"--port", "sim", "scan"}), 0);
    EXPECT_NE(err().find("\rSearching ["), std::string::npos) << err();
    EXPECT_NE(err().find("] 100%"), std::string::npos) << err();
    EXPECT_EQ(err().back(), '\n');
    EXPECT_EQ(out().find('\r'), std::string::npos) << "the bar stays off stdout";
}

TEST_F(CliScanTest, AdapterFailureDuringTheSearchIsReportedInWords) {
    // The adapter opens, then fails while the search runs.
    bus.failAdapterFrom(40);
    EXPECT_EQ(run({"--port", "sim", "scan"}), 1);
    EXPECT_EQ(out(), "");
    EXPECT_NE(err().find("adapter access failed (101)"), std::string::npos) << err();
}

TEST_F(CliScanTest, UnpluggedAdapterCannotBeOpened) {
    bus.setAdapterPlugged(false);
    EXPECT_EQ(run({"--port", "sim", "scan"}), 1);
    EXPECT_EQ(err(), "movantrix-cli: Can not find USB2Movantrix! Please check connection.\n");
    EXPECT_FALSE(anyHostBytes());
}

}  // namespace
}  // namespace mvx::test
