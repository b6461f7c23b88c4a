// The flows through the library: backup and restore, assign with its events and a stop, the
// profile flows, and watch samples on the sampler's schedule.
#include <cmath>
#include <filesystem>
#include <thread>

#include "FacadeFixture.h"

namespace movantrix::test {
namespace {

class FacadeFlowsTest : public FacadeTest {};

TEST_F(FacadeFlowsTest, BackupAndRestoreRoundTrip) {
    startDefault();
    Device arm = bus->device(1, 1);
    const std::string file = tempPath("arm.json");
    arm.write("max-torque", 800);
    arm.write("min-voltage", 7.5);
    bus->backup(arm, file);
    arm.write("max-torque", 1023);
    arm.write("min-voltage", 6.0);

    // A dry run tells the differences and writes nothing.
    RestoreReport dry = bus->restore(file, {.dryRun = true});
    ASSERT_EQ(dry.rows.size(), 1u) << "the file's own address by default";
    EXPECT_EQ(dry.rows[0].at, (Address{1, 1}));
    ASSERT_EQ(dry.rows[0].differences.size(), 2u);
    EXPECT_EQ(dry.rows[0].differences[0].name, "min-voltage");
    EXPECT_EQ(dry.rows[0].differences[0].now, Value(6.0));
    EXPECT_EQ(dry.rows[0].differences[0].wanted, Value(7.5));
    EXPECT_TRUE(dry.rows[0].written.empty());
    EXPECT_TRUE(dry.ok());
    EXPECT_EQ(arm.read("max-torque"), Value(1023));

    // Restored onto the device and onto another of the same model.
    const RestoreReport done = bus->restore(file, {.devices = {{1, 1}, {1, 2}, {1, 4}}});
    ASSERT_EQ(done.rows.size(), 3u);
    EXPECT_TRUE(done.rows[0].ok()) << done.rows[0].problem;
    EXPECT_EQ(done.rows[0].written, (std::vector<std::string>{"min-voltage", "max-torque"}));
    EXPECT_EQ(arm.read("max-torque"), Value(800));
    EXPECT_EQ(arm.read("min-voltage"), Value(7.5));
    // ID 2 is an LT-50+ and ID 4 an MQ-75: another model is refused whole without force.
    EXPECT_EQ(done.rows[1].problem,
              "the device is LT-50+ (12), the file holds settings of MQ-35 (28); nothing written "
              "(force writes what fits)");
    EXPECT_FALSE(done.ok());
}

TEST_F(FacadeFlowsTest, RestoreTellsWhatAFailureHalfwayLeft) {
    startDefault();
    Device arm = bus->device(1, 1);
    const std::string file = tempPath("arm.json");
    arm.write("max-torque", 800);
    arm.write("punch", 50);
    bus->backup(arm, file);
    arm.write("max-torque", 1023);
    arm.write("punch", 32);
    // The adapter goes after the first write of the restore.
    int writes = 0;
    driver.hook = [&](const std::string& call) {
        return call == "write" && ++writes > 3 ? mvx::FT_IO_ERROR : mvx::FT_OK;
    };
    const RestoreReport report = bus->restore(file, {.devices = {{1, 1}, {1, 3}}});
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_TRUE(report.adapterLost);
    EXPECT_EQ(report.notTried, (std::vector<Address>{{1, 3}}));
    EXPECT_EQ(report.rows[0].result, 101);
    EXPECT_FALSE(report.rows[0].problem.empty());
    EXPECT_FALSE(report.ok());
}

TEST_F(FacadeFlowsTest, BadFilesAndTargetsAreRefusedBeforeTheBusIsTouched) {
    startDefault();
    EXPECT_THROW(bus->restore(tempPath("missing.json")), std::invalid_argument);
    EXPECT_THROW(bus->backup(bus->device(1, 1), "/dev/null"), std::invalid_argument);
    EXPECT_THROW(bus->restore(tempPath("x.json"), {.devices = {{1, 254}}}), std::invalid_argument);
    EXPECT_THROW(bus->profileCheck(tempPath("missing.json")), std::invalid_argument);
}

// New MQ-35s at code 34 ID 1, one every few seconds of the run.
std::vector<mvx::SimDeviceSpec> newcomers(int count) {
    std::vector<mvx::SimDeviceSpec> devices;
    for (int k = 0; k < count; ++k) {
        devices.push_back(mvx::test::newcomer(34, 1, mvx::test::runS(3.0 * (k + 1))));
    }
    return devices;
}

TEST_F(FacadeFlowsTest, AssignGivesTheIdsWithItsEventsOnTheCallingThread) {
    start(newcomers(3));
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<AssignEventKind> kinds;
    std::vector<std::string> checked;
    bool elsewhere = false;
    AssignOptions options{.codes = {34}};
    options.onEvent = [&](const AssignEvent& e) {
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        kinds.push_back(e.kind);
        if (e.kind == AssignEventKind::Row && e.row.state == "checked") {
            checked.push_back(e.row.line);
        }
    };
    const AssignReport report = bus->assign({1, 2, 3}, 1, options);
    EXPECT_TRUE(report.ok()) << report.summary;
    EXPECT_EQ(report.given, 3);
    EXPECT_FALSE(elsewhere);
    ASSERT_EQ(report.rows.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(report.rows[k].state, "checked");
        EXPECT_EQ(report.rows[k].foundAt, (Address{34, 1}));
        EXPECT_EQ(report.rows[k].at, (Address{1, k + 1}));
        EXPECT_EQ(report.rows[k].modelName, "MQ-35");
        EXPECT_EQ(sim->device(static_cast<std::size_t>(k)).id(), k + 1);
    }
    EXPECT_EQ(checked.size(), 3u);
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), AssignEventKind::Searching);
    EXPECT_EQ(kinds.back(), AssignEventKind::Finished);
}

TEST_F(FacadeFlowsTest, AStoppedAssignEndsBetweenActuatorsWithNothingHalfMoved) {
    start(newcomers(3));
    std::stop_source source;
    AssignOptions options{.codes = {34}};
    options.stop.token = source.get_token();
    // Stopped as soon as the first actuator is found: its move is finished first.
    options.onEvent = [&](const AssignEvent& e) {
        if (e.kind == AssignEventKind::Row && e.row.state == "found") {
            source.request_stop();
        }
    };
    const AssignReport report = bus->assign({1, 2, 3}, 1, options);
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.ok());
    // Every actuator is where the report says: at its new address or untouched at 34/1.
    for (std::size_t k = 0; k < report.rows.size(); ++k) {
        SCOPED_TRACE(k);
        mvx::SimulatedDevice& d = sim->device(k);
        if (report.rows[k].state == "checked") {
            EXPECT_EQ(d.id(), report.rows[k].id);
            EXPECT_EQ(d.code(), 1);
        } else {
            EXPECT_EQ(d.id(), 1);
            EXPECT_EQ(d.code(), 34);
        }
    }
    EXPECT_LE(report.given, 1);
}

TEST_F(FacadeFlowsTest, AssignArgumentsAreCheckedWithTheCommandLineMessages) {
    startDefault();
    struct Case {
        std::vector<int> ids;
        int baud;
        AssignOptions options;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{}, 1, {}, "ids: \"\" is not a list of IDs (0-253)"},
        {{1, 1}, 1, {}, "ids: ID 1 is given twice"},
        {{1},
         0,
         {},
         "baud: no search visits code 0, the actuators would not be found again (1-255)"},
        {{1}, 1, {.network = true}, "network goes with settingsFile"},
        {{1}, 1, {.returnDelay = 256}, "returnDelay: 256 is out of range (0-255)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            bus->assign(c.ids, c.baud, c.options);
            ADD_FAILURE() << "not refused";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST_F(FacadeFlowsTest, ProfileSaveCheckApplyAndAdopt) {
    startDefault();
    const std::string file = tempPath("robot.json");
    const std::vector<ProfileDevice> saved = bus->profileSave(file, {.codes = {1}});
    ASSERT_EQ(saved.size(), 5u);
    EXPECT_EQ(saved[0].at, (Address{1, 1}));
    EXPECT_TRUE(saved[0].hasSettings);

    std::vector<CheckRow> rows = bus->profileCheck(file);
    ASSERT_EQ(rows.size(), 5u);
    for (const CheckRow& row : rows) {
        EXPECT_TRUE(row.ok()) << row.kind << ": " << row.detail;
    }
    bus->device(1, 2).write("max-torque", 600);
    rows = bus->profileCheck(file);
    EXPECT_EQ(rows[1].kind, "settings differ");
    ASSERT_EQ(rows[1].settings.size(), 1u);
    EXPECT_EQ(rows[1].settings[0].now, Value(600));

    // A row per device with settings (ID 9 answers pings only).
    const std::vector<ApplyRow> applied = bus->profileApply(file);
    ASSERT_EQ(applied.size(), 4u);
    EXPECT_EQ(applied[1].at, (Address{1, 2}));
    EXPECT_TRUE(applied[1].applied) << applied[1].problem;
    EXPECT_EQ(applied[1].written, 1);
    EXPECT_NE(bus->device(1, 2).read("max-torque"), Value(600));

    // Nothing missing: adopt is refused with nothing written.
    const AdoptReport adopt = bus->profileAdopt(file);
    EXPECT_TRUE(adopt.refused);
    EXPECT_FALSE(adopt.reason.empty());
}

TEST_F(FacadeFlowsTest, WatchSamplesOnTheSchedule) {
    startDefault();
    Device pw = bus->device(1, 3);
    Watch watch = bus->watch(pw, {"present-position", "present-voltage"}, 50.0, 1.0);
    std::vector<Sample> samples;
    for (const Sample& s : watch) {
        samples.push_back(s);
    }
    // 50 Hz for a second: the samples at 0, 20, ... 980 ms, none at or after the end.
    ASSERT_EQ(samples.size(), 50u);
    for (std::size_t k = 0; k < samples.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(samples[k].ok);
        EXPECT_NEAR(samples[k].timeS, 0.02 * static_cast<double>(k), 0.005);
        EXPECT_EQ(samples[k].values.size(), 2u);
        EXPECT_EQ(samples[k].values.at("present-position"), Value(2048));
        EXPECT_TRUE(std::holds_alternative<double>(samples[k].values.at("present-voltage")));
    }
    EXPECT_TRUE(watch.ended());
}

TEST_F(FacadeFlowsTest, WatchPushedToACallbackUntilStopped) {
    startDefault();
    int count = 0;
    bus->watch(
        bus->device(1, 1), {}, 100.0, 0.0,
        [&](const Sample& s) {
            ++count;
            EXPECT_EQ(s.values.size(), 8u);
        },
        Stop{{}, [&count] { return count >= 30; }});
    EXPECT_EQ(count, 30);
}

TEST_F(FacadeFlowsTest, WatchArgumentsAndDevicesItCannotWatch) {
    startDefault();
    const Device arm = bus->device(1, 1);
    EXPECT_THROW(bus->watch(arm, {}, 0.0), std::invalid_argument);
    EXPECT_THROW(bus->watch(arm, {}, 1001.0), std::invalid_argument);
    EXPECT_THROW(bus->watch(arm, {}, NAN), std::invalid_argument);
    EXPECT_THROW(bus->watch(arm, {}, 10.0, -1.0), std::invalid_argument);
    EXPECT_THROW(bus->watch(arm, {"led"}, 10.0), std::invalid_argument);
    EXPECT_THROW(bus->watch(bus->device(34, 100), {}, 10.0), Refused) << "a sensor";
    EXPECT_THROW(bus->watch(bus->device(1, 9), {}, 10.0), Refused) << "answers pings only";
}

TEST_F(FacadeFlowsTest, StoppedFlowsLeaveNothingHalfDone) {
    startDefault();
    // A restore stopped after its first device names the rest as not tried.
    const std::string settings = tempPath("arm.json");
    bus->backup(bus->device(1, 1), settings);
    std::stop_source source;
    int written = 0;
    driver.hook = [&](const std::string& call) {
        if (call == "write" && ++written == 1) {
            source.request_stop();  // while the first device is in hand
        }
        return mvx::FT_OK;
    };
    RestoreOptions restoreOptions{.devices = {{1, 1}, {1, 4}, {1, 2}}};
    restoreOptions.stop.token = source.get_token();
    const RestoreReport restored = bus->restore(settings, restoreOptions);
    driver.hook = nullptr;
    EXPECT_TRUE(restored.stopped);
    ASSERT_EQ(restored.rows.size(), 1u);
    EXPECT_TRUE(restored.rows[0].ok()) << "the device in hand is finished";
    EXPECT_EQ(restored.notTried, (std::vector<Address>{{1, 4}, {1, 2}}));
    EXPECT_FALSE(restored.ok());

    // A profile save stopped during its search writes no file.
    const std::string profile = tempPath("robot.json");
    ProfileOptions saveOptions;
    saveOptions.stop.requested = [] { return true; };
    EXPECT_TRUE(bus->profileSave(profile, saveOptions).empty());
    EXPECT_FALSE(std::filesystem::exists(profile));
}

TEST_F(FacadeFlowsTest, APulledWatchWaitsAtMostItsTimeoutAndEndsWithTheBus) {
    startDefault();
    Watch watch = bus->watch(bus->device(1, 1), {"moving"}, 10.0);
    ASSERT_TRUE(watch.next(std::chrono::milliseconds(1)).has_value()) << "the first is due at once";
    // The next one is 100 ms away: a 30 ms wait returns nothing, and the watch goes on.
    const std::int64_t before = clock.nowUs();
    EXPECT_FALSE(watch.next(std::chrono::milliseconds(30)).has_value());
    EXPECT_FALSE(watch.ended());
    EXPECT_EQ(clock.nowUs() - before, 30000);
    const std::optional<Sample> second = watch.next();
    ASSERT_TRUE(second.has_value());
    EXPECT_NEAR(second->timeS, 0.1, 0.005);
    bus->close();
    EXPECT_THROW(watch.next(), AdapterLost);
    EXPECT_FALSE(watch.next().has_value());
}

}  // namespace
}  // namespace movantrix::test
