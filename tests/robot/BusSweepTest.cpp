// The robot flows' looks at the bus: a broadcast is heard as long as answers can come, also
// from devices that space their answers out, without talking over any; a ping that could not be
// written is a failed look, never a look at which nobody answered.
#include <gtest/gtest.h>

#include <functional>

#include "RobotFixture.h"
#include "protocol/ResultCode.h"
#include "robot/BusSweep.h"
#include "support/TalkOver.h"

namespace mvx::test {
namespace {

class BusSweepTest : public RobotTest {};

// The broadcast at each code of a bus whose devices answer a broadcast 0.3 ms a unit of their
// ID late (ID 200 60 ms after its return delay), then the search of those codes: every device
// heard and found, each look sure, nothing sent within 500 ms of a broadcast or over an answer.
TEST_F(BusSweepTest, BroadcastIsSureOnASpacedBus) {
    struct Case {
        int code;
        std::vector<int> answered;
    };
    const Case cases[] = {{1, {1}}, {3, {200}}, {4, {}}, {34, {10, 11, 12}}};
    BusDescription description;
    description.devices = {simSpec(1, 1, 28), simSpec(3, 200, 12), simSpec(34, 10, 28),
                           simSpec(34, 11, 12), simSpec(34, 12, 28)};
    description.broadcastSpacingUs = 300;
    startBus(description);
    BusSweep sweep(*registry);
    std::vector<int> codes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        CodeLook look;
        ASSERT_EQ(sweep.broadcast(c.code, look), Success);
        EXPECT_EQ(look.heard, !c.answered.empty());
        EXPECT_TRUE(look.sure);
        EXPECT_EQ(look.answered, c.answered);
        codes.push_back(c.code);
    }
    std::vector<CodeLook> looks;
    ASSERT_EQ(sweep.search(codes, nullptr, nullptr, looks), Success);
    EXPECT_EQ(registry->deviceCount(), 5);
    const std::vector<SimTraffic> traffic = sim->traffic();
    EXPECT_EQ(talkOverViolations(traffic), std::vector<std::string>{});
    EXPECT_EQ(broadcastWaitViolations(traffic), std::vector<std::string>{});
}

TEST_F(BusSweepTest, APingThatCannotBeWrittenFailsTheLook) {
    struct Case {
        const char* name;
        std::function<int(BusSweep&)> look;
    };
    const Case cases[] = {
        {"broadcast",
         [](BusSweep& sweep) {
             CodeLook look;
             return sweep.broadcast(1, look);
         }},
        {"walk (its first ping, at the device's ID)",
         [](BusSweep& sweep) {
             CodeLook look;
             return sweep.walk(1, nullptr, look);
         }},
        {"anyone at the device's address",
         [](BusSweep& sweep) {
             bool answered = false;
             return sweep.anyoneAt({1, 0}, answered);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startRobotBus({simSpec(1, 0, 28)});
        BusSweep sweep(*registry);
        driver.shortWrite = 0;  // the next write puts nothing on the wire
        EXPECT_EQ(c.look(sweep), WriteIncomplete);
    }
}

}  // namespace
}  // namespace mvx::test

namespace mvx::test {
namespace {

// Several devices at one address answer one after the other: the walk leaves room for them
// after that ID's ping (from the broadcast's bytes, or for two anywhere when the caller expects
// new devices two to an address), asks the address alone until the line is quiet, and never
// sends over an answer; the address is reported as shared.
TEST_F(BusSweepTest, AWalkNeverPingsOverTheAnswersOfDevicesSharingAnAddress) {
    struct Case {
        const char* name;
        int devices;     // at code 1 ID 5, besides one at ID 9
        bool broadcast;  // a broadcast first (else a walk alone, room for two everywhere)
        bool arrivals;   // ID 5 is where new devices come, several at once
    };
    const Case cases[] = {
        {"two, after a broadcast", 2, true, false},
        {"three, after a broadcast", 3, true, false},
        {"two, a walk alone", 2, false, false},
        {"four where new devices come, a walk alone", 4, false, true},
        {"six where new devices come, a walk alone", 6, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SimDeviceSpec> devices = {simSpec(1, 9, 28)};
        for (int k = 0; k < c.devices; ++k) {
            devices.push_back(simSpec(1, 5, 28));
        }
        startRobotBus(devices);
        BusSweep sweep(*registry);
        CodeLook look;
        if (c.broadcast) {
            ASSERT_EQ(sweep.broadcast(1, look), Success);
        }
        ASSERT_EQ(sweep.walk(1, nullptr, look, !c.broadcast,
                             c.arrivals ? std::vector<int>{5} : std::vector<int>{}),
                  Success);
        const bool shared = std::count(look.garbled.begin(), look.garbled.end(), 5) +
                                std::count(look.repeated.begin(), look.repeated.end(), 5) !=
                            0;
        EXPECT_TRUE(shared);
        EXPECT_EQ(look.answered, std::vector<int>{9});
        EXPECT_EQ(talkOverViolations(sim->traffic()), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace mvx::test
