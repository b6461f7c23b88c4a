// The robot flows' looks at the bus: a ping that could not be written is a failed look, never
// a look at which nobody answered.
#include <gtest/gtest.h>

#include <functional>

#include "RobotFixture.h"
#include "protocol/ResultCode.h"
#include "robot/BusSweep.h"

namespace mvx::test {
namespace {

class BusSweepTest : public RobotTest {};

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
