// scan: the table, the JSON, the full search, the fast search's rows and sure line, the quick
// look, Ctrl+C, the progress bar and a failing adapter.
#include <nlohmann/json.hpp>

#include <algorithm>

#include "CliFixture.h"
#include "cli/Interrupts.h"
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

// --fast finds what the standard search finds, quick and full: the same JSON (sure of every
// code), and the same devices as rows printed as they are found, then the sure line; and it is
// the fast search that ran: a silent code takes the 500 ms without the 100 ms rate pause.
TEST_F(CliFullScanTest, FastScanPrintsWhatTheScanPrints) {
    const std::vector<std::vector<std::string>> commands = {
        {"scan"}, {"--json", "scan"}, {"scan", "--full"}, {"--json", "scan", "--full"}};
    for (std::vector<std::string> args : commands) {
        args.insert(args.begin(), {"--port", "sim"});
        SCOPED_TRACE(args.back());
        ASSERT_EQ(run(args), 0) << err();
        const std::string standard = out();
        const std::string standardErr = err();
        const bool json = args[2] == "--json";
        const bool full = args.back() == "--full";
        args.push_back("--fast");
        bus.clearTraffic();
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_EQ(err(), standardErr);
        if (json) {
            EXPECT_EQ(out(), standard);
            const auto root = nlohmann::json::parse(out());
            EXPECT_EQ(root["sure"], true);
            EXPECT_EQ(root["unsureCodes"], nlohmann::json::array());
        } else {
            const std::string rows = out();
            const std::string sure = std::string("Sure: all ") + (full ? "255" : "9") +
                                     " codes were listened to for as long as devices may take "
                                     "to answer.\n";
            ASSERT_GE(rows.size(), sure.size());
            EXPECT_EQ(rows.substr(rows.size() - sure.size()), sure);
            EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'),
                      std::count(standard.begin(), standard.end(), '\n') + 1);
        }
        const std::int64_t silentUs = broadcastGapUs(bus, 3, 4);
        EXPECT_GE(silentUs, 500000);
        EXPECT_LT(silentUs, 600000);
    }
}

TEST_F(CliScanTest, FastScanAndFastFlashSearchTheFastWay) {
    ASSERT_EQ(run({"--port", "sim", "scan", "--fast"}), 0) << err();
    EXPECT_EQ(out(),
              "CODE      BPS   ID  CLASS     NAME        MODEL  VERSION  LEVEL\n"
              "   1  1000000    1  Actuator  MQ-35          28       30      2\n"
              "   1  1000000    2  Actuator  LT-50+         12       24      2\n"
              "   1  1000000    3  Actuator  PW-900        106       38      2\n"
              "   1  1000000    4  Actuator  MQ-75          64       35      2\n"
              "   1  1000000    9  Unknown   Unknown       255        0      0\n"
              "  34    57142    7  Actuator  MQ-15          10       27      1\n"
              "  34    57142  100  Sensor    LT-P1          13       20      2\n"
              " 207     9615   21  Actuator  KV-430        113       36      2\n"
              "Sure: all 9 codes were listened to for as long as devices may take to answer.\n");
    EXPECT_EQ(err(), "");
    EXPECT_GE(firstWalkAfterBroadcastUs(bus), 500000);

    bus.clearTraffic();
    ASSERT_EQ(run({"--port", "sim", "flash", "--fast", sample("MQ-35_v31.mvx")}), 0) << err();
    EXPECT_NE(out().find("ID 1 at code 1: Success\n"), std::string::npos) << out();
    EXPECT_EQ(device(1, 1).reg(2), 31);
    EXPECT_LT(broadcastGapUs(bus, 3, 4), 600000);
}

// Devices that space their broadcast answers out by ID (0.3 ms a unit): the sure scan --fast
// finds every one; --quick-look finds those that answered within its short wait and names the
// codes it did not make sure of, in text and in JSON.
class CliSpacedScanTest : public CliTest {
protected:
    static BusDescription spacedBus() {
        BusDescription description;
        description.devices = {simSpec(1, 10, 28), simSpec(1, 11, 12), simSpec(1, 12, 28),
                               simSpec(3, 200, 12)};
        description.broadcastSpacingUs = 300;
        return description;
    }
    CliSpacedScanTest() : CliTest(spacedBus()) {}
};

TEST_F(CliSpacedScanTest, FastScanIsSureAndTheQuickLookSaysWhereItIsNot) {
    struct Case {
        std::vector<std::string> args;
        int rows;  // devices listed
        std::string last;
    };
    const Case cases[] = {
        {{"scan", "--fast"},
         4,
         "Sure: all 9 codes were listened to for as long as devices may take to answer.\n"},
        {{"scan", "--fast", "--quick-look"},
         0,
         "Not sure: codes 1, 3-4, 7, 9, 16, 34, 103, 207 were not made sure of (quick look); "
         "devices that answer late there were missed: search without --quick-look to be "
         "sure.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--port", "sim"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args.back());
        ASSERT_EQ(run(args), 0) << err();
        const std::string text = out();
        ASSERT_GE(text.size(), c.last.size());
        EXPECT_EQ(text.substr(text.size() - c.last.size()), c.last);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.rows + (c.rows > 0 ? 2 : 1));
        EXPECT_EQ(err(), c.rows == 0 ? "No device found.\n" : "");

        args.insert(args.begin() + 2, "--json");
        ASSERT_EQ(run(args), 0) << err();
        const auto root = nlohmann::json::parse(out());
        EXPECT_EQ(root["devices"].size(), static_cast<std::size_t>(c.rows));
        EXPECT_EQ(root["sure"], c.rows > 0);
        EXPECT_EQ(root["unsureCodes"], c.rows > 0
                                           ? nlohmann::json::array()
                                           : nlohmann::json({1, 3, 4, 7, 9, 16, 34, 103, 207}));
    }
    // The quick look belongs to the fast search.
    EXPECT_EQ(run({"--port", "sim", "scan", "--quick-look"}), 2);
}

// Ctrl+C during the search ends it with what was found so far, said to be unsure, status 1.
TEST_F(CliSpacedScanTest, InterruptGivesTheResultSoFarMarkedUnsure) {
    int rateChanges = 0;
    hooked.hook = [&rateChanges](const std::string& call) {
        // After code 1 (the first), at the rate change to code 4.
        if (call == "setBaudRate" && ++rateChanges == 3) {
            cli::interruptFlag() = true;
        }
        return FT_OK;
    };
    EXPECT_EQ(run({"--port", "sim", "scan", "--fast"}), 1) << err();
    hooked.hook = nullptr;
    const std::string text = out();
    EXPECT_NE(text.find("   1  1000000   10"), std::string::npos) << text;
    const std::string last = text.substr(text.rfind("Not sure: "));
    EXPECT_EQ(last.rfind("(the search was interrupted); devices there may have been missed.\n"),
              last.size() - 66)
        << last;
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
