// The robot profile: its file and strict reader, the check's row kinds, apply and adopt, on the
// simulated bus on virtual time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "RobotFixture.h"
#include "protocol/Packet.h"
#include "robot/ProfileFlows.h"

namespace mvx::test {
namespace {

const std::vector<int> kQuick = {1, 34, 3, 4, 7, 9, 16, 103, 207};

class ProfileTest : public RobotTest {
protected:
    // Surveys the bus as it is: the devices found.
    std::vector<FoundDevice> survey(const std::vector<int>& codes = kQuick) {
        std::vector<FoundDevice> found;
        EXPECT_EQ(surveyBus(*registry, codes, nullptr, {}, found), 100);
        return found;
    }
    // The profile of a bus with these devices.
    RobotProfile profileOfBus(std::vector<SimDeviceSpec> devices) {
        start(std::move(devices));
        return profileOf(survey(), kQuick, "2026-12-09T02:48:10Z");
    }
};

// Joints 1-3 (MQ-35, joint 2 with max torque 800) and a sensor.
std::vector<SimDeviceSpec> arm() {
    return {simSpec(1, 1, 28), simSpec(1, 2, 28, 30, 2, {{14, 800}}), simSpec(1, 3, 28),
            simSpec(34, 100, 13, 20)};
}

TEST_F(ProfileTest, AProfileReadsBackAsWritten) {
    const RobotProfile profile = profileOfBus(arm());
    ASSERT_EQ(profile.devices.size(), 4u);
    EXPECT_TRUE(profile.devices[1].settings.has_value());
    EXPECT_FALSE(profile.devices[3].settings.has_value()) << "a sensor has no settings";
    const std::string text = profileJsonText(profile);
    RobotProfile read;
    std::string error;
    ASSERT_TRUE(parseProfileText(text, "arm.json", read, error)) << error;
    EXPECT_EQ(profileJsonText(read), text);
    EXPECT_EQ(read.devices[1].settings->find(Setting::MaxTorque)->value, 800);
    EXPECT_EQ(read.codes, kQuick);
}

// The text with the JSON value after the first `"key": ` (an object or a list) replaced.
std::string withValue(const std::string& text, const std::string& key, const std::string& value) {
    const std::size_t start = text.find("\"" + key + "\": ") + key.size() + 4;
    std::size_t end = start;
    int depth = 0;
    do {
        depth += (text[end] == '{' || text[end] == '[') ? 1 : 0;
        depth -= (text[end] == '}' || text[end] == ']') ? 1 : 0;
        ++end;
    } while (depth > 0);
    return text.substr(0, start) + value + text.substr(end);
}

TEST_F(ProfileTest, TheReaderRefusesWhatItDoesNotFullyUnderstand) {
    const std::string good = profileJsonText(profileOfBus({simSpec(1, 1, 28), simSpec(1, 2, 13)}));
    // Each case replaces one piece of the good text.
    struct Case {
        const char* name;
        std::string from;
        std::string to;
        const char* error;
    };
    const Case cases[] = {
        {"not JSON", "{", "[{", "arm.json: not a JSON file"},
        {"another format", "movantrix-robot-profile", "movantrix-settings",
         "arm.json: format: not a robot profile"},
        {"another version", "\"version\": 1,\n  \"taken\"", "\"version\": 2,\n  \"taken\"",
         "arm.json: version: version 2 is not supported"},
        {"unknown key", "\"codes\"", "\"colour\": 1, \"codes\"", "arm.json: colour: unknown key"},
        {"a key twice", "\"codes\"", "\"taken\": \"2026-12-09T02:48:10Z\", \"codes\"",
         "arm.json: taken: duplicate key"},
        {"a bad time", "\"taken\": \"", "\"taken\": \"x", "arm.json: taken: \"x20"},
        {"no codes", "\"codes\": [", "\"codes\": [", "arm.json: codes: not a list"},
        {"a code twice", "\"codes\": [\n    1,", "\"codes\": [\n    1, 1,",
         "arm.json: codes: code 1 is given twice"},
        {"a code out of range", "\"codes\": [\n    1,", "\"codes\": [\n    256,",
         "arm.json: codes: 256 is not a baud-rate code"},
        {"a device at a code not searched", "\"baud\": 1,\n      \"id\": 2",
         "\"baud\": 2,\n      \"id\": 2", "arm.json: devices[1].baud: code 2 is not among"},
        {"two devices at one address", "\"id\": 2,\n      \"model\": 13",
         "\"id\": 1,\n      \"model\": 13", "arm.json: devices[1]: a second device at code 1 ID 1"},
        {"a wrong model name", "\"model_name\": \"LT-P1\"", "\"model_name\": \"LT-P2\"",
         "arm.json: devices[1].model_name: \"LT-P2\" is not the name of model 13"},
        {"an unknown device key", "\"model\": 13", "\"model\": 13, \"colour\": 2",
         "arm.json: devices[1].colour: unknown key"},
        {"settings out of range", "\"max-torque\": 1023", "\"max-torque\": 2000",
         "arm.json: devices[0].settings: settings.max-torque: 2000 is out of range (0-1023) for "
         "MQ-35"},
        {"settings of another device", "\"id\": 1,\n        \"baud\": 1",
         "\"id\": 7,\n        \"baud\": 1", "arm.json: devices[0].settings: taken from another"},
        {"settings not an object", "\"settings\": \"none\"", "\"settings\": \"none\"",
         "arm.json: devices[0].settings: not the settings"},
        {"too deep", "\"codes\"", std::string(40, '[') + std::string(40, ']') + ", \"codes\"",
         "arm.json: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = good;
        if (std::string(c.name) == "no codes") {
            text = withValue(text, "codes", "[]");
        } else if (std::string(c.name) == "settings not an object") {
            text = withValue(text, "settings", "\"none\"");
        }
        const auto at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, c.from.size(), c.to);
        RobotProfile profile;
        std::string error;
        EXPECT_FALSE(parseProfileText(text, "arm.json", profile, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    // Only a regular file of at most 4 MB is read.
    const std::string fifo = ::testing::TempDir() + "profile_fifo";
    const std::string huge = ::testing::TempDir() + "profile_huge.json";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(huge, std::ios::binary).close();
    ASSERT_EQ(::truncate(huge.c_str(), (4 << 20) + 1), 0);
    const std::pair<std::string, const char*> files[] = {
        {"/nonexistent/arm.json", "no such file"},
        {fifo, "not a regular file"},
        {"/tmp", "not a regular file"},
        {huge, "larger than 4 MB"},
    };
    for (const auto& [path, message] : files) {
        RobotProfile profile;
        std::string error;
        EXPECT_FALSE(readProfileFile(path, profile, error)) << path;
        EXPECT_EQ(error.rfind(path + ": " + message, 0), 0u) << error;
    }
    std::remove(fifo.c_str());
    std::remove(huge.c_str());
}

// One bus with a device of every row kind against the profile of the arm.
TEST_F(ProfileTest, TheCheckGivesEveryRowKind) {
    const RobotProfile profile =
        profileOfBus({simSpec(1, 1, 28), simSpec(1, 2, 28), simSpec(1, 3, 12, 24),
                      simSpec(1, 4, 28), simSpec(1, 5, 28), simSpec(1, 6, 28)});
    start({
        simSpec(1, 1, 28),                              // as it was
        simSpec(1, 9, 12, 24),                          // the LT-50+ of ID 3, now at ID 9
        simSpec(1, 4, 64, 35),                          // an MQ-75 where the MQ-35 was
        simSpec(1, 5, 28, 31),                          // a newer firmware
        simSpec(1, 6, 28, 30, 2, {{14, 800}, {5, 0}}),  // two settings changed
        simSpec(34, 100, 13, 20),                       // a sensor nobody expected
    });
    const std::vector<CheckRow> rows = compareWithProfile(profile, survey());
    struct Row {
        CheckKind kind;
        DeviceAddress expected;
        DeviceAddress found;
        std::string detail;
    };
    const Row want[] = {
        {CheckKind::Ok, {1, 1}, {1, 1}, ""},
        {CheckKind::Missing, {1, 2}, {}, ""},
        {CheckKind::Moved, {1, 3}, {1, 9}, "now at code 1 ID 9"},
        {CheckKind::OtherModel, {1, 4}, {1, 4}, "MQ-75 (64) v35 there"},
        {CheckKind::FirmwareDiffers, {1, 5}, {1, 5}, "firmware v31 on the bus, v30 in the profile"},
        {CheckKind::SettingsDiffer,
         {1, 6},
         {1, 6},
         "max-torque 800 on the bus, 1023 in the profile; return-delay 0 on the bus, 250 in the "
         "profile"},
        {CheckKind::Unexpected, {}, {34, 100}, ""},
    };
    ASSERT_EQ(rows.size(), std::size(want));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(checkKindWord(rows[i].kind), std::string(checkKindWord(want[i].kind)));
        EXPECT_EQ(rows[i].expectedAt, want[i].expected);
        EXPECT_EQ(rows[i].foundAt, want[i].found);
        EXPECT_EQ(checkRowDetail(rows[i]), want[i].detail);
    }
    EXPECT_FALSE(allOk(rows));
    // The bus the profile was taken from is all ok.
    start({simSpec(1, 1, 28), simSpec(1, 2, 28), simSpec(1, 3, 12, 24), simSpec(1, 4, 28),
           simSpec(1, 5, 28), simSpec(1, 6, 28)});
    EXPECT_TRUE(allOk(compareWithProfile(profile, survey())));
}

TEST_F(ProfileTest, ApplyWritesOnlyWhatDiffersAndADryRunNothing) {
    const RobotProfile profile = profileOfBus(arm());
    struct Case {
        const char* name;
        bool dryRun;
        bool network;
        int changes;  // listed for joint 2
        int torque;   // joint 2's max torque afterwards
        int delay;    // its return delay afterwards
    };
    const Case cases[] = {
        {"dry run", true, false, 1, 1023, 0},
        {"dry run with the network settings", true, true, 2, 1023, 0},
        {"apply", false, false, 1, 800, 0},
        {"apply with the network settings", false, true, 2, 800, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start({simSpec(1, 1, 28), simSpec(1, 2, 28, 30, 2, {{5, 0}}), simSpec(34, 100, 13, 20)});
        const std::vector<FoundDevice> found = survey();
        sim->clearTraffic();
        std::vector<ApplyRow> rows;
        ASSERT_EQ(applyProfile(*registry, profile, found, c.network, c.dryRun, nullptr, rows), 100);
        ASSERT_EQ(rows.size(), 3u) << "one row per actuator of the profile";
        EXPECT_EQ(rows[0].changes.size(), 0u);
        EXPECT_EQ(rows[1].changes.size(), static_cast<std::size_t>(c.changes));
        EXPECT_EQ(rows[2].problem, "missing: nothing answers there; nothing written");
        EXPECT_EQ(packets(Write).empty(), c.dryRun);
        EXPECT_EQ(dev(1, 2).reg16(14), c.torque);
        EXPECT_EQ(dev(1, 2).reg(5), c.delay);
        EXPECT_EQ(rows[1].applied, !c.dryRun);
    }
}

// A replacement joint: one device of the profile missing, one newcomer of its model. It takes
// the missing one's address and settings. Anything else is refused with nothing written.
TEST_F(ProfileTest, AdoptGivesANewcomerTheMissingJointsPlace) {
    const RobotProfile profile = profileOfBus(arm());
    {
        SCOPED_TRACE("one missing, one newcomer");
        start({simSpec(1, 1, 28), simSpec(34, 1, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20)});
        const std::vector<FoundDevice> found = survey();
        // The rule alone, as a window asks it before offering the move.
        const AdoptResult plan = adoptPlan(profile, found);
        EXPECT_FALSE(plan.refused) << plan.reason;
        EXPECT_EQ(plan.from, (DeviceAddress{34, 1}));
        EXPECT_EQ(plan.to, (DeviceAddress{1, 2}));
        const AdoptResult result = adoptJoint(*registry, profile, found);
        EXPECT_FALSE(result.refused) << result.reason;
        EXPECT_EQ(result.reason, "");
        EXPECT_EQ(result.from, (DeviceAddress{34, 1}));
        EXPECT_EQ(result.to, (DeviceAddress{1, 2}));
        EXPECT_EQ(result.written, 1);
        EXPECT_EQ(result.after.kind, CheckKind::Ok) << checkRowDetail(result.after);
        EXPECT_EQ(dev(1, 2).reg16(14), 800);
        EXPECT_EQ(sim->find(34, 1), nullptr);
    }
    {
        SCOPED_TRACE("lost in the move");
        start({simSpec(1, 1, 28), simSpec(34, 1, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20)});
        const std::vector<FoundDevice> found = survey();
        // The newcomer takes its new ID at its old code, then neither answers nor takes writes.
        driver.hook = [this](const std::string&) {
            if (SimulatedDevice* d = sim->find(34, 2); d != nullptr) {
                SimFaults silent;
                silent.dropReply = true;
                silent.ignoreWrites = true;
                d->setFaults(silent);
            }
            return FT_OK;
        };
        const AdoptResult result = adoptJoint(*registry, profile, found);
        driver.hook = nullptr;
        EXPECT_FALSE(result.refused);
        EXPECT_EQ(result.reason,
                  "the move: no reply (timeout) (103); it may be at code 34 ID 1 (where it was), "
                  "code 34 ID 2 or code 1 ID 2");
        EXPECT_NE(sim->find(34, 2), nullptr) << "where it is";
    }
    struct Case {
        const char* name;
        std::vector<SimDeviceSpec> bus;
        const char* reason;
    };
    const Case refusals[] = {
        {"nothing missing", arm(), "no device of the profile is missing; nothing written"},
        {"two missing",
         {simSpec(1, 1, 28), simSpec(34, 1, 28), simSpec(34, 100, 13, 20)},
         "2 devices of the profile are missing (code 1 ID 2, code 1 ID 3): a newcomer takes the "
         "place of one only; nothing written"},
        {"no newcomer",
         {simSpec(1, 1, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20)},
         "no device on the bus that is not in the profile, to take the place of code 1 ID 2; "
         "nothing written"},
        {"two newcomers",
         {simSpec(1, 1, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20), simSpec(34, 1, 28),
          simSpec(34, 2, 28)},
         "2 devices on the bus are not in the profile (code 34 ID 1, code 34 ID 2): connect only "
         "the one that takes the place of code 1 ID 2; nothing written"},
        {"another model",
         {simSpec(1, 1, 28), simSpec(1, 3, 28), simSpec(34, 100, 13, 20), simSpec(34, 1, 64)},
         "the newcomer at code 34 ID 1 is MQ-75 (64), the missing device at code 1 ID 2 was "
         "MQ-35 (28); nothing written"},
    };
    for (const Case& c : refusals) {
        SCOPED_TRACE(c.name);
        start(c.bus);
        const std::vector<FoundDevice> found = survey();
        sim->clearTraffic();
        EXPECT_TRUE(adoptPlan(profile, found).refused);
        EXPECT_EQ(adoptPlan(profile, found).reason, c.reason);
        const AdoptResult result = adoptJoint(*registry, profile, found);
        EXPECT_TRUE(result.refused);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_TRUE(packets(Write).empty());
    }
}

}  // namespace
}  // namespace mvx::test
