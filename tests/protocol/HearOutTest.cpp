// A reply that goes wrong part-way leaves the rest of it on the wire: the exchange hears the line
// out before it returns, so the next packet (a retry, a ping of another device, a rate change)
// never goes out over it. Each kind of failure on the simulated bus, at a fast and a slow rate,
// with a long read, then at once a ping of another device.
#include <gtest/gtest.h>

#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "support/SimRegistry.h"
#include "support/TalkOver.h"

namespace mvx::test {
namespace {

class HearOutTest : public SimRegistryTest {};

TEST_F(HearOutTest, NoPacketGoesOutOverTheRestOfABrokenReply) {
    struct Case {
        const char* name;
        SimFaults faults;
        int result;  // of the read
    };
    SimFaults noise;
    noise.noiseBytes = 1;
    SimFaults truncated;
    truncated.truncateReply = true;
    SimFaults checksum;
    checksum.corruptChecksum = true;
    SimFaults dropped;
    dropped.dropReply = true;
    SimFaults late;
    late.extraDelayUs = 100000;  // past the read timeout
    const Case cases[] = {
        {"noise before the reply", noise, CorruptReply},
        {"the reply cut short", truncated, CorruptReply},
        {"a wrong checksum", checksum, CorruptReply},
        {"no reply", dropped, Timeout},
        {"a reply past the read timeout", late, Timeout},
    };
    for (const int code : {1, 103, 207}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " at code " + std::to_string(code));
            start({simSpec(code, 7, 28), simSpec(code, 8, 28)});
            dev(code, 7).setFaults(c.faults);
            ASSERT_EQ(registry->bus().tune(static_cast<std::uint8_t>(code)), Success);
            const std::shared_ptr<AdapterLink> link = registry->bus().link();
            ASSERT_NE(link, nullptr);
            std::uint8_t table[50] = {};
            EXPECT_EQ(readBlock(*link, 7, 0, 50, table), c.result);
            EXPECT_EQ(ping(*link, 8), Success) << "the next exchange goes through";
            if (c.faults.extraDelayUs == 0) {
                EXPECT_EQ(talkOverViolations(sim->traffic()), std::vector<std::string>{});
            }
        }
    }
}

// A reply that came 250 ms late, past its read's timeout, is not taken for the answer of a
// later read of the same device (same ID, same length, stale data): not when it waits in the
// input as the read is sent, nor when it reaches the host just after. At a slow rate the late
// reply's last bytes may still be on their way as the read goes out: the read then fails, and
// hands out nothing. The next packet never goes out over the read's own answer.
TEST_F(HearOutTest, ALateReplyIsNotTakenForALaterReadsAnswer) {
    struct Case {
        const char* name;
        int code;
        std::int64_t afterUs;  // the later read goes out this long after the late reply's end
        int result;
    };
    const Case cases[] = {
        {"in the input as the read goes out", 1, 1500, Success},
        {"in the input as the read goes out", 103, 1500, Success},
        {"reaching the host just after the read went out", 1, 100, Success},
        {"its last bytes reaching the host after the read went out", 103, 100, CorruptReply},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at code " + std::to_string(c.code));
        start({simSpec(c.code, 7, 28), simSpec(c.code, 8, 28)});
        SimFaults late;
        late.extraDelayUs = 250000;
        dev(c.code, 7).setFaults(late);
        ASSERT_EQ(registry->bus().tune(static_cast<std::uint8_t>(c.code)), Success);
        const std::shared_ptr<AdapterLink> link = registry->bus().link();
        ASSERT_NE(link, nullptr);
        std::uint8_t table[50] = {};
        ASSERT_EQ(readBlock(*link, 7, 0, 50, table), Timeout);
        dev(c.code, 7).setFaults({});
        ASSERT_EQ(writeByte(*link, 7, 25, 1), Success);  // the LED on: the late reply has it off
        std::int64_t lateEndUs = -1;
        for (const SimTraffic& t : sim->traffic()) {
            if (t.direction == SimTraffic::BusToHost && t.bytes.size() == 56) {
                lateEndUs = t.endUs;
            }
        }
        ASSERT_GT(lateEndUs, clock.nowUs());
        clock.sleepUntilUs(lateEndUs + c.afterUs);
        sim->clearTraffic();
        std::uint8_t again[50] = {};
        EXPECT_EQ(readBlock(*link, 7, 0, 50, again), c.result);
        EXPECT_EQ(again[25], c.result == Success ? 1 : 0) << "the late reply's data";
        EXPECT_EQ(ping(*link, 8), Success);
        EXPECT_EQ(talkOverViolations(sim->traffic()), std::vector<std::string>{});
    }
}

// Late replies in a chain: a read whose own answer is late again takes the earlier read's late
// answer, which comes later than its own could have; the exchanges that follow then look out
// for its own late answer, past the window the first one opened.
TEST_F(HearOutTest, AnAnswerLaterThanItCouldBeKeepsLookingOutForLateOnes) {
    start({simSpec(1, 7, 28)});
    SimFaults late;
    late.extraDelayUs = 400000;
    dev(1, 7).setFaults(late);
    ASSERT_EQ(registry->bus().tune(1), Success);
    const std::shared_ptr<AdapterLink> link = registry->bus().link();
    ASSERT_NE(link, nullptr);
    const auto lateEnds = [this] {
        std::vector<std::int64_t> ends;
        for (const SimTraffic& t : sim->traffic()) {
            if (t.direction == SimTraffic::BusToHost && t.bytes.size() == 56) {
                ends.push_back(t.endUs);
            }
        }
        return ends;
    };
    std::uint8_t table[50] = {};
    ASSERT_EQ(readBlock(*link, 7, 0, 50, table), Timeout);
    ASSERT_EQ(lateEnds().size(), 1u);
    clock.sleepUntilUs(lateEnds()[0] - 10000);
    EXPECT_EQ(readBlock(*link, 7, 0, 50, table), Success);  // the first one's late answer
    dev(1, 7).setFaults({});
    ASSERT_EQ(writeByte(*link, 7, 25, 1), Success);  // the LED on: the late answers have it off
    ASSERT_EQ(lateEnds().size(), 2u);
    clock.sleepUntilUs(lateEnds()[1] + 1500);  // the second's late answer waits in the input
    std::uint8_t fresh[50] = {};
    EXPECT_EQ(readBlock(*link, 7, 0, 50, fresh), Success);
    EXPECT_EQ(fresh[25], 1) << "a late reply's data";
}

}  // namespace
}  // namespace mvx::test
