// Virtual devices answering packets as the host expects: levels, broadcast, rates, moves,
// register checks, timing and the traffic record.
#include "SimFixture.h"

namespace mvx::test {
namespace {

class SimDeviceTest : public SimFixture {};

TEST_F(SimDeviceTest, PingIsAnsweredAfterReturnDelayWireTimeAndUsbLatency) {
    EXPECT_EQ(hexString(ping(1)), "FF FF 01 02 00 FC");
    // 6 bytes out (60 us), return delay 250 x 2 us, 6 bytes back (60 us), 1 ms latency.
    EXPECT_EQ(clock.nowUs(), 60 + 500 + 60 + 1000);
}

TEST_F(SimDeviceTest, ReadReturnsTheControlTable) {
    // Read 17 bytes from address 0 of the LT-50+ (model 12, version 24) at ID 2.
    const Bytes reply = exchange(instructionBytes(2, 2, {0, 17}), 23);
    ASSERT_EQ(reply.size(), 23u);
    EXPECT_EQ(hexString(Bytes(reply.begin(), reply.begin() + 5)), "FF FF 02 13 00");
    EXPECT_EQ(reply[5], 12);    // model low
    EXPECT_EQ(reply[6], 0);     // model high
    EXPECT_EQ(reply[7], 24);    // version
    EXPECT_EQ(reply[8], 2);     // ID
    EXPECT_EQ(reply[9], 1);     // baud code
    EXPECT_EQ(reply[10], 250);  // return delay
    EXPECT_EQ(reply[21], 2);    // return level
    EXPECT_EQ(reply, statusBytes(2, 0, Bytes(reply.begin() + 5, reply.end() - 1)));
}

TEST_F(SimDeviceTest, ReturnLevelTwoAnswersWrites) {
    EXPECT_EQ(exchange(instructionBytes(1, 3, {25, 1}), 6), statusBytes(1, 0));
    EXPECT_EQ(dev(1, 1).reg(25), 1);
    // A 16-bit write, low byte first.
    EXPECT_EQ(exchange(instructionBytes(1, 3, {34, 0x00, 0x02}), 6), statusBytes(1, 0));
    EXPECT_EQ(dev(1, 1).reg16(34), 512);
    // Four bytes in one write: CW 0, CCW 0 (wheel mode).
    EXPECT_EQ(exchange(instructionBytes(1, 3, {6, 0, 0, 0, 0}), 6), statusBytes(1, 0));
    EXPECT_EQ(dev(1, 1).reg16(8), 0);
    // Instruction 7 is answered too.
    EXPECT_EQ(exchange(instructionBytes(1, 7), 6), statusBytes(1, 0));
}

TEST_F(SimDeviceTest, ReturnLevelOneAnswersPingAndReadButWritesTakeEffect) {
    setCode(34);
    EXPECT_EQ(ping(7), statusBytes(7, 0));
    EXPECT_EQ(exchange(instructionBytes(7, 2, {16, 1}), 7), statusBytes(7, 0, {1}));
    EXPECT_TRUE(exchange(instructionBytes(7, 3, {25, 1}), 6).empty());
    EXPECT_EQ(dev(34, 7).reg(25), 1);
    EXPECT_TRUE(exchange(instructionBytes(7, 7), 6).empty());
}

TEST_F(SimDeviceTest, ReturnLevelZeroAnswersOnlyPingButWritesTakeEffect) {
    EXPECT_EQ(ping(9), statusBytes(9, 0));
    EXPECT_TRUE(exchange(instructionBytes(9, 2, {0, 17}), 23).empty());
    EXPECT_TRUE(exchange(instructionBytes(9, 3, {25, 1}), 6).empty());
    EXPECT_EQ(dev(1, 9).reg(25), 1);
    // Raising the level: the write itself is judged by the old level (no reply), the next
    // read is answered.
    EXPECT_TRUE(exchange(instructionBytes(9, 3, {16, 2}), 6).empty());
    EXPECT_EQ(exchange(instructionBytes(9, 2, {16, 1}), 7), statusBytes(9, 0, {2}));
}

TEST_F(SimDeviceTest, BroadcastPingIsAnsweredByEveryDeviceAtThatRateWithoutOverlap) {
    send(instructionBytes(254, 1));
    clock.sleepMs(500);
    const Bytes replies = receive(128, 0);
    Bytes expected;
    for (std::uint8_t id : {1, 2, 3, 4, 9}) {
        const Bytes one = statusBytes(id, 0);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_EQ(hexString(replies), hexString(expected));

    std::vector<SimTraffic> answers;
    for (const auto& t : bus->traffic()) {
        if (t.direction == SimTraffic::BusToHost) {
            answers.push_back(t);
        }
    }
    ASSERT_EQ(answers.size(), 5u);
    for (std::size_t i = 1; i < answers.size(); ++i) {
        EXPECT_GT(answers[i].startUs, answers[i - 1].endUs) << "reply " << i << " overlaps";
    }
    // At code 34 the sensor and the level-1 actuator answer; nothing from code 1.
    setCode(34);
    send(instructionBytes(254, 1));
    clock.sleepMs(500);
    EXPECT_EQ(hexString(receive(128, 0)),
              hexString(statusBytes(7, 0)) + " " + hexString(statusBytes(100, 0)));
}

// With a broadcast spacing each device answers a broadcast ping that much later per unit of
// its ID, after its return delay (unless the answer before it still holds the wire); a ping to
// its own ID it answers at once.
TEST_F(SimDeviceTest, BroadcastAnswersAreSpacedOutByIdWhenTheBusSaysSo) {
    struct Case {
        std::int64_t spacingUs;
        int code;
        std::vector<std::int64_t> startsUs;  // of the answers, after the broadcast's end
    };
    const Case cases[] = {
        // 6 bytes take 60 us at code 1 and 1050 us at code 34; one idle byte between answers.
        {0, 1, {500, 570, 640, 710, 780}},
        {300, 1, {800, 1100, 1400, 1700, 3200}},
        {300, 34, {500 + 7 * 300, 500 + 100 * 300}},
        {1000, 34, {500 + 7 * 1000, 500 + 100 * 1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spacingUs);
        BusDescription description = SimulatedBus::defaultBus();
        description.broadcastSpacingUs = c.spacingUs;
        build(description);
        setCode(c.code);
        bus->clearTraffic();
        send(instructionBytes(254, 1));
        clock.sleepMs(500);
        const std::vector<SimTraffic> traffic = bus->traffic();
        ASSERT_EQ(traffic.size(), c.startsUs.size() + 1);
        for (std::size_t i = 0; i < c.startsUs.size(); ++i) {
            EXPECT_EQ(traffic[i + 1].startUs - traffic[0].endUs, c.startsUs[i]) << i;
        }
        // Addressed, the device with the highest ID answers after its return delay alone.
        bus->clearTraffic();
        const int id = c.code == 1 ? 9 : 100;
        send(instructionBytes(static_cast<std::uint8_t>(id), 1));
        clock.sleepMs(20);
        ASSERT_EQ(bus->traffic().size(), 2u);
        EXPECT_EQ(bus->traffic()[1].startUs - bus->traffic()[0].endUs, 500);
    }
}

TEST_F(SimDeviceTest, BroadcastWriteTakesEffectWithoutReply) {
    EXPECT_TRUE(exchange(instructionBytes(254, 3, {25, 1}), 6).empty());
    EXPECT_EQ(dev(1, 1).reg(25), 1);
    EXPECT_EQ(dev(1, 3).reg(25), 1);
    EXPECT_EQ(dev(34, 100).reg(25), 0);  // another rate
}

TEST_F(SimDeviceTest, DevicesHearOnlyTheirOwnRate) {
    setCode(34);
    EXPECT_TRUE(ping(1).empty());
    EXPECT_EQ(ping(100), statusBytes(100, 0));
    // The standard rate nearest to code 34 works as well.
    ASSERT_EQ(handle->setBaudRate(57600), FT_OK);
    EXPECT_EQ(ping(100), statusBytes(100, 0));
    // Code 2 (666666 bps) reaches nobody at code 1.
    setCode(2);
    EXPECT_TRUE(ping(1).empty());
    setCode(1);
    EXPECT_TRUE(ping(100).empty());
    EXPECT_EQ(ping(1), statusBytes(1, 0));
    // The slow device at code 207: 10 bit times are 1040 us per byte.
    setCode(207);
    const std::int64_t start = clock.nowUs();
    EXPECT_EQ(exchange(instructionBytes(21, 1), 6, 100), statusBytes(21, 0));
    EXPECT_EQ(clock.nowUs() - start, 6 * 1040 + 500 + 6 * 1040 + 1000);
}

// Every device at the rate takes the host's bytes as one stream: a packet may span writes
// (bytes less than 10 ms apart) and one write may carry two packets, but a stale fragment or
// noise at another rate in between loses the packet.
TEST_F(SimDeviceTest, PacketsSpanWritesButNotGapsOrNoise) {
    const Bytes ping1 = instructionBytes(1, 1);
    const Bytes head(ping1.begin(), ping1.begin() + 3);
    const Bytes tail(ping1.begin() + 3, ping1.end());
    send(head);
    send(tail);
    EXPECT_EQ(receive(6), statusBytes(1, 0));

    Bytes two = ping1;
    const Bytes ping2 = instructionBytes(2, 1);
    two.insert(two.end(), ping2.begin(), ping2.end());
    send(two);
    Bytes answers = statusBytes(1, 0);
    const Bytes answer2 = statusBytes(2, 0);
    answers.insert(answers.end(), answer2.begin(), answer2.end());
    EXPECT_EQ(receive(12), answers);

    send(head);
    clock.sleepMs(11);
    send(tail);
    EXPECT_TRUE(receive(6).empty()) << "a stale fragment";

    send(head);
    setCode(34);
    send({0x00});
    setCode(1);
    send(tail);
    EXPECT_TRUE(receive(6).empty()) << "noise at another rate";
    EXPECT_EQ(ping(1), statusBytes(1, 0));
}

TEST_F(SimDeviceTest, RepliesAtAnotherRateThanTheHostsAreNotReceived) {
    // The host changes rate before the reply comes: the reply is lost to it.
    send(instructionBytes(1, 1));
    setCode(34);
    EXPECT_TRUE(receive(6).empty());
    setCode(1);
    EXPECT_TRUE(receive(6).empty());
    // Bytes that were received before the change stay in the queue.
    send(instructionBytes(1, 1));
    clock.sleepUs(600 + 60);  // the reply's last bit is on the wire, the USB transfer is not
    setCode(34);
    EXPECT_EQ(receive(6), statusBytes(1, 0));
}

TEST_F(SimDeviceTest, IdAndBaudChangesMoveTheDeviceAfterItsReply) {
    EXPECT_EQ(exchange(instructionBytes(1, 3, {3, 50}), 6), statusBytes(1, 0));
    EXPECT_TRUE(ping(1).empty());
    EXPECT_EQ(ping(50), statusBytes(50, 0));
    EXPECT_EQ(dev(1, 50).reg(3), 50);

    EXPECT_EQ(exchange(instructionBytes(2, 3, {4, 3}), 6), statusBytes(2, 0));
    EXPECT_TRUE(ping(2).empty());
    setCode(3);
    EXPECT_EQ(ping(2), statusBytes(2, 0));
    EXPECT_EQ(dev(3, 2).code(), 3);
}

TEST_F(SimDeviceTest, RegisterChecksRejectWholeWrites) {
    // Read-only: model number, present position, registered instruction.
    EXPECT_EQ(exchange(instructionBytes(1, 3, {0, 5}), 6), statusBytes(1, InstructionError));
    EXPECT_EQ(exchange(instructionBytes(1, 3, {36, 0, 0}), 6), statusBytes(1, InstructionError));
    // Register 45 takes only keyed writes.
    EXPECT_EQ(exchange(instructionBytes(1, 3, {45, 10}), 6), statusBytes(1, InstructionError));
    EXPECT_EQ(dev(1, 1).reg(45), 0);
    // Out of range: goal 2000 on a 1023 model, return level 3, ID 254.
    EXPECT_EQ(exchange(instructionBytes(1, 3, {30, 0xD0, 0x07}), 6), statusBytes(1, RangeError));
    EXPECT_EQ(exchange(instructionBytes(1, 3, {16, 3}), 6), statusBytes(1, RangeError));
    EXPECT_EQ(exchange(instructionBytes(1, 3, {3, 254}), 6), statusBytes(1, RangeError));
    EXPECT_EQ(dev(1, 1).reg16(30), 512);
    EXPECT_EQ(dev(1, 1).reg(16), 2);
    // A write running from a writable into a read-only register writes nothing.
    EXPECT_EQ(exchange(instructionBytes(1, 3, {35, 1, 1}), 6), statusBytes(1, InstructionError));
    EXPECT_EQ(dev(1, 1).reg16(34), 1023);
    // Model 106 takes goals up to 4095.
    EXPECT_EQ(exchange(instructionBytes(3, 3, {30, 0xFF, 0x0F}), 6), statusBytes(3, 0));
    // Reads outside the table.
    EXPECT_EQ(exchange(instructionBytes(1, 2, {48, 3}), 6), statusBytes(1, RangeError));
    EXPECT_EQ(exchange(instructionBytes(1, 2, {250, 1}), 7), statusBytes(1, 0, {0}));
}

TEST_F(SimDeviceTest, BadChecksumAndUnknownInstructionsGetErrorBits) {
    Bytes bad = instructionBytes(1, 3, {25, 1});
    bad.back() ^= 0x01;
    EXPECT_EQ(exchange(bad, 6), statusBytes(1, ChecksumError));
    EXPECT_EQ(dev(1, 1).reg(25), 0);
    EXPECT_EQ(exchange(instructionBytes(1, 42), 6), statusBytes(1, InstructionError));
    EXPECT_EQ(exchange(instructionBytes(1, 2, {0}), 6), statusBytes(1, InstructionError));
    // A level-0 device answers a bad-checksum ping, not a bad-checksum read.
    Bytes badPing = instructionBytes(9, 1);
    badPing.back() ^= 0x01;
    EXPECT_EQ(exchange(badPing, 6), statusBytes(9, ChecksumError));
    Bytes badRead = instructionBytes(9, 2, {0, 1});
    badRead.back() ^= 0x01;
    EXPECT_TRUE(exchange(badRead, 6).empty());
}

TEST_F(SimDeviceTest, KeyedWriteNeedsTheKeyAndIsNeverAnswered) {
    EXPECT_TRUE(exchange(keyedBytes(1, 25, 1), 6).empty());
    EXPECT_EQ(dev(1, 1).reg(25), 1);
    Bytes wrongKey = instructionBytes(1, 13, {25, 0, 0x4D, 0x56, 0x58, 0x22});
    EXPECT_TRUE(exchange(wrongKey, 6).empty());
    EXPECT_EQ(dev(1, 1).reg(25), 1);
    EXPECT_TRUE(exchange(keyedBytes(1, 45, 10), 6).empty());
    EXPECT_EQ(exchange(instructionBytes(1, 2, {45, 1}), 7), statusBytes(1, 0, {10}));
}

TEST_F(SimDeviceTest, ReturnDelayIsTwoMicrosecondsPerUnit) {
    EXPECT_EQ(exchange(instructionBytes(1, 3, {5, 100}), 6), statusBytes(1, 0));
    bus->clearTraffic();
    const std::int64_t start = clock.nowUs();
    EXPECT_EQ(ping(1), statusBytes(1, 0));
    const auto traffic = bus->traffic();
    ASSERT_EQ(traffic.size(), 2u);
    EXPECT_EQ(traffic[0].startUs, start);
    EXPECT_EQ(traffic[1].startUs - traffic[0].endUs, 200);
}

TEST_F(SimDeviceTest, ReadsWaitForArrivalsOrTheTimeoutAndNeverLonger) {
    send(instructionBytes(1, 1));
    // Timeout 0: returns at once with nothing (the reply is still on the way).
    EXPECT_TRUE(receive(6, 0).empty());
    EXPECT_EQ(clock.nowUs(), 0);
    std::uint32_t queued = 99;
    ASSERT_EQ(handle->getQueueStatus(&queued), FT_OK);
    EXPECT_EQ(queued, 0u);
    // Asking for more than comes waits for the full timeout only.
    EXPECT_EQ(receive(10, 20).size(), 6u);
    EXPECT_EQ(clock.nowUs(), 20000);
    // A purge drops what has arrived.
    send(instructionBytes(1, 1));
    clock.sleepMs(5);
    ASSERT_EQ(handle->getQueueStatus(&queued), FT_OK);
    EXPECT_EQ(queued, 6u);
    ASSERT_EQ(handle->purge(FT_PURGE_RX), FT_OK);
    ASSERT_EQ(handle->getQueueStatus(&queued), FT_OK);
    EXPECT_EQ(queued, 0u);
}

TEST_F(SimDeviceTest, LongWritesReturnWhenTheAdapterBufferHasRoom) {
    setCode(34);
    const std::int64_t start = clock.nowUs();
    send(Bytes(100, 0x00));
    EXPECT_EQ(clock.nowUs(), start) << "fits the 128-byte transmit buffer";
    send(Bytes(1000, 0x00));
    // 1100 bytes queued at 57142 bps; the write returns with 128 bytes left to send.
    EXPECT_EQ(clock.nowUs() - start,
              SimulatedBus::wireTimeUs(1100, 57142) - SimulatedBus::wireTimeUs(128, 57142));
}

TEST_F(SimDeviceTest, TrafficRecordHoldsBothDirectionsWithRateAndTime) {
    clock.sleepMs(3);
    ping(2);
    setCode(34);
    ping(1);  // unanswered at this rate
    const auto traffic = bus->traffic();
    ASSERT_EQ(traffic.size(), 3u);
    EXPECT_EQ(traffic[0].direction, SimTraffic::HostToBus);
    EXPECT_EQ(hexString(traffic[0].bytes), "FF FF 02 02 01 FA");
    EXPECT_EQ(traffic[0].rateBps, 1000000u);
    EXPECT_EQ(traffic[0].startUs, 3000);
    EXPECT_EQ(traffic[0].endUs, 3060);
    EXPECT_EQ(traffic[0].deviceId, -1);
    EXPECT_EQ(traffic[1].direction, SimTraffic::BusToHost);
    EXPECT_EQ(hexString(traffic[1].bytes), "FF FF 02 02 00 FB");
    EXPECT_EQ(traffic[1].deviceId, 2);
    EXPECT_EQ(traffic[1].rateBps, 1000000u);
    EXPECT_TRUE(traffic[1].heardByHost);
    EXPECT_EQ(traffic[2].rateBps, 57142u);
    bus->clearTraffic();
    EXPECT_TRUE(bus->traffic().empty());
}

}  // namespace
}  // namespace mvx::test
