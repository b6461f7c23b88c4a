// Devices connected and disconnected at given times, and two devices at one address answering
// together.
#include <gtest/gtest.h>

#include "SimFixture.h"

namespace mvx::test {
namespace {

class SimScheduleTest : public SimFixture {};

SimDeviceSpec device(int code, int id, double appearS = 0, double disappearS = -1, int level = 2) {
    SimDeviceSpec s;
    s.code = static_cast<std::uint8_t>(code);
    s.id = static_cast<std::uint8_t>(id);
    s.returnLevel = static_cast<std::uint8_t>(level);
    s.appearAtUs = static_cast<std::int64_t>(appearS * 1e6);
    s.disappearAtUs = disappearS < 0 ? -1 : static_cast<std::int64_t>(disappearS * 1e6);
    return s;
}

// The schedule counts from the host's first write: the device with ID 2 is connected from
// 2 s to 5 s after it.
TEST_F(SimScheduleTest, ADeviceAnswersOnlyWhileItIsConnected) {
    BusDescription d;
    d.devices = {device(1, 1), device(1, 2, 2.0, 5.0)};
    clock.advanceUs(7000000);  // time before the first write does not count
    build(d);
    EXPECT_EQ(bus->find(1, 2), nullptr) << "not connected before the schedule begins";
    EXPECT_NE(bus->find(1, 1), nullptr);
    const std::int64_t origin = clock.nowUs();
    const struct {
        double atS;
        bool answers;
    } steps[] = {{0.0, false}, {1.999, false}, {2.0, true}, {4.99, true}, {5.0, false}, {9, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.atS);
        clock.advanceUs(origin + static_cast<std::int64_t>(step.atS * 1e6) - clock.nowUs());
        EXPECT_EQ(bus->find(1, 2) != nullptr, step.answers);
        EXPECT_EQ(ping(2), step.answers ? statusBytes(2) : Bytes{});
        EXPECT_EQ(ping(1), statusBytes(1)) << "the one there from the start stays";
    }
}

// Two devices at one address drive the line together when both answer: each reply reaches
// the host with a broken checksum. A broadcast's answers follow one another, whole.
TEST_F(SimScheduleTest, TwoDevicesAtOneAddressGarbleTheirReplies) {
    struct Case {
        const char* name;
        int secondLevel;
        Bytes request;
        std::size_t replyBytes;
        int wholeReplies;  // status packets with a right checksum among what came
        int brokenReplies;
    };
    const Case cases[] = {
        {"ping", 2, instructionBytes(1, 1), 12, 0, 2},
        {"read", 2, instructionBytes(1, 2, {3, 2}), 16, 0, 2},
        {"read, the second at level 0 (does not answer reads)", 0, instructionBytes(1, 2, {3, 2}),
         16, 1, 0},
        {"broadcast ping", 2, instructionBytes(254, 1), 12, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusDescription d;
        d.devices = {device(1, 1), device(1, 1, 0, -1, c.secondLevel)};
        build(d);
        const Bytes got = exchange(c.request, c.replyBytes, 40);
        int whole = 0;
        int broken = 0;
        for (std::size_t at = 0; at + 4 <= got.size();) {
            if (got[at] != 0xFF || at + got[at + 3] + 4u > got.size()) {
                break;
            }
            const std::size_t end = at + got[at + 3] + 4u;
            unsigned sum = 0;
            for (std::size_t i = at + 2; i + 1 < end; ++i) {
                sum += got[i];
            }
            (static_cast<std::uint8_t>(~sum) == got[end - 1] ? whole : broken) += 1;
            at = end;
        }
        EXPECT_EQ(whole, c.wholeReplies);
        EXPECT_EQ(broken, c.brokenReplies);
    }
}

}  // namespace
}  // namespace mvx::test
