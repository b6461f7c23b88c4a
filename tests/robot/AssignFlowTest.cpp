// The assign flow's rules on the simulated bus, on virtual time: new actuators appearing one
// by one get their IDs in order, two at once move nothing, a held target is skipped, a device
// lost after its move ends the run, a stop lands between actuators.
#include <gtest/gtest.h>

#include "RobotFixture.h"
#include "protocol/Packet.h"

namespace mvx::test {
namespace {

class AssignFlowTest : public RobotTest {};

// Twelve new MQ-35s at code 34 ID 1, one every 3 s; `alone`: each is unplugged when the next
// comes, else they stay daisy-chained.
std::vector<SimDeviceSpec> twelveNew(int code, int id, bool alone) {
    std::vector<SimDeviceSpec> devices;
    for (int k = 0; k < 12; ++k) {
        devices.push_back(
            newcomer(code, id, runS(3.0 * (k + 1)), runS(alone && k < 11 ? 3.0 * (k + 2) : -1)));
    }
    return devices;
}

std::vector<int> oneToTwelve() {
    std::vector<int> ids;
    for (int id = 1; id <= 12; ++id) {
        ids.push_back(id);
    }
    return ids;
}

TEST_F(AssignFlowTest, TwelveActuatorsAppearingOneByOneGetTheirIdsInOrder) {
    struct Case {
        const char* name;
        bool alone;
        bool settings;
        int returnDelay;
    };
    const Case cases[] = {
        {"daisy-chained", false, false, -1},
        {"alone", true, false, -1},
        {"daisy-chained, settings file", false, true, -1},
        {"alone, settings file, return delay 0", true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRobotBus(twelveNew(34, 1, c.alone));
        AssignPlan plan;
        plan.ids = oneToTwelve();
        plan.targetCode = 1;
        if (c.settings) {
            plan.settings = armSettings();
        }
        plan.returnDelay = c.returnDelay;
        const AssignReport report = assign(plan);

        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        ASSERT_EQ(report.rows.size(), 12u);
        for (int k = 0; k < 12; ++k) {
            SCOPED_TRACE(k);
            const AssignRow& row = report.rows[static_cast<std::size_t>(k)];
            EXPECT_EQ(row.state, AssignState::Checked) << assignLine(row);
            EXPECT_EQ(row.foundAt, (DeviceAddress{34, 1}));
            EXPECT_EQ(row.at, (DeviceAddress{1, k + 1}));
            // The k-th actuator to appear has the k-th ID, the settings and a dark LED.
            SimulatedDevice& d = sim->device(static_cast<std::size_t>(k));
            EXPECT_EQ(d.id(), k + 1);
            EXPECT_EQ(d.code(), 1);
            if (d.present()) {
                EXPECT_EQ(d.reg(25), 0) << "LED off";  // (an unplugged one is dark anyway)
            }
            EXPECT_EQ(d.reg16(14), c.settings ? 800 : 1023);
            EXPECT_EQ(d.reg(5), c.returnDelay >= 0 ? c.returnDelay : 250);
        }
        // Each moved once: one baud write each, one ID write each but the first (its ID 1
        // stays).
        EXPECT_EQ(registerWrites(3), 11);
        EXPECT_EQ(registerWrites(4), 12);
        EXPECT_EQ(sharedSeen(), 0);
        EXPECT_EQ(assignLine(report.rows[2]),
                  std::string("ID 3: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 3") +
                      (c.settings ? ", settings restored" : "") + ", checked");
    }
}

// New actuators come at code 1 ID 1, and ID 1 at code 1 is a target: whoever takes it would
// share its address with the next newcomer. The first waits at a free ID until the last is
// done, and takes ID 1 at the end; the others go straight to theirs.
TEST_F(AssignFlowTest, TheFactoryAddressAmongTheTargetsIsTakenLast) {
    struct Case {
        const char* name;
        std::vector<int> ids;
        int parkedRow;  // the row that waits: the one whose ID is the factory ID
    };
    const Case cases[] = {
        {"IDs 1-12", oneToTwelve(), 0},
        {"IDs 3, 1, 2", {3, 1, 2}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SimDeviceSpec> devices;
        for (std::size_t k = 0; k < c.ids.size(); ++k) {
            devices.push_back(newcomer(1, 1, runS(3.0 * static_cast<double>(k + 1))));
        }
        startRobotBus(devices);
        AssignPlan plan;
        plan.ids = c.ids;
        plan.targetCode = 1;
        const AssignReport report = assign(plan);

        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        EXPECT_EQ(sharedSeen(), 0);
        for (std::size_t k = 0; k < c.ids.size(); ++k) {
            SCOPED_TRACE(k);
            const AssignRow& row = report.rows[k];
            EXPECT_EQ(row.state, AssignState::Checked) << assignLine(row);
            EXPECT_EQ(row.parkedAt.valid(), static_cast<int>(k) == c.parkedRow);
            EXPECT_EQ(sim->device(k).id(), c.ids[k]);
            EXPECT_EQ(sim->device(k).code(), 1);
        }
        const AssignRow& parked = report.rows[static_cast<std::size_t>(c.parkedRow)];
        EXPECT_EQ(assignLine(parked), "ID 1: MQ-35 v30 found at code 1 ID 1 -> " +
                                          addressWords(parked.parkedAt) +
                                          " -> code 1 ID 1, checked");
        // It waited where no target, no newcomer and no other device is.
        EXPECT_EQ(parked.parkedAt.code, 1);
        EXPECT_EQ(std::count(c.ids.begin(), c.ids.end(), parked.parkedAt.id), 0);
    }
}

// The ID is written first, at the old code: when another device holds that ID there, the baud
// rate goes first; when the new code's old ID is held too, the actuator passes through a free
// ID. Never through an address in use.
TEST_F(AssignFlowTest, AMoveGoesAroundAddressesInUse) {
    struct Case {
        const char* name;
        std::vector<SimDeviceSpec> there;  // on the bus before
        int idWrites;
        int baudWrites;
    };
    const Case cases[] = {
        {"the way is free", {}, 1, 1},
        {"the new ID taken at the old code: baud first", {simSpec(34, 3, 12, 24)}, 1, 1},
        {"the old ID taken at the new code too: through a free ID",
         {simSpec(34, 3, 12, 24), simSpec(1, 1, 64, 35)},
         2,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SimDeviceSpec> devices = c.there;
        devices.push_back(newcomer(34, 1, runS(3.0)));
        startRobotBus(devices);
        AssignPlan plan;
        plan.ids = {3};
        const AssignReport report = assign(plan);
        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        EXPECT_EQ(sharedSeen(), 0);
        EXPECT_EQ(registerWrites(3), c.idWrites);
        EXPECT_EQ(registerWrites(4), c.baudWrites);
        SimulatedDevice& moved = sim->device(c.there.size());
        EXPECT_EQ(moved.id(), 3);
        EXPECT_EQ(moved.code(), 1);
        for (std::size_t i = 0; i < c.there.size(); ++i) {
            EXPECT_EQ(sim->device(i).id(), c.there[i].id) << "untouched";
            EXPECT_EQ(sim->device(i).code(), c.there[i].code) << "untouched";
        }
    }
}

// Two new devices at once, at two addresses or sharing one: nothing is written until one of
// them is unplugged, then the other gets its ID.
TEST_F(AssignFlowTest, TwoNewDevicesAtOnceMoveNothing) {
    struct Case {
        const char* name;
        DeviceAddress second;
        const char* trouble;
    };
    const Case cases[] = {
        {"two addresses", {34, 2}, "new devices at code 34 ID 1 and code 34 ID 2"},
        {"one address", {34, 1}, "two new devices answer at code 34 ID 1"},
        {"the address of a device there before",
         {1, 5},
         "a new device answers at code 1 ID 5 together with the device there"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SimDeviceSpec> devices = {
            simSpec(1, 5, 12, 24),  // there before
            newcomer(34, 1, runS(3.0)),
            newcomer(c.second.code, c.second.id, runS(3.0), runS(10.0))};
        startRobotBus(devices);
        sharingExpected = true;
        std::int64_t firstWriteUs = -1;
        onEvent = [&](const AssignEvent& e) {
            if (e.kind == AssignEventKind::Row && e.row.state == AssignState::Moved &&
                firstWriteUs < 0) {
                firstWriteUs = clock.nowUs();
            }
        };
        AssignPlan plan;
        plan.ids = {2};
        const AssignReport report = assign(plan);

        const auto troubles = eventsOf(AssignEventKind::Trouble);
        ASSERT_FALSE(troubles.empty());
        EXPECT_EQ(troubles.front().text, std::string("Connect one new actuator at a time: ") +
                                             c.trouble + "; nothing moved");
        // Nothing moved before the second one was unplugged (the first write opened the
        // schedule a few ms after the run began).
        EXPECT_GT(firstWriteUs, eventUs.front() + static_cast<std::int64_t>(runS(10.0) * 1e6));
        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        EXPECT_EQ(sim->device(1).id(), 2);
        EXPECT_EQ(sim->device(1).code(), 1);
        EXPECT_EQ(sim->device(0).id(), 5) << "the device there before is never touched";
    }
}

// A target held by a device on the bus before the run: "already there" when the first search
// shows it (the run goes on with the other IDs, as a rerun does), skipped when it only shows
// at the move.
TEST_F(AssignFlowTest, ATargetHeldByAnotherDeviceIsNeverTaken) {
    {
        SCOPED_TRACE("seen by the first search");
        startRobotBus({simSpec(1, 3, 64, 35), newcomer(34, 1, runS(3.0)),
                       newcomer(34, 1, runS(6.0)), newcomer(34, 1, runS(9.0))});
        AssignPlan plan;
        plan.ids = {1, 2, 3, 4};
        const AssignReport report = assign(plan);
        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        ASSERT_EQ(eventsOf(AssignEventKind::Present).size(), 1u);
        EXPECT_EQ(eventsOf(AssignEventKind::Present)[0].text,
                  "On the bus already (never touched): MQ-75 v35 at code 1 ID 3");
        EXPECT_TRUE(report.rows[2].already);
        EXPECT_EQ(assignLine(report.rows[2]),
                  "ID 3: skipped: already there: code 1 ID 3 holds MQ-75 v35 since before the run");
        EXPECT_EQ(report.summary(), "3 of 4 IDs given (1, 2, 4); already there: 3");
        EXPECT_EQ(sim->device(0).id(), 3) << "untouched";
        EXPECT_EQ(sim->device(3).id(), 4);
    }
    {
        SCOPED_TRACE("seen at the move");
        // Connected after the first search at a code that is not looked at for new ones.
        startRobotBus({newcomer(1, 3, runS(1.0), -1, 64), newcomer(34, 1, runS(3.0))});
        AssignPlan plan;
        plan.ids = {3, 4};
        plan.codes = {34};
        const AssignReport report = assign(plan);
        EXPECT_EQ(report.exitStatus(), 1);
        ASSERT_EQ(report.rows.size(), 2u);
        EXPECT_EQ(report.rows[0].state, AssignState::Skipped);
        EXPECT_EQ(assignLine(report.rows[0]),
                  "ID 3: skipped: code 1 ID 3 is held by a device that answers there");
        EXPECT_EQ(report.rows[1].state, AssignState::Checked);
        EXPECT_EQ(sim->device(1).id(), 4);
        EXPECT_EQ(sim->device(0).id(), 3) << "untouched";
        EXPECT_EQ(report.summary(), "1 of 2 IDs given (4); skipped: 3");
    }
}

// A device that does not answer after its move (or in the middle of it) ends the run at once,
// naming every place it may be; the IDs after it are not given.
TEST_F(AssignFlowTest, ADeviceLostAroundItsMoveEndsTheRun) {
    struct Case {
        const char* name;
        AssignState silentFrom;  // the row's state at which its replies stop
        const char* failure;
        int idAtEnd;  // where the silent device really is (its writes still take)
        int codeAtEnd;
    };
    const Case cases[] = {
        {"after the move", AssignState::Moved,
         "the check: no answer at code 1 ID 3; it may be at code 34 ID 1 (where it was), code "
         "34 ID 3 or code 1 ID 3",
         3, 1},
        {"in the move", AssignState::Found,
         "the move: no answer at code 1 ID 3; it may be at code 34 ID 1 (where it was), code 34 "
         "ID 3 or code 1 ID 3",
         3, 34},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRobotBus({newcomer(34, 1, runS(3.0)), newcomer(34, 1, runS(6.0))});
        onEvent = [&](const AssignEvent& e) {
            if (e.kind == AssignEventKind::Row && e.row.state == c.silentFrom) {
                SimFaults silent;
                silent.dropReply = true;
                sim->device(0).setFaults(silent);
            }
        };
        AssignPlan plan;
        plan.ids = {3, 4};
        const AssignReport report = assign(plan);
        EXPECT_EQ(report.exitStatus(), 1);
        EXPECT_EQ(report.rows[0].state, AssignState::Failed);
        EXPECT_EQ(assignLine(report.rows[0]),
                  std::string("ID 3: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 3, failed: ") +
                      c.failure);
        EXPECT_EQ(report.rows[1].state, AssignState::Waiting);
        EXPECT_EQ(sim->device(0).id(), c.idAtEnd);
        EXPECT_EQ(sim->device(0).code(), c.codeAtEnd);
        EXPECT_EQ(sim->device(1).code(), 34) << "never gone on blind";
        EXPECT_NE(report.summary().find("not done: 4"), std::string::npos) << report.summary();
    }
}

// Stop lands between steps: before the first search ends, while waiting, or once an actuator
// is in hand (which is finished first). No actuator is left half done.
TEST_F(AssignFlowTest, StopEndsTheRunBetweenActuators) {
    struct Case {
        const char* name;
        AssignEventKind kind;
        int index;
        AssignState state;  // for Row events
        std::vector<AssignState> rows;
    };
    using S = AssignState;
    const Case cases[] = {
        {"during the first search",
         AssignEventKind::Searching,
         -1,
         S::Waiting,
         {S::Waiting, S::Waiting, S::Waiting}},
        {"waiting for the second",
         AssignEventKind::Waiting,
         1,
         S::Waiting,
         {S::Checked, S::Waiting, S::Waiting}},
        {"the second found",
         AssignEventKind::Row,
         1,
         S::Found,
         {S::Checked, S::Checked, S::Waiting}},
        {"the second moved",
         AssignEventKind::Row,
         1,
         S::Moved,
         {S::Checked, S::Checked, S::Waiting}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRobotBus(
            {newcomer(34, 1, runS(3.0)), newcomer(34, 1, runS(6.0)), newcomer(34, 1, runS(9.0))});
        onEvent = [&](const AssignEvent& e) {
            if (e.kind == c.kind && e.index == c.index &&
                (e.kind != AssignEventKind::Row || e.row.state == c.state)) {
                stop = true;
            }
        };
        AssignPlan plan;
        plan.ids = {1, 2, 3};
        const AssignReport report = assign(plan);
        EXPECT_TRUE(report.stopped);
        EXPECT_EQ(report.exitStatus(), 1);
        ASSERT_EQ(report.rows.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(report.rows[k].state, c.rows[k]) << k;
        }
        EXPECT_EQ(eventsOf(AssignEventKind::Finished).size(), 1u);
        EXPECT_EQ(sim->device(2).code(), 34) << "the third is never touched";
    }
}

// A look at the bus that fails before the move (the ping at the target could not be written)
// tells nothing of who answers there: the actuator is left where it was found, nothing written.
TEST_F(AssignFlowTest, ALookThatFailsBeforeTheMoveMovesNothing) {
    // Connected after the first search at a code not looked at for new ones: only the look at
    // the target can see it.
    startRobotBus({newcomer(1, 3, runS(1.0), -1, 64), newcomer(34, 1, runS(3.0))});
    onEvent = [this](const AssignEvent& e) {
        if (e.kind == AssignEventKind::Row && e.row.state == AssignState::Found) {
            driver.shortWrite = 0;  // the next write, the ping at the target, puts nothing out
        }
    };
    AssignPlan plan;
    plan.ids = {3};
    plan.codes = {34};
    const AssignReport report = assign(plan);
    EXPECT_EQ(report.exitStatus(), 1);
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_EQ(report.rows[0].state, AssignState::Failed);
    EXPECT_EQ(report.rows[0].reason,
              "the move: write incomplete (102) before anything was written; left at "
              "code 34 ID 1");
    EXPECT_EQ(sharedSeen(), 0);
    EXPECT_EQ(registerWrites(3), 0);
    EXPECT_EQ(registerWrites(4), 0);
    EXPECT_EQ(sim->device(1).code(), 34) << "left where it was";
    EXPECT_EQ(sim->device(0).id(), 3) << "untouched";
}

// New devices that are not taken: a sensor, an actuator of another model than the settings
// file's. They are left where they are and the next suitable one is taken.
TEST_F(AssignFlowTest, NewDevicesThatDoNotFitAreLeftWhereTheyAre) {
    struct Case {
        const char* name;
        int model;
        const char* why;
    };
    const Case cases[] = {
        {"a sensor", 13, "code 34 ID 1: LT-P1 v30 (Sensor) is not an actuator that answers reads"},
        {"another model", 64,
         "code 34 ID 1: the new actuator is MQ-75 (64), the settings file holds settings of "
         "MQ-35 (28)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The unfit one is unplugged at 6 s; a fitting one comes to the same address at 7 s.
        startRobotBus({newcomer(34, 1, runS(3.0), runS(6.0), c.model), newcomer(34, 1, runS(7.0))});
        AssignPlan plan;
        plan.ids = {1};
        plan.settings = armSettings();
        const AssignReport report = assign(plan);
        ASSERT_FALSE(eventsOf(AssignEventKind::Ignored).empty());
        EXPECT_EQ(eventsOf(AssignEventKind::Ignored)[0].text,
                  std::string(c.why) + "; left where it is");
        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        EXPECT_EQ(sim->device(0).code(), 34) << "untouched";
        EXPECT_EQ(sim->device(1).code(), 1);
    }
}

}  // namespace
}  // namespace mvx::test
