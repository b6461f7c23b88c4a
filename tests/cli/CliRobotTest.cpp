// assign and profile on the command line: what a user sees, the exit statuses, the refusals
// before the port is opened, Ctrl+C between actuators.
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "CliFixture.h"
#include "protocol/Packet.h"

namespace mvx::test {
namespace {

namespace fs = std::filesystem;

BusDescription twelveNewActuators() {
    BusDescription bus;
    std::string error;
    EXPECT_TRUE(SimulatedBus::loadDescription(
        std::string(MVX_SOURCE_DIR) + "/samples/sim-bus-twelve-new-actuators.json", bus, error))
        << error;
    return bus;
}

class CliAssignTest : public CliTest {
protected:
    CliAssignTest() : CliTest(twelveNewActuators()) {}
};

TEST_F(CliAssignTest, TwelveNewActuatorsGetTheirIdsWithAPromptOnATerminal) {
    env.terminal = true;
    ASSERT_EQ(run({"--port", "sim", "assign", "--ids", "1-12", "--baud", "1"}), 0) << err();
    const std::string lines = out();
    EXPECT_TRUE(contains(lines, "ID 1: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 1, checked\n"));
    EXPECT_TRUE(
        contains(lines, "ID 12: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 12, checked\n"));
    EXPECT_TRUE(contains(lines, "12 of 12 IDs given (1-12)\n"));
    EXPECT_TRUE(contains(err(), "Connect the next actuator (ID 1, 1 of 12)...\n"));
    EXPECT_TRUE(contains(err(), "Connect the next actuator (ID 12, 12 of 12)...\n"));
    for (int id = 1; id <= 12; ++id) {
        EXPECT_NE(bus.find(1, static_cast<std::uint8_t>(id)), nullptr) << id;
    }
}

TEST_F(CliAssignTest, WithoutATerminalItJustWatches) {
    // "010" is ten, as in every number option: not octal eight.
    ASSERT_EQ(run({"--port", "sim", "assign", "--ids", "5,7", "--baud", "3", "--codes", "034",
                   "--return-delay", "010"}),
              0)
        << err();
    EXPECT_EQ(err(), "");
    EXPECT_EQ(out(),
              "ID 5: MQ-35 v30 found at code 34 ID 1 -> code 3 ID 5, checked\n"
              "ID 7: MQ-35 v30 found at code 34 ID 1 -> code 3 ID 7, checked\n"
              "2 of 2 IDs given (5, 7)\n");
    for (int id : {5, 7}) {
        ASSERT_NE(bus.find(3, static_cast<std::uint8_t>(id)), nullptr) << id;
        EXPECT_EQ(bus.find(3, static_cast<std::uint8_t>(id))->reg(5), 10) << id;
    }
}

TEST_F(CliAssignTest, CtrlCEndsItBetweenActuatorsWithASummary) {
    bool raised = false;
    hooked.hook = [&](const std::string& call) {
        // Ctrl+C while the second actuator is being looked for or worked on.
        if (call == "write" && !raised && clock.nowUs() > 18000000) {
            raised = true;
            std::raise(SIGINT);
        }
        return FT_OK;
    };
    EXPECT_EQ(run({"--port", "sim", "assign", "--ids", "1-12", "--baud", "1"}), 1);
    hooked.hook = nullptr;
    EXPECT_TRUE(raised);
    EXPECT_TRUE(contains(out(), "ID 1: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 1, checked\n"));
    EXPECT_TRUE(contains(out(), "of 12 IDs given (1")) << out();
    EXPECT_TRUE(contains(out(), "; stopped\n")) << out();
    EXPECT_FALSE(contains(out(), "ID 3:")) << "the third was never looked for";
    struct sigaction now {};
    ::sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL) << "the handler is put back";
}

TEST_F(CliAssignTest, ALostAdapterEndsTheRunWithTheAdapterMessage) {
    hooked.hook = [&](const std::string&) {
        return clock.nowUs() > 18000000 ? FT_IO_ERROR : FT_OK;  // unplugged at 18 s
    };
    EXPECT_EQ(run({"--port", "sim", "assign", "--ids", "1-12", "--baud", "1"}), 1);
    hooked.hook = nullptr;
    EXPECT_TRUE(contains(out(), "ID 1: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 1, checked\n"));
    EXPECT_TRUE(contains(err(), "USB2Movantrix access failed! Please check connection.")) << err();
    EXPECT_TRUE(contains(out(), "; not done: ")) << out();
}

TEST_F(CliAssignTest, JsonGivesALinePerIdAndASummaryLine) {
    ASSERT_EQ(
        run({"--port", "sim", "--json", "assign", "--ids", "4,5", "--baud", "1", "--codes", "34"}),
        0)
        << err();
    std::vector<nlohmann::json> lines;
    std::istringstream text(out());
    for (std::string line; std::getline(text, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(lines.size(), 3u) << out();
    for (int k = 0; k < 2; ++k) {
        const nlohmann::json& row = lines[static_cast<std::size_t>(k)];
        EXPECT_EQ(row["id"], 4 + k);
        EXPECT_EQ(row["state"], "checked");
        EXPECT_EQ(row["found_at"], (nlohmann::json{{"code", 34}, {"id", 1}}));
        EXPECT_EQ(row["at"], (nlohmann::json{{"code", 1}, {"id", 4 + k}}));
        EXPECT_EQ(row["parked_at"], nullptr);
        EXPECT_EQ(row["name"], "MQ-35");
        EXPECT_EQ(row["line"], "ID " + std::to_string(4 + k) +
                                   ": MQ-35 v30 found at code 34 ID 1 -> code 1 ID " +
                                   std::to_string(4 + k) + ", checked");
    }
    EXPECT_EQ(lines[2]["summary"], "2 of 2 IDs given (4, 5)");
    EXPECT_EQ(lines[2]["given"], 2);
    EXPECT_EQ(lines[2]["exit_status"], 0);
    EXPECT_EQ(lines[2]["present"], nlohmann::json::array());
    EXPECT_EQ(err(), "");
}

TEST_F(CliAssignTest, BadArgumentsAreRefusedBeforeThePortIsOpened) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"--ids", "", "--baud", "1"}, "--ids: \"\" is not a list of IDs (0-253)"},
        {{"--ids", "1-254", "--baud", "1"}, "--ids: \"1-254\" is out of range (0-253)"},
        {{"--ids", "3-1", "--baud", "1"}, "--ids: \"3-1\" runs backwards"},
        {{"--ids", "1,2,1", "--baud", "1"}, "--ids: ID 1 is given twice"},
        {{"--ids", "1,x", "--baud", "1"}, "--ids: \"x\" is not an ID (0-253)"},
        {{"--ids", "1", "--baud", "256"}, "--baud: 256 is out of range (0-255)"},
        {{"--ids", "1", "--baud", "0"}, "--baud: no search visits code 0"},
        {{"--ids", "1", "--baud", "1-1"}, "--baud: \"1-1\" is not a number"},
        {{"--ids", "1", "--baud", "1", "--codes", ""},
         "--codes: \"\" is not a list of baud-rate codes (0-255)"},
        {{"--ids", "1", "--baud", "1", "--codes", "", "--full"},
         "--codes and --full exclude each other"},
        {{"--ids", "1", "--baud", "1", "--return-delay", "0x10"},
         "--return-delay: \"0x10\" is not a number"},
        {{"--ids", "1", "--baud", "1", "--codes", "34,34"},
         "--codes: baud-rate code 34 is given twice"},
        {{"--ids", "1", "--baud", "1", "--codes", "34", "--full"},
         "--codes and --full exclude each other"},
        {{"--ids", "1", "--baud", "1", "--network"}, "--network goes with --settings"},
        {{"--ids", "1", "--baud", "1", "--settings", "/nonexistent/arm.json"},
         "/nonexistent/arm.json: no such file"},
        {{"--ids", "1", "--baud", "1", "--return-delay", "256"},
         "--return-delay: 256 is out of range (0-255)"},
        {{"--baud", "1"}, "--ids is required"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim", "assign"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
        EXPECT_TRUE(contains(err(), c.message)) << err();
        EXPECT_EQ(env.portsMade, 0);
    }
}

// The default bus with a place for profile files.
class CliProfileTest : public CliTest {
protected:
    CliProfileTest() {
        char pattern[] = "/tmp/mvx-profile-XXXXXX";
        dir = ::mkdtemp(pattern);
        file = (dir / "robot.json").string();
    }
    ~CliProfileTest() override { fs::remove_all(dir); }

    fs::path dir;
    std::string file;
};

TEST_F(CliProfileTest, SaveCheckApplyAndAdopt) {
    ASSERT_EQ(run({"--port", "sim", "profile", "save", "-o", file}), 0) << err();
    EXPECT_EQ(out(), "8 devices saved to " + file + "\n");
    ASSERT_EQ(run({"--port", "sim", "profile", "check", file}), 0) << err();
    EXPECT_TRUE(contains(out(), "code 1 ID 1      MQ-35 v30    ok\n")) << out();
    EXPECT_TRUE(contains(out(), "code 207 ID 21   KV-430 v36   ok\n")) << out();

    // A setting changed: the check says which; a dry run writes nothing; apply mends it.
    device(1, 1).setReg16(14, 500);
    EXPECT_EQ(run({"--port", "sim", "profile", "check", file}), 1);
    EXPECT_TRUE(contains(out(),
                         "code 1 ID 1      MQ-35 v30    settings differ: max-torque 500 on the "
                         "bus, 1023 in the profile\n"))
        << out();
    bus.clearTraffic();
    EXPECT_EQ(run({"--port", "sim", "profile", "apply", file, "--dry-run"}), 0) << err();
    EXPECT_TRUE(contains(out(), "code 1 ID 1: max-torque 500 -> 1023\n")) << out();
    EXPECT_EQ(hostPackets(Write), 0);
    EXPECT_EQ(device(1, 1).reg16(14), 500);
    EXPECT_EQ(run({"--port", "sim", "--json", "profile", "apply", file, "--dry-run"}), 0) << err();
    const auto dry = nlohmann::json::parse(out());
    EXPECT_EQ(dry["dry_run"], true);
    EXPECT_EQ(dry["ok"], true);
    EXPECT_EQ(dry["rows"][0]["at"], (nlohmann::json{{"code", 1}, {"id", 1}}));
    EXPECT_EQ(dry["rows"][0]["changes"][0],
              (nlohmann::json{{"name", "max-torque"}, {"bus", "500"}, {"profile", "1023"}}));
    EXPECT_EQ(device(1, 1).reg16(14), 500);
    EXPECT_EQ(run({"--port", "sim", "profile", "apply", file}), 0) << err();
    EXPECT_TRUE(contains(out(), "code 1 ID 1: restored 1 setting\n")) << out();
    EXPECT_EQ(device(1, 1).reg16(14), 1023);

    // Nothing is missing: adopt refuses. Then joint 2 is replaced by one at code 34 ID 1.
    EXPECT_EQ(run({"--port", "sim", "profile", "adopt", file}), 1);
    EXPECT_EQ(err(),
              "movantrix-cli: adopt: no device of the profile is missing; nothing written\n");
    device(1, 2).setReg(4, 34);
    device(34, 2).setReg(3, 1);
    EXPECT_EQ(run({"--port", "sim", "profile", "check", file, "--json"}), 1);
    const auto json = nlohmann::json::parse(out());
    EXPECT_EQ(json["all_ok"], false);
    EXPECT_EQ(json["rows"][1]["kind"], "moved");
    EXPECT_EQ(json["rows"][1]["found"]["code"], 34);
    ASSERT_EQ(run({"--port", "sim", "profile", "adopt", file}), 0) << err();
    EXPECT_EQ(out(),
              "code 34 ID 1 -> code 1 ID 2: LT-50+ v24 takes the place of the missing one, 0 "
              "settings restored, checked: ok\n");
    EXPECT_EQ(run({"--port", "sim", "profile", "check", file}), 0) << out();
}

class CliEmptyBusTest : public CliTest {
protected:
    CliEmptyBusTest() : CliTest(BusDescription{}) {}
};

TEST_F(CliEmptyBusTest, SavingAnEmptyBusFailsWithAMessageAndWritesNothing) {
    char pattern[] = "/tmp/mvx-profile-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    const std::string file = (dir / "robot.json").string();
    EXPECT_EQ(run({"--port", "sim", "profile", "save", "-o", file}), 1);
    EXPECT_TRUE(contains(err(), "no device answers on the codes searched; nothing saved")) << err();
    EXPECT_FALSE(fs::exists(file));
    fs::remove_all(dir);
}

TEST_F(CliProfileTest, BadArgumentsAndFilesAreRefusedBeforeThePortIsOpened) {
    std::ofstream(dir / "bad.json") << "{\"format\": \"movantrix-robot-profile\", \"version\": 1}";
    const std::string bad = (dir / "bad.json").string();
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"profile"}, "A subcommand is required"},
        {{"profile", "check"}, "FILE is required"},
        {{"profile", "save", "--codes", "1,1"}, "--codes: baud-rate code 1 is given twice"},
        {{"profile", "save", "--codes", ""}, "--codes: \"\" is not a list of baud-rate codes"},
        {{"profile", "save", "-o", "/dev/null"}, "/dev/null: not a regular file"},
        {{"profile", "save", "-o", "/nonexistent/robot.json"}, "cannot take a new file"},
        {{"profile", "check", "/nonexistent.json"}, "/nonexistent.json: no such file"},
        {{"profile", "apply", bad}, "bad.json: taken: missing"},
        {{"profile", "adopt", dir.string()}, ": not a regular file"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
        EXPECT_TRUE(contains(err(), c.message)) << err();
        EXPECT_EQ(env.portsMade, 0);
    }
}

}  // namespace
}  // namespace mvx::test
