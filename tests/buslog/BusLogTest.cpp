// The bus log on the simulated bus: its packets against the bus's own traffic record, byte for
// byte, for a search, a write and failed exchanges; the lines of failures and events; the
// store's bound; a reader on another thread while the bus runs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "buslog/BusLog.h"
#include "buslog/BusLogText.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "protocol/Transaction.h"
#include "search/SearchEngine.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx {
namespace {

BusDescription twoDevices() {
    BusDescription description;
    SimDeviceSpec first;
    first.id = 1;
    first.code = 1;
    first.model = 28;
    SimDeviceSpec second;
    second.id = 7;
    second.code = 34;
    second.model = 12;
    description.devices = {first, second};
    return description;
}

class BusLogTest : public ::testing::Test {
protected:
    explicit BusLogTest(std::size_t capacity = BusLogStore::kDefaultCapacity)
        : bus(twoDevices(), clock), driver(bus), registry(driver, clock), log(clock, capacity) {
        log.setLineSink([this](const std::string& line) { lines.push_back(line); });
        registry.bus().setTap(&log);
        EXPECT_TRUE(registry.bus().open(0));
    }

    AdapterLink& link() { return *registry.bus().link(); }

    // The log's packets of one direction against the traffic record of that direction: host
    // writes one for one, device bytes as one stream (the host reads a reply in pieces).
    void expectLogMatchesTraffic() {
        std::vector<std::vector<std::uint8_t>> logHost;
        std::vector<std::uint8_t> logDevice;
        for (const BusLogEntry& e : log.store().since(0)) {
            if (e.kind == LogKind::HostPacket) {
                logHost.push_back(e.bytes);
            } else if (e.kind == LogKind::DevicePacket) {
                logDevice.insert(logDevice.end(), e.bytes.begin(), e.bytes.end());
            }
        }
        std::vector<std::vector<std::uint8_t>> wireHost;
        std::vector<std::uint8_t> wireDevice;
        for (const SimTraffic& t : bus.traffic()) {
            if (t.direction == SimTraffic::HostToBus) {
                wireHost.push_back(t.bytes);
            } else if (t.heardByHost) {
                wireDevice.insert(wireDevice.end(), t.bytes.begin(), t.bytes.end());
            }
        }
        EXPECT_EQ(logHost, wireHost);
        EXPECT_EQ(hexBytes(logDevice), hexBytes(wireDevice));
    }

    // The lines without their times, from the `first`th on.
    std::vector<std::string> untimed(std::size_t first = 0) const {
        std::vector<std::string> out;
        for (std::size_t i = first; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const std::size_t at = line[0] == '#' ? 2 : 0;
            const std::size_t space = line.find(' ', at);
            out.push_back(line.substr(0, at) + line.substr(space + 1, line.size() - space - 2));
        }
        return out;
    }

    VirtualClock clock;
    SimulatedBus bus;
    SimDriver driver;
    DeviceRegistry registry;
    BusLog log;
    std::vector<std::string> lines;
};

TEST_F(BusLogTest, OpeningShowsTheLinkEventsInOrder) {
    EXPECT_EQ(untimed(), (std::vector<std::string>{
                             "# rate code=1 (1000000 bps)",
                             "# settle 100000 us",
                             "# bit-mode on",
                             "# settle 100000 us",
                             "# purge",
                             "# purge",
                         }));
    EXPECT_EQ(lines[2].substr(0, 9), "# 100000 ");  // microseconds since the log began
}

TEST_F(BusLogTest, SearchMatchesTheTrafficRecordByteForByte) {
    bus.clearTraffic();
    ASSERT_EQ(SearchEngine(registry).search(QuickSearch), Success);
    EXPECT_EQ(registry.deviceCount(), 2);
    expectLogMatchesTraffic();
    // Every unanswered ping is a line of its own; every answered one its status.
    int timeouts = 0;
    int statuses = 0;
    for (const BusLogEntry& e : log.store().since(0)) {
        timeouts += e.state == PacketState::NoReply ? 1 : 0;
        statuses += e.kind == LogKind::DevicePacket && e.state == PacketState::Whole ? 1 : 0;
    }
    EXPECT_GT(timeouts, 0);
    EXPECT_GE(statuses, 2);
}

TEST_F(BusLogTest, ExchangesAndFailuresAsLines) {
    struct Case {
        const char* name;
        SimFaults faults;
        int result;
        std::vector<std::string> lines;
    };
    SimFaults none;
    SimFaults drop;
    drop.dropReply = true;
    SimFaults truncate;
    truncate.truncateReply = true;
    SimFaults checksum;
    checksum.corruptChecksum = true;
    SimFaults errors;
    errors.errorBits = OverloadError | OverheatingError;
    const std::vector<Case> cases = {
        {"write",
         none,
         Success,
         {"> code=1 FF FF 01 05 03 1E 00 02 D6 | ID 1 WRITE goal-position=512",
          "< code=1 FF FF 01 02 00 FC | ID 1 status no error"}},
        {"timeout",
         drop,
         Timeout,
         {"> code=1 FF FF 01 05 03 1E 00 02 D6 | ID 1 WRITE goal-position=512",
          "< code=1 | no reply [103 timeout]"}},
        {"truncated",
         truncate,
         CorruptReply,
         {"> code=1 FF FF 01 05 03 1E 00 02 D6 | ID 1 WRITE goal-position=512",
          "< code=1 FF FF 01 | incomplete packet (3 bytes) [104 corrupt]"}},
        {"checksum",
         checksum,
         CorruptReply,
         {"> code=1 FF FF 01 05 03 1E 00 02 D6 | ID 1 WRITE goal-position=512",
          "< code=1 FF FF 01 02 00 03 | ID 1 status no error, bad checksum [104 checksum]"}},
        {"error bits",
         errors,
         Success,
         {"> code=1 FF FF 01 05 03 1E 00 02 D6 | ID 1 WRITE goal-position=512",
          "< code=1 FF FF 01 02 24 D8 | ID 1 status error=overload,overheating"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bus.setFaults(c.faults);
        bus.clearTraffic();
        const std::size_t first = lines.size();
        const std::uint64_t sequence = log.store().nextSequence();
        EXPECT_EQ(writeWord(link(), 1, 30, 512), c.result);
        // The purge a failure asks for comes with the next send: not part of this exchange.
        EXPECT_EQ(untimed(first), c.lines);
        std::vector<std::uint8_t> device;
        for (const BusLogEntry& e : log.store().since(sequence)) {
            if (e.kind == LogKind::DevicePacket) {
                device.insert(device.end(), e.bytes.begin(), e.bytes.end());
            }
        }
        std::vector<std::uint8_t> wire;
        for (const SimTraffic& t : bus.traffic()) {
            if (t.direction == SimTraffic::BusToHost) {
                wire.insert(wire.end(), t.bytes.begin(), t.bytes.end());
            }
        }
        EXPECT_EQ(hexBytes(device), hexBytes(wire));
    }
}

TEST_F(BusLogTest, ReadRepliesAreNamedByTheReadTheyAnswer) {
    std::uint8_t out[2] = {};
    const std::size_t first = lines.size();
    ASSERT_EQ(readBlock(link(), 1, 36, 2, out), Success);
    const int position = out[0] | (out[1] << 8);
    const std::vector<std::string> got = untimed(first);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "> code=1 FF FF 01 04 02 24 02 D2 | ID 1 READ 36 present-position 2 bytes");
    EXPECT_NE(got[1].find("| ID 1 status no error present-position=" + std::to_string(position)),
              std::string::npos)
        << got[1];
}

TEST_F(BusLogTest, RateChangesAndPurgesAreEventLines) {
    const std::size_t first = lines.size();
    ASSERT_EQ(link().setBaudCode(34, 5000), Success);
    link().purgeReceive();
    EXPECT_EQ(untimed(first), (std::vector<std::string>{"# rate code=34 (57142 bps)",
                                                        "# settle 5000 us", "# purge"}));
    const BusLogEntry last = log.store().since(log.store().nextSequence() - 1).front();
    EXPECT_EQ(last.kind, LogKind::Event);
    EXPECT_EQ(last.code, 34);
}

class BoundedBusLogTest : public BusLogTest {
protected:
    BoundedBusLogTest() : BusLogTest(8) {}
};

TEST_F(BoundedBusLogTest, TheStoreKeepsTheLastEntriesAndTheFileGetsAll) {
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(ping(link(), 1), Success);
    }
    const std::uint64_t total = log.store().nextSequence();
    EXPECT_EQ(total, 6u + 20u);  // opening events, then 10 pings and their statuses
    EXPECT_EQ(log.store().size(), 8u);
    EXPECT_EQ(log.store().dropped(), total - 8);
    const std::vector<BusLogEntry> kept = log.store().since(0);
    ASSERT_EQ(kept.size(), 8u);
    EXPECT_EQ(kept.front().sequence, total - 8);
    EXPECT_EQ(kept.back().sequence, total - 1);
    EXPECT_EQ(log.store().since(total - 3, 2).size(), 2u);
    EXPECT_TRUE(log.store().since(total).empty());
    EXPECT_EQ(lines.size(), total);  // the sink is not bounded by the store
}

TEST_F(BusLogTest, AReaderOnAnotherThreadFollowsWhileTheBusRuns) {
    std::atomic<bool> done{false};
    std::uint64_t seen = 0;
    bool ordered = true;
    std::thread reader([&] {
        while (!done.load()) {
            for (const BusLogEntry& e : log.store().since(seen)) {
                ordered = ordered && e.sequence >= seen;
                seen = e.sequence + 1;
                formatEntry(e);
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        ping(link(), static_cast<std::uint8_t>(1 + i % 3));
    }
    done.store(true);
    reader.join();
    EXPECT_TRUE(ordered);
    EXPECT_LE(seen, log.store().nextSequence());
}

}  // namespace
}  // namespace mvx
