#include "protocol/Transaction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/Bytes.h"
#include "support/ScriptedDriver.h"

namespace mvx {
namespace {

using test::Bytes;
using test::hexBytes;
using test::hexString;
using test::ScriptedDriver;
using test::statusBytes;
using Calls = std::vector<std::string>;

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        link = AdapterLink::open(driver, clock, 0, 1);
        ASSERT_NE(link, nullptr);
        driver.clearCalls();
    }

    std::string lastWrite() const { return hexString(driver.lastWrite()); }

    VirtualClock clock;
    ScriptedDriver driver{clock};
    std::unique_ptr<AdapterLink> link;
};

TEST_F(TransactionTest, PingSendsRequestAndReadsHeaderThenBody) {
    driver.queueReply(statusBytes(1));
    EXPECT_EQ(ping(*link, 1), Success);
    EXPECT_EQ(driver.calls(), (Calls{"write(FF FF 01 02 01 FB)", "setTimeouts(20,0)", "read(4)",
                                     "setTimeouts(20,0)", "read(2)"}));
    EXPECT_EQ(link->busy().load(), 0);
}

TEST_F(TransactionTest, ReadCopiesTheReturnedBytes) {
    driver.queueReply(statusBytes(5, 0, {0x34, 0x12}));
    std::uint8_t out[2] = {};
    EXPECT_EQ(readBlock(*link, 5, 36, 2, out), Success);
    EXPECT_EQ(driver.writes().front(), hexBytes("FF FF 05 04 02 24 02 CE"));
    EXPECT_EQ(out[0], 0x34);
    EXPECT_EQ(out[1], 0x12);

    driver.queueReply(statusBytes(5, 0, {0x77}));
    std::uint8_t one = 0;
    EXPECT_EQ(readByte(*link, 5, 3, one), Success);
    EXPECT_EQ(one, 0x77);
}

TEST_F(TransactionTest, FailedReadLeavesTheOutputAlone) {
    std::uint8_t out[2] = {0xAA, 0xBB};
    EXPECT_EQ(readBlock(*link, 5, 36, 2, out), Timeout);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_EQ(out[1], 0xBB);
}

// A broadcast read gets no reply, so there is nothing to copy: not even for a length past the
// parameter area (the copy used to read beyond it).
TEST_F(TransactionTest, BroadcastReadLeavesTheOutputAlone) {
    std::vector<std::uint8_t> out(255, 0xAA);
    EXPECT_EQ(readBlock(*link, kBroadcastId, 0, 255, out.data()), Success);
    EXPECT_EQ(out, std::vector<std::uint8_t>(255, 0xAA));
}

TEST_F(TransactionTest, WritesAreLittleEndian) {
    driver.queueReply(statusBytes(1));
    EXPECT_EQ(writeWord(*link, 1, 30, 512), Success);
    EXPECT_EQ(lastWrite(), "FF FF 01 05 03 1E 00 02 D6");

    driver.queueReply(statusBytes(2));
    EXPECT_EQ(writeByte(*link, 2, 25, 1), Success);
    EXPECT_EQ(lastWrite(), "FF FF 02 04 03 19 01 DC");

    driver.queueReply(statusBytes(2));
    EXPECT_EQ(instruction7(*link, 2), Success);
    EXPECT_EQ(lastWrite(), "FF FF 02 02 07 F4");
}

TEST_F(TransactionTest, BroadcastReturnsAfterTheWrite) {
    driver.queueReply(statusBytes(1));  // must stay unread
    const auto before = clock.nowUs();
    EXPECT_EQ(ping(*link, kBroadcastId), Success);
    EXPECT_EQ(driver.calls(), Calls{"write(FF FF FE 02 01 FE)"});
    EXPECT_EQ(clock.nowUs(), before);
    EXPECT_EQ(link->busy().load(), 0);
}

TEST_F(TransactionTest, RepliesFromOtherDevicesAreSkipped) {
    driver.queueReply(statusBytes(7));
    EXPECT_EQ(ping(*link, 3), Timeout);
    EXPECT_EQ(driver.count("read"), 3);  // header, body, then nothing
    EXPECT_EQ(link->purgePending().load(), 1);

    Bytes replies = statusBytes(7);
    const Bytes wrongLength = statusBytes(3, 0, {0x01});
    const Bytes match = statusBytes(3, 0x20);
    replies.insert(replies.end(), wrongLength.begin(), wrongLength.end());
    replies.insert(replies.end(), match.begin(), match.end());
    driver.queueReply(replies);
    StatusPacket status;
    EXPECT_EQ(transact(*link, InstructionPacket::make(3, Ping), status), Success);
    EXPECT_EQ(status.id, 3);
    EXPECT_EQ(status.error, 0x20);
    EXPECT_EQ(status.parameterCount, 0);
}

TEST_F(TransactionTest, ChecksumAndHeaderFaults) {
    Bytes bad = statusBytes(1);
    bad.back() ^= 0x01;
    driver.queueReply(bad);
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    EXPECT_EQ(link->purgePending().load(), 0);

    driver.queueReply(hexBytes("FF FE 01 02 00 FC"));
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    EXPECT_EQ(link->purgePending().load(), 1);
}

TEST_F(TransactionTest, PartialRepliesAreCorrupt) {
    driver.queueReply(hexBytes("FF FF"));
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    EXPECT_EQ(link->purgePending().load(), 1);

    driver.queueReply(hexBytes("FF FF 01 04 00"));
    EXPECT_EQ(ping(*link, 1), CorruptReply);
    EXPECT_EQ(link->purgePending().load(), 1);
}

TEST_F(TransactionTest, NoReplyTimesOutAfterTheComputedWait) {
    const auto before = clock.nowUs();
    EXPECT_EQ(ping(*link, 1), Timeout);
    EXPECT_EQ(clock.nowUs() - before, 20000);
    EXPECT_EQ(link->purgePending().load(), 1);
    EXPECT_EQ(link->busy().load(), 0);
}

TEST_F(TransactionTest, NextSendAfterABadReplyPurgesStaleInput) {
    link->purgePending().store(1);
    driver.queueRx(hexBytes("00 11"));  // stale
    driver.queueReply(statusBytes(1));
    EXPECT_EQ(ping(*link, 1), Success);
    EXPECT_EQ(driver.calls(),
              (Calls{"getQueueStatus()", "purge(1)", "write(FF FF 01 02 01 FB)",
                     "setTimeouts(20,0)", "read(4)", "setTimeouts(20,0)", "read(2)"}));
    EXPECT_EQ(link->purgePending().load(), 0);

    // An empty queue is not purged; the flag is cleared all the same.
    link->purgePending().store(1);
    driver.clearCalls();
    driver.queueReply(statusBytes(1));
    EXPECT_EQ(ping(*link, 1), Success);
    EXPECT_EQ(driver.calls().at(0), "getQueueStatus()");
    EXPECT_EQ(driver.calls().at(1), "write(FF FF 01 02 01 FB)");
    EXPECT_EQ(link->purgePending().load(), 0);

    // A failed queue query skips the purge.
    link->purgePending().store(1);
    driver.queueRx(hexBytes("00"));
    driver.failNext("getQueueStatus", FT_OTHER_ERROR);
    EXPECT_EQ(ping(*link, 1), CorruptReply);  // the stale byte stays in the way
    EXPECT_EQ(driver.count("purge"), 0);
}

TEST_F(TransactionTest, BroadcastSendLeavesPurgePending) {
    link->purgePending().store(1);
    EXPECT_EQ(sendPacket(*link, InstructionPacket::make(kBroadcastId, Ping)), Success);
    EXPECT_EQ(driver.calls(), Calls{"write(FF FF FE 02 01 FE)"});
    EXPECT_EQ(link->purgePending().load(), 1);
}

TEST_F(TransactionTest, SendRefusesWhileTheLinkIsHeld) {
    link->busy().store(1);
    EXPECT_EQ(sendPacket(*link, InstructionPacket::make(1, Ping)), Busy);
    EXPECT_EQ(keyedWrite(*link, 1, 3, 9), Busy);
    EXPECT_TRUE(driver.calls().empty());
    EXPECT_EQ(link->busy().load(), 1);  // not ours to release
}

TEST_F(TransactionTest, BareSendReleasesTheLink) {
    EXPECT_EQ(sendPacket(*link, InstructionPacket::make(1, Ping)), Success);
    EXPECT_EQ(link->busy().load(), 0);
    driver.failNext("write", FT_IO_ERROR);
    EXPECT_EQ(sendPacket(*link, InstructionPacket::make(1, Ping)), AdapterFailure);
    EXPECT_EQ(link->busy().load(), 0);
}

TEST_F(TransactionTest, FailuresReleaseTheLink) {
    driver.limitNextWrite(3);
    EXPECT_EQ(ping(*link, 1), WriteIncomplete);
    EXPECT_EQ(link->busy().load(), 0);
    EXPECT_EQ(driver.count("read"), 0);

    driver.queueReply(statusBytes(1));
    driver.failNext("read", FT_IO_ERROR);
    EXPECT_EQ(ping(*link, 1), AdapterFailure);
    EXPECT_EQ(link->busy().load(), 0);

    driver.queueReply(statusBytes(1));
    driver.failNext("read", FT_IO_ERROR, 2);  // the body read
    EXPECT_EQ(ping(*link, 1), AdapterFailure);
}

TEST_F(TransactionTest, TransactionWaitsForAHeldLink) {
    link->busy().store(1);
    driver.queueReply(statusBytes(1));
    std::atomic<int> result{0};
    std::thread worker([&] { result = ping(*link, 1); });
    while (clock.nowUs() < 5000 + 200000) {  // a few 1 ms looks
        std::this_thread::yield();
    }
    EXPECT_EQ(result.load(), 0);
    EXPECT_TRUE(driver.calls().empty());
    link->busy().store(0);
    worker.join();
    EXPECT_EQ(result.load(), Success);
}

TEST_F(TransactionTest, KeyedWriteSendsTheKeyAndReadsBack) {
    driver.queueRx(statusBytes(1, 0, {0x09}), 2);  // answers the read-back
    const auto before = clock.nowUs();
    EXPECT_EQ(keyedWrite(*link, 1, 3, 9), Success);
    EXPECT_EQ(clock.nowUs() - before, 10000);
    const auto writes = driver.writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(hexString(writes[0]), "FF FF 01 08 0D 03 09 4D 56 58 21 C1");
    EXPECT_EQ(hexString(writes[1]), "FF FF 01 04 02 03 01 F4");
    // No reply is read for the keyed write itself.
    EXPECT_EQ(driver.calls().at(1), "write(FF FF 01 04 02 03 01 F4)");

    driver.queueRx(statusBytes(1, 0, {0x08}), 2);
    EXPECT_EQ(keyedWrite(*link, 1, 3, 9), Timeout);

    EXPECT_EQ(keyedWrite(*link, 1, 3, 9), Timeout);  // nobody answers
    driver.failNext("write", FT_IO_ERROR);
    EXPECT_EQ(keyedWrite(*link, 1, 3, 9), AdapterFailure);
}

// A status packet whose LEN cannot describe a valid body is refused without touching
// memory past the parameter area, and what is left of it does not spoil the next exchange.
TEST_F(TransactionTest, OutOfRangeLengthIsCorruptAndDrained) {
    for (int len : {0, 1, 153, 255}) {
        SCOPED_TRACE(len);
        Bytes reply = {0xFF, 0xFF, 0x01, static_cast<std::uint8_t>(len)};
        reply.resize(4 + static_cast<std::size_t>(len) + 7, 0x5A);  // body and some trailing junk
        driver.queueReply(reply);
        StatusPacket status;
        status.parameterCount = 0xEE;
        EXPECT_EQ(transact(*link, InstructionPacket::make(1, Ping), status), CorruptReply);
        EXPECT_EQ(status.parameterCount, 0xEE);
        EXPECT_EQ(link->purgePending().load(), 1);

        driver.queueReply(statusBytes(1));
        EXPECT_EQ(ping(*link, 1), Success);
        EXPECT_EQ(driver.rxReadable(), 0u);
    }
}

TEST_F(TransactionTest, FullParameterAreaIsAccepted) {
    Bytes data(150);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    driver.queueReply(statusBytes(2, 0, data));
    StatusPacket status;
    EXPECT_EQ(transact(*link, InstructionPacket::make(2, Read, {0, 150}), status), Success);
    EXPECT_EQ(status.parameterCount, 150);
    EXPECT_EQ(status.parameters[149], 149);
}

TEST_F(TransactionTest, UntimedReceiveWaitsOneMillisecond) {
    StatusPacket status;
    const auto before = clock.nowUs();
    EXPECT_EQ(receivePacket(*link, status, false), Timeout);
    EXPECT_EQ(clock.nowUs() - before, 1000);
    EXPECT_EQ(driver.calls(), (Calls{"setTimeouts(1,0)", "read(4)"}));
}

// Two threads share one link; the busy flag keeps each request paired with its own reply.
TEST_F(TransactionTest, ConcurrentTransactionsStayPaired) {
    driver.setResponder([](const Bytes& written) {
        if (written.size() == 6 && written[4] == Ping) {
            return statusBytes(written[2]);
        }
        return Bytes{};
    });
    constexpr int kRounds = 300;
    std::atomic<int> failures{0};
    auto run = [&](std::uint8_t id) {
        for (int i = 0; i < kRounds; ++i) {
            if (ping(*link, id) != Success) {
                ++failures;
            }
        }
    };
    std::thread a(run, 1);
    std::thread b(run, 2);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(driver.count("write"), 2 * kRounds);
    EXPECT_EQ(link->busy().load(), 0);
}

}  // namespace
}  // namespace mvx
