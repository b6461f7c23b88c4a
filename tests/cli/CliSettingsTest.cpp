// backup and restore: the file written, the differences printed, what reaches the wire (and
// in which order), refusals before the bus is touched, and the read-back check.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "CliFixture.h"
#include "device/SettingsFile.h"
#include "protocol/Packet.h"

namespace mvx::test {
namespace {

namespace fs = std::filesystem;

// IDs 1-3 of one model, ID 4 the wide model, ID 5 a sensor.
BusDescription settingsBus() {
    BusDescription bus;
    bus.devices = {simSpec(1, 1, 28, 30, 2, {{6, 600}, {8, 900}}), simSpec(1, 2, 28),
                   simSpec(1, 3, 28), simSpec(1, 4, 106), simSpec(1, 5, 13)};
    return bus;
}

// The settings registers as "address" -> value, bytes and words alike.
const std::vector<int> kSettingsAddresses = {6, 8, 11, 12, 13, 14, 17, 18, 26, 27, 28, 29, 34, 48};

class CliSettingsTest : public CliTest {
protected:
    CliSettingsTest() : CliTest(settingsBus()) {
        char pattern[] = "/tmp/mvx-settings-XXXXXX";
        dir = ::mkdtemp(pattern);
    }
    ~CliSettingsTest() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    // Backs up device (1, id) into `name`; the traffic is then forgotten.
    std::string backup(int id, const std::string& name = "saved.json") {
        EXPECT_EQ(run({"--port", "sim", "backup", "--id", std::to_string(id), "--baud", "1", "-o",
                       path(name)}),
                  0)
            << err();
        bus.clearTraffic();
        return path(name);
    }
    // Addresses of the host's writes to `id`, in order.
    std::vector<int> writesTo(int id) const {
        std::vector<int> addresses;
        for (const SimTraffic& t : bus.traffic()) {
            const auto& b = t.bytes;
            if (t.direction == SimTraffic::HostToBus && b.size() > 6 && b[4] == Write &&
                b[2] == id) {
                addresses.push_back(b[5]);
            }
        }
        return addresses;
    }
    // Host packets to `id` of any kind.
    std::size_t packetsTo(int id) const {
        const auto traffic = bus.traffic();
        return static_cast<std::size_t>(
            std::count_if(traffic.begin(), traffic.end(), [id](const SimTraffic& t) {
                return t.direction == SimTraffic::HostToBus && t.bytes.size() > 4 &&
                       t.bytes[2] == id;
            }));
    }
    int value(int id, int address) {
        SimulatedDevice& d = device(1, static_cast<std::uint8_t>(id));
        return (address == 6 || address == 8 || address == 14 || address == 34 || address == 48)
                   ? d.reg16(address)
                   : d.reg(address);
    }

    fs::path dir;
};

TEST_F(CliSettingsTest, RoundTripRestoresEverySettingWritingOnlyTheDifferencesInOrder) {
    std::map<int, int> saved;
    for (int a : kSettingsAddresses) {
        saved[a] = value(1, a);
    }
    const std::string file = backup(1);
    const auto json = nlohmann::json::parse(std::ifstream(file));
    EXPECT_EQ(json["model"], 28);
    EXPECT_EQ(json["settings"]["ccw-angle-limit"], 900);
    EXPECT_EQ(json["settings"]["max-voltage"], 19.0);
    EXPECT_EQ(json["settings"]["alarm-led"], nlohmann::json::array({"overload", "overheating"}));
    EXPECT_EQ(json["registers"].size(), 50u);

    SimulatedDevice& d = device(1, 1);
    // Both pairs moved so that restoring the lower limit first would cross the upper one.
    d.setReg16(6, 100), d.setReg16(8, 300), d.setReg(12, 50), d.setReg(13, 55);
    d.setReg16(14, 800), d.setReg(17, 0), d.setReg(26, 5), d.setReg16(48, 100);
    d.setReg16(34, 500), d.setReg(5, 100);
    ASSERT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1"}), 0) << err();
    EXPECT_EQ(out(),
              "ID 1: cw-angle-limit 100 -> 600\n"
              "ID 1: ccw-angle-limit 300 -> 900\n"
              "ID 1: min-voltage 5.0 -> 6.0\n"
              "ID 1: max-voltage 5.5 -> 19.0\n"
              "ID 1: max-torque 800 -> 1023\n"
              "ID 1: alarm-led none -> overload,overheating\n"
              "ID 1: cw-compliance-margin 5 -> 1\n"
              "ID 1: punch 100 -> 32\n"
              "ID 1: torque-limit 500 -> 1023\n"
              "ID 1: restored 9 settings\n");
    EXPECT_EQ(writesTo(1), (std::vector<int>{8, 6, 13, 12, 14, 17, 26, 48, 34}));
    for (int a : kSettingsAddresses) {
        EXPECT_EQ(value(1, a), saved[a]) << "register " << a;
    }
    EXPECT_EQ(d.reg(5), 100) << "return delay is restored only with --network";

    bus.clearTraffic();
    ASSERT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1", "--network"}), 0);
    EXPECT_EQ(out(), "ID 1: return-delay 100 -> 250\nID 1: restored 1 setting\n");
    EXPECT_EQ(writesTo(1), std::vector<int>{5});
    EXPECT_EQ(d.reg(3), 1);
    EXPECT_EQ(d.reg(4), 1);
}

TEST_F(CliSettingsTest, DryRunAndNothingToDoWriteNothing) {
    const std::string file = backup(1);
    device(1, 1).setReg16(14, 800);
    ASSERT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1", "--dry-run"}), 0);
    EXPECT_EQ(out(), "ID 1: max-torque 800 -> 1023\n");
    EXPECT_EQ(hostPackets(Write), 0);
    EXPECT_EQ(device(1, 1).reg16(14), 800);

    device(1, 1).setReg16(14, 1023);
    ASSERT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1"}), 0);
    EXPECT_EQ(out(), "ID 1: nothing to restore\n");
    EXPECT_EQ(hostPackets(Write), 0);
}

TEST_F(CliSettingsTest, SeveralTargetsAnotherModelRefusedUnlessForced) {
    const std::string file = backup(2);
    device(1, 1).setReg16(34, 700);
    device(1, 3).setReg(11, 60);
    device(1, 4).setReg16(14, 500);
    EXPECT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1,3,4,5,9"}), 1);
    EXPECT_TRUE(contains(out(), "ID 1: torque-limit 700 -> 1023\n")) << out();
    EXPECT_TRUE(contains(out(), "ID 3: temperature-limit 60 -> 80\nID 3: restored 1 setting\n"));
    EXPECT_TRUE(contains(err(),
                         "ID 4 at code 1 (1000000 bps): the device is PW-900 (106), the file "
                         "holds settings of MQ-35 (28); nothing written (--force writes what "
                         "fits)\n"))
        << err();
    EXPECT_TRUE(contains(err(), "ID 5 at code 1 (1000000 bps): the device has no servo registers"));
    EXPECT_TRUE(contains(err(), "no device found at ID 9 at code 1"));
    EXPECT_EQ(value(1, 34), 1023);
    EXPECT_EQ(value(3, 11), 80);
    EXPECT_TRUE(writesTo(4).empty());
    EXPECT_TRUE(writesTo(5).empty());

    // Forced onto a narrower model: what fits is written, the wide angle limit is not.
    const std::string wide = backup(4, "wide.json");
    device(1, 1).setReg16(14, 600);
    ASSERT_EQ(run({"--port", "sim", "restore", wide, "--baud", "1", "--id", "1", "--force"}), 0)
        << err();
    EXPECT_TRUE(contains(err(),
                         "ID 1: ccw-angle-limit 4095 skipped: above the max position of "
                         "MQ-35 (1023)\n"))
        << err();
    EXPECT_TRUE(contains(out(), "ID 1: max-torque 600 -> 500\n")) << out();
    EXPECT_TRUE(contains(out(), "ID 1: max-voltage 19.0 -> 24.0\n"));
    EXPECT_EQ(value(1, 8), 1023);
    EXPECT_EQ(value(1, 14), 500);
}

// Another model's CCW limit does not fit and is skipped; its CW limit would then be above the
// CCW limit the device keeps: the restore is refused whole, a dry run too, and nothing is
// written.
TEST_F(CliSettingsTest, AForcedRestoreThatWouldCrossTheAngleLimitsIsRefused) {
    device(1, 4).setReg16(6, 800);
    const std::string wide = backup(4, "wide.json");
    device(1, 1).setReg16(8, 500);
    device(1, 1).setReg16(14, 600);
    for (const bool dryRun : {false, true}) {
        SCOPED_TRACE(dryRun);
        std::vector<std::string> args = {"--port", "sim",  "restore", wide,     "--baud",
                                         "1",      "--id", "1",       "--force"};
        if (dryRun) {
            args.push_back("--dry-run");
        }
        EXPECT_EQ(run(args), 1);
        EXPECT_TRUE(contains(err(),
                             "movantrix-cli: ID 1 at code 1 (1000000 bps): restore refused: "
                             "cw-angle-limit 800 (from the file) would be above ccw-angle-limit "
                             "500 (the device's; the file's 4095 is skipped: above the max "
                             "position of MQ-35 (1023)); nothing written\n"))
            << err();
        EXPECT_TRUE(writesTo(1).empty());
        EXPECT_EQ(value(1, 6), 600);
        EXPECT_EQ(value(1, 8), 500);
        EXPECT_EQ(value(1, 14), 600);
    }
}

TEST_F(CliSettingsTest, ASettingTheDeviceRefusesIsReported) {
    const std::string file = backup(1);
    device(1, 1).setReg16(14, 800);
    SimFaults refusing;
    refusing.ignoreWrites = true;
    refusing.errorBits = RangeError;
    device(1, 1).setFaults(refusing);
    EXPECT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1"}), 1);
    EXPECT_EQ(err(),
              "movantrix-cli: ID 1 at code 1 (1000000 bps): max-torque did not take: wrote 1023, "
              "the device holds 800\n");
    EXPECT_EQ(writesTo(1), std::vector<int>{14});
}

// ID 1 differs in three settings, written in this order: max-torque, cw-compliance-margin,
// punch; IDs 2 and 3 in max-torque. A failure after `writesThrough` writes to ID 1: what was
// written, what failed and what was not, and the IDs a lost adapter left untried.
TEST_F(CliSettingsTest, ARestoreThatFailsHalfwaySaysWhatWasWrittenAndWhatWasNotTried) {
    const std::string differences =
        "ID 1: max-torque 800 -> 1023\n"
        "ID 1: cw-compliance-margin 5 -> 1\n"
        "ID 1: punch 100 -> 32\n";
    const std::string others =
        "ID 2: max-torque 800 -> 1023\nID 2: restored 1 setting\n"
        "ID 3: max-torque 800 -> 1023\nID 3: restored 1 setting\n";
    const std::string notTried = "ID 2: not tried (adapter lost)\nID 3: not tried (adapter lost)\n";
    const std::string where = "movantrix-cli: ID 1 at code 1 (1000000 bps): ";
    const struct {
        const char* name;
        int writesThrough;  // host writes of any kind when -1, else Write packets to ID 1
        bool adapterLost;   // else ID 1 goes silent
        std::string out, err;
    } cases[] = {
        {"adapter lost before ID 1 answered", -1, true, notTried,
         "movantrix-cli: no device found at ID 1 at code 1 (1000000 bps): adapter access failed "
         "(101)\n"},
        {"adapter lost at the first write", 0, true,
         differences +
             "ID 1: written: none\n"
             "ID 1: failed: max-torque (may have taken)\n"
             "ID 1: not written: cw-compliance-margin, punch\n" +
             notTried,
         where + "max-torque: adapter access failed (101)\n"},
        {"adapter lost at the second write", 1, true,
         differences +
             "ID 1: written: max-torque\n"
             "ID 1: failed: cw-compliance-margin (may have taken)\n"
             "ID 1: not written: punch\n" +
             notTried,
         where + "cw-compliance-margin: adapter access failed (101)\n"},
        // The other IDs are still restored.
        {"ID 1 silent from its last write", 2, false,
         differences +
             "ID 1: written: max-torque, cw-compliance-margin\n"
             "ID 1: failed: punch (may have taken)\n"
             "ID 1: not written: none\n" +
             others,
         where + "punch: no reply (timeout) (103)\n"},
        {"ID 1 silent at the read-back", 3, false,
         differences + "ID 1: written, not checked: max-torque, cw-compliance-margin, punch\n" +
             others,
         where + "read-back: no reply (timeout) (103)\n"},
    };
    const std::string file = backup(1);
    // The packets to ID 1 before its first write: the probe and the reads of its settings.
    ASSERT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1", "--dry-run"}), 0);
    const std::size_t readsBefore = packetsTo(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device(1, 1).setFaults(SimFaults{});
        device(1, 1).setReg16(14, 800);
        device(1, 1).setReg(26, 5);
        device(1, 1).setReg16(48, 100);
        for (std::uint8_t id : {2, 3}) {
            device(1, id).setReg16(6, 600);
            device(1, id).setReg16(8, 900);
            device(1, id).setReg16(14, 800);
        }
        bus.clearTraffic();
        hooked.hook = [this, &c, readsBefore](const std::string& call) {
            if (call != "write" ||
                (c.writesThrough >= 0 &&
                 (packetsTo(1) < readsBefore ||
                  writesTo(1).size() < static_cast<std::size_t>(c.writesThrough)))) {
                return FT_OK;
            }
            if (c.adapterLost) {
                return FT_IO_ERROR;
            }
            SimFaults silent;
            silent.dropReply = true;
            device(1, 1).setFaults(silent);
            return FT_OK;
        };
        EXPECT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1,2,3"}), 1);
        hooked.hook = nullptr;
        EXPECT_EQ(out(), c.out);
        EXPECT_EQ(err(), c.err);
        if (c.adapterLost) {
            EXPECT_TRUE(writesTo(2).empty());
            EXPECT_TRUE(writesTo(3).empty());
        }
    }
}

TEST_F(CliSettingsTest, BadFilesAreRefusedBeforeTheBusIsTouched) {
    const std::string good = backup(1);
    const auto base = nlohmann::ordered_json::parse(std::ifstream(good));
    auto edited = [&base](const std::function<void(nlohmann::ordered_json&)>& edit) {
        auto copy = base;
        edit(copy);
        return copy.dump();
    };
    using J = nlohmann::ordered_json;
    const struct {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"notjson", "{\"format\": ", ": not a JSON file"},
        {"array", "[1, 2]", ": not a Movantrix settings file"},
        {"format", edited([](J& j) { j["format"] = "other"; }), ": format: not a Movantrix"},
        {"version", edited([](J& j) { j["version"] = 2; }),
         ": version: version 2 is not supported"},
        {"unknownkey", edited([](J& j) { j["comment"] = "x"; }), ": comment: unknown key"},
        {"unknownsetting", edited([](J& j) { j["settings"]["id"] = 3; }),
         ": settings.id: unknown setting"},
        {"missing", edited([](J& j) { j["settings"].erase("punch"); }),
         ": settings.punch: missing"},
        {"wideangle", edited([](J& j) { j["settings"]["ccw-angle-limit"] = 2000; }),
         ": settings.ccw-angle-limit: 2000 is out of range (0-1023) for MQ-35"},
        {"volts", edited([](J& j) { j["settings"]["max-voltage"] = 26.0; }),
         ": settings.max-voltage: 26.0 V is out of range (5.0-25.0 V)"},
        {"decimals", edited([](J& j) { j["settings"]["min-voltage"] = 6.25; }),
         ": settings.min-voltage: 6.25 has more than one decimal"},
        {"flag", edited([](J& j) { j["settings"]["alarm-led"] = J::array({"smoke"}); }),
         ": settings.alarm-led: unknown alarm flag \"smoke\""},
        {"level0", edited([](J& j) { j["settings"]["return-level"] = 0; }),
         ": settings.return-level: 0 is out of range (1-2)"},
        {"model", edited([](J& j) { j["model"] = 13; }), ": model: 13 is not an actuator model"},
        {"registers", edited([](J& j) { j["registers"].erase(0); }), ": registers: not a list"},
        {"huge", std::string(1024 * 1024 + 1, ' '), ": larger than 1 MB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path(std::string(c.name) + ".json");
        std::ofstream(file) << c.text;
        env.portsMade = 0;
        EXPECT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1"}), 2);
        EXPECT_EQ(err().rfind("movantrix-cli: " + file + c.message, 0), 0u) << err();
        EXPECT_EQ(env.portsMade, 0);
    }
    EXPECT_EQ(run({"--port", "sim", "restore", path("none.json"), "--baud", "1", "--id", "1"}), 2);
    EXPECT_EQ(err(), "movantrix-cli: " + path("none.json") + ": no such file\n");
    EXPECT_EQ(run({"--port", "sim", "restore", good, "--baud", "1", "--id", "1,1"}), 2);
    EXPECT_EQ(err(), "movantrix-cli: --id: ID 1 is given twice\n");
    EXPECT_FALSE(anyHostBytes());
}

TEST_F(CliSettingsTest, BackupReplacesTheFileOnlyWhenComplete) {
    const std::string file = path("unit.json");
    std::ofstream(file) << "previous";
    EXPECT_EQ(run({"--port", "sim", "backup", "--id", "8", "--baud", "1", "-o", file}), 1);
    EXPECT_EQ(run({"--port", "sim", "backup", "--id", "5", "--baud", "1", "-o", file}), 1);
    std::stringstream kept;
    kept << std::ifstream(file).rdbuf();
    EXPECT_EQ(kept.str(), "previous");

    backup(1, "unit.json");
    DeviceSettings read;
    std::string error;
    EXPECT_TRUE(readSettingsFile(file, read, error)) << error;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "no temporary file is left beside it";

    EXPECT_EQ(run({"--port", "sim", "backup", "--id", "1", "--baud", "1", "-o",
                   path("missing/unit.json")}),
              1);
    EXPECT_EQ(err(),
              "movantrix-cli: " + path("missing/unit.json") + ": No such file or directory\n");

    ASSERT_EQ(run({"--port", "sim", "backup", "--id", "1", "--baud", "1"}), 0);
    EXPECT_TRUE(parseSettingsText(out(), "stdout", read, error)) << error;
}

}  // namespace
}  // namespace mvx::test
