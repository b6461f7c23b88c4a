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

}  // namespace
}  // namespace mvx::test
