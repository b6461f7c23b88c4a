// The assign flow on a bus whose devices space their answers to a broadcast out by ID (300 us
// per unit), on virtual time: a device there before the run is never taken for a new one, even
// when the first look lost one of its replies or could not read it; what a stop leaves and how a
// rerun goes on; a second actuator that takes a move's writes; a lost adapter; a dead end; the
// return delay against what was written; the "still looking" events.
#include <gtest/gtest.h>

#include "RobotFixture.h"
#include "protocol/Packet.h"

namespace mvx::test {
namespace {

constexpr std::int64_t kSpacingUs = 300;

class AssignSureTest : public RobotTest {};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(AssignSureTest, AJointOnTheBusBeforeIsNeverTakenForANewOne) {
    enum class Fault { None, SilentAfterBroadcast, UnreadableReads, FirstAnswerLost, Broken };
    struct Case {
        const char* name;
        int jointId;
        Fault fault;  // on the joint while the first search runs
    };
    const Case cases[] = {
        {"joint at ID 5", 5, Fault::None},
        {"joint at ID 20", 20, Fault::None},
        {"joint at ID 60", 60, Fault::None},
        {"joint at ID 150", 150, Fault::None},
        {"ID 60: its walk reply and probe lost", 60, Fault::SilentAfterBroadcast},
        {"ID 60: its probe comes back broken (104)", 60, Fault::UnreadableReads},
        {"ID 203: its answer to the first broadcast at its code lost", 203, Fault::FirstAnswerLost},
        // Broken answers carry the ID: it is taken, though no answer of it came clean.
        {"ID 238: its broadcast answers cut off, then corrupt; its walk reply and probe lost", 238,
         Fault::Broken},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        driver.hook = nullptr;  // the last case's hook must not see this case's bus start
        startRobotBus(
            {simSpec(1, c.jointId, 28), newcomer(34, 1, runS(3.0)), newcomer(34, 1, runS(6.0))},
            kSpacingUs);
        // The lost answer: nothing comes back from the joint until the host writes after its
        // broadcast at code 1.
        const auto watch = driver.hook;  // the fixture's, kept by the hook beyond this pass
        driver.hook = [&, watch](const std::string& call) {
            if ((c.fault == Fault::FirstAnswerLost || c.fault == Fault::Broken) &&
                call == "write" && !eventsOf(AssignEventKind::Searching).empty() &&
                eventsOf(AssignEventKind::Present).empty()) {
                int broadcasts = 0;
                for (const SimTraffic& t : hostWrites(1000000)) {
                    broadcasts += t.bytes.size() > 2 && t.bytes[2] == kBroadcastId ? 1 : 0;
                }
                SimFaults broken;  // cut off first, then corrupt, then nothing at all
                broken.truncateReply = broadcasts == 0;
                broken.corruptChecksum = broadcasts == 1;
                broken.dropReply = broadcasts >= 2;
                if (c.fault == Fault::Broken) {
                    sim->device(0).setFaults(broken);
                } else if (broadcasts > 0) {
                    sim->device(0).setFaults({});
                }
            }
            return watch(call);
        };
        onEvent = [&](const AssignEvent& e) {
            SimFaults faults;
            if (e.kind == AssignEventKind::Searching) {
                faults.silentAfterPackets = c.fault == Fault::SilentAfterBroadcast ? 1 : -1;
                faults.corruptReads = c.fault == Fault::UnreadableReads ? 1000 : 0;
                faults.dropReply = c.fault == Fault::FirstAnswerLost;
                sim->device(0).setFaults(faults);
            } else if (e.kind == AssignEventKind::Present) {
                sim->device(0).setFaults(faults);  // well again for the rest of the run
            }
        };
        AssignPlan plan;
        plan.ids = {1, 2};
        const AssignReport report = assign(plan);

        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        EXPECT_EQ(report.preExisting, (std::vector<DeviceAddress>{{1, c.jointId}}));
        ASSERT_EQ(eventsOf(AssignEventKind::Present).size(), 1u);
        EXPECT_TRUE(has(eventsOf(AssignEventKind::Present)[0].text,
                        "code 1 ID " + std::to_string(c.jointId)));
        EXPECT_TRUE(eventsOf(AssignEventKind::Trouble).empty())
            << eventsOf(AssignEventKind::Trouble)[0].text;
        EXPECT_EQ(sim->device(0).id(), c.jointId) << "never touched";
        EXPECT_EQ(sim->device(0).code(), 1);
        for (int k = 1; k <= 2; ++k) {
            EXPECT_EQ(sim->device(static_cast<std::size_t>(k)).id(), k);
            EXPECT_EQ(sim->device(static_cast<std::size_t>(k)).code(), 1);
        }
        EXPECT_EQ(sharedSeen(), 0);
    }
}

// An actuator at the highest ID that is no target is where a run parks one, but only a plan
// whose IDs hold the factory's own ever parks: for any other plan it is a device of the robot.
TEST_F(AssignSureTest, AJointAtTheParkingIdIsNoActuatorLeftWaiting) {
    startRobotBus({simSpec(1, 253, 28), newcomer(34, 1, runS(3.0))}, kSpacingUs);
    AssignPlan plan;
    plan.ids = {2};
    const AssignReport report = assign(plan);
    EXPECT_EQ(report.exitStatus(), 0) << report.summary();
    EXPECT_EQ(report.rows[0].foundAt, (DeviceAddress{34, 1}));
    EXPECT_EQ(sim->device(0).id(), 253) << "never touched";
    EXPECT_EQ(sim->device(1).id(), 2);
}

TEST_F(AssignSureTest, TheReturnDelayIsCheckedAgainstWhatWasWritten) {
    struct Case {
        const char* name;
        bool network;
        int returnDelay;
    };
    const Case cases[] = {
        {"settings with network, return delay 3", true, 3},
        {"settings with network, return delay 0", true, 0},
        {"settings without network, return delay 7", false, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRobotBus({newcomer(34, 1, runS(3.0)), newcomer(34, 1, runS(9.0))}, kSpacingUs);
        int ledWhileLooking = -1;
        onEvent = [&](const AssignEvent& e) {
            if (e.kind == AssignEventKind::StillLooking && e.index == 1) {
                ledWhileLooking = sim->device(0).reg(25);
            }
        };
        AssignPlan plan;
        plan.ids = {1, 2};
        plan.settings = armSettings();
        plan.network = c.network;
        plan.returnDelay = c.returnDelay;
        const AssignReport report = assign(plan);
        EXPECT_EQ(report.exitStatus(), 0) << report.summary();
        for (std::size_t k = 0; k < 2; ++k) {
            EXPECT_EQ(report.rows[k].state, AssignState::Checked) << assignLine(report.rows[k]);
            EXPECT_EQ(sim->device(k).reg(5), c.returnDelay);
        }
        EXPECT_EQ(ledWhileLooking, 1) << "the last one's LED stays on until the next is found";
    }
}

TEST_F(AssignSureTest, AStopLeavesAWaitingActuatorWhereItWaitsAndARerunGoesOn) {
    // New actuators come to code 1 ID 1, a target: the first waits at a free ID.
    startRobotBus({newcomer(1, 1, runS(3.0)), newcomer(1, 1, runS(6.0)), newcomer(1, 1, runS(9.0))},
                  kSpacingUs);
    onEvent = [&](const AssignEvent& e) {
        if (e.kind == AssignEventKind::Row && e.index == 1 && e.row.state == AssignState::Checked) {
            stop = true;
        }
    };
    AssignPlan plan;
    plan.ids = {1, 2, 3};
    plan.targetCode = 1;
    const AssignReport first = assign(plan);
    EXPECT_TRUE(first.stopped);
    const DeviceAddress parked = first.rows[0].parkedAt;
    ASSERT_TRUE(parked.valid());
    EXPECT_EQ(first.rows[0].at, parked);
    EXPECT_EQ(sim->device(0).id(), parked.id) << "never moved onto the address new ones come to";
    EXPECT_TRUE(has(first.summary(), "ID 1 waits at " + addressWords(parked))) << first.summary();
    EXPECT_EQ(sharedSeen(), 0);

    // The rerun, before the third is connected: ID 2 is there, the waiting one is ID 1's.
    stop = false;
    onEvent = nullptr;
    const AssignReport rerun = assign(plan);
    EXPECT_EQ(rerun.exitStatus(), 0) << rerun.summary();
    EXPECT_TRUE(rerun.rows[1].already);
    EXPECT_EQ(rerun.summary(), "2 of 3 IDs given (1, 3); already there: 2");
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(sim->device(k).id(), static_cast<int>(k) + 1);
        EXPECT_EQ(sim->device(k).code(), 1);
    }
    EXPECT_EQ(sharedSeen(), 0);
}

TEST_F(AssignSureTest, ARunThatCannotGoOnEndsSayingWhere) {
    enum class Kind { SecondDuringMove, AdapterLost, NoParking };
    struct Case {
        const char* name;
        Kind kind;
        const char* reason;  // in the failed row's reason
    };
    const Case cases[] = {
        {"a second newcomer during the move", Kind::SecondDuringMove,
         "two devices may now share one address"},
        {"the adapter lost in the move", Kind::AdapterLost,
         "the adapter failed (101); it may be at code 34 ID 1 (where it was)"},
        {"every ID at the target code is a target", Kind::NoParking,
         "no free ID at code 34 to wait at while new actuators come to code 34 ID 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SimDeviceSpec> devices = {newcomer(34, 1, runS(3.0))};
        if (c.kind != Kind::AdapterLost) {
            devices.push_back(newcomer(34, 1, c.kind == Kind::NoParking ? runS(6.0) : 0.0));
        }
        startRobotBus(devices, kSpacingUs);
        sharingExpected = c.kind == Kind::SecondDuringMove;
        SimFaults mute;
        mute.dropReply = true;
        if (c.kind == Kind::SecondDuringMove) {
            sim->device(1).setFaults(mute);  // connected, but heard only from the move on
        }
        onEvent = [&](const AssignEvent& e) {
            if (e.kind == AssignEventKind::Row && e.index == 0 &&
                e.row.state == AssignState::Found) {
                if (c.kind == Kind::SecondDuringMove) {
                    sim->device(1).setFaults({});
                } else if (c.kind == Kind::AdapterLost) {
                    sim->setAdapterPlugged(false);
                }
            }
        };
        AssignPlan plan;
        plan.targetCode = c.kind == Kind::NoParking ? 34 : 1;
        plan.ids = {3, 4};
        if (c.kind == Kind::NoParking) {
            plan.ids.clear();
            for (int id = 0; id <= 253; ++id) {
                plan.ids.push_back(id);
            }
        }
        const AssignReport report = assign(plan);
        EXPECT_EQ(report.exitStatus(), 1);
        EXPECT_FALSE(report.failure.empty());
        const AssignRow& row = report.rows[c.kind == Kind::NoParking ? 1 : 0];
        EXPECT_EQ(row.state, AssignState::Failed);
        EXPECT_TRUE(has(row.reason, c.reason)) << row.reason;
        EXPECT_EQ(report.adapterLost, c.kind == Kind::AdapterLost);
        EXPECT_EQ(eventsOf(AssignEventKind::Finished).size(), 1u);
        EXPECT_FALSE(report.stopped) << "ended by itself";
    }
}

TEST_F(AssignSureTest, WhileWaitingItSaysEveryTenSecondsThatItStillLooks) {
    startRobotBus({}, kSpacingUs);
    onEvent = [&](const AssignEvent& e) {
        if (eventsOf(AssignEventKind::StillLooking).size() >= 3 ||
            e.kind == AssignEventKind::Finished) {
            stop = true;
        }
    };
    AssignPlan plan;
    plan.ids = {1};
    plan.codes = {1, 34};
    const AssignReport report = assign(plan);
    EXPECT_TRUE(report.stopped);
    const auto still = eventsOf(AssignEventKind::StillLooking);
    ASSERT_EQ(still.size(), 3u);
    for (std::size_t k = 0; k < still.size(); ++k) {
        EXPECT_EQ(still[k].text,
                  "still looking at codes 1, 34 (waited " + std::to_string(10 * (k + 1)) + " s)");
        EXPECT_EQ(still[k].index, 0);
    }
    std::vector<std::int64_t> at;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind == AssignEventKind::StillLooking) {
            at.push_back(eventUs[i]);
        }
    }
    EXPECT_GE(at[1] - at[0], 9000000);
    EXPECT_LE(at[1] - at[0], 11000000);
}

}  // namespace
}  // namespace mvx::test
