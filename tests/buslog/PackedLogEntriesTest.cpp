// Packed bus log entries read back exactly as they were added, through drops from the front
// and clears, for every kind of entry and the extremes of every field.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "buslog/BusLogStore.h"
#include "buslog/PackedLogEntries.h"
#include "buslog/PacketCutter.h"

namespace mvx {
namespace {

void expectSame(const BusLogEntry& got, const BusLogEntry& want) {
    EXPECT_EQ(got.sequence, want.sequence);
    EXPECT_EQ(got.timeUs, want.timeUs);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.code, want.code);
    EXPECT_EQ(got.bytes, want.bytes);
    EXPECT_EQ(got.state, want.state);
    EXPECT_EQ(got.result, want.result);
    EXPECT_EQ(got.asked, want.asked);
    EXPECT_EQ(got.readAddress, want.readAddress);
    EXPECT_EQ(got.event.kind, want.event.kind);
    EXPECT_EQ(got.event.code, want.event.code);
    EXPECT_EQ(got.event.waitUs, want.event.waitUs);
    EXPECT_EQ(got.event.on, want.event.on);
}

BusLogEntry packet(std::uint64_t sequence, LogKind kind, std::vector<std::uint8_t> bytes) {
    BusLogEntry entry;
    entry.sequence = sequence;
    entry.timeUs = static_cast<std::int64_t>(sequence) * 1041;
    entry.kind = kind;
    entry.code = 1;
    entry.bytes = std::move(bytes);
    return entry;
}

// One entry of each kind, with every field away from its default somewhere.
std::vector<BusLogEntry> everyKind() {
    std::vector<BusLogEntry> entries;
    entries.push_back(packet(0, LogKind::HostPacket, {0xFF, 0xFF, 1, 2, 1, 0xFB}));
    BusLogEntry reply = packet(1, LogKind::DevicePacket, {0xFF, 0xFF, 1, 3, 0, 0x20, 0xDB});
    reply.readAddress = 36;
    reply.state = PacketState::BadChecksum;
    reply.result = 103;
    entries.push_back(reply);
    BusLogEntry silence = packet(2, LogKind::DevicePacket, {});
    silence.state = PacketState::NoReply;
    silence.result = 102;
    entries.push_back(silence);
    BusLogEntry shortWrite = packet(3, LogKind::HostPacket, {0xFF, 0xFF});
    shortWrite.asked = std::numeric_limits<std::uint32_t>::max();
    shortWrite.code = 254;
    entries.push_back(shortWrite);
    BusLogEntry longest =
        packet(4, LogKind::DevicePacket, std::vector<std::uint8_t>(PacketCutter::kMaxPiece, 0xA5));
    longest.state = PacketState::NotAPacket;
    entries.push_back(longest);
    BusLogEntry rate;
    rate.sequence = 5;
    rate.timeUs = std::numeric_limits<std::int64_t>::max();
    rate.event.kind = LinkEvent::Kind::RateChange;
    rate.event.code = 207;
    entries.push_back(rate);
    BusLogEntry settle;
    settle.sequence = 6;
    settle.event.kind = LinkEvent::Kind::SettleWait;
    settle.event.waitUs = 500000;
    entries.push_back(settle);
    BusLogEntry bitMode;
    bitMode.sequence = std::numeric_limits<std::uint64_t>::max();
    bitMode.code = -1;
    bitMode.event.kind = LinkEvent::Kind::BitMode;
    bitMode.event.on = true;
    entries.push_back(bitMode);
    return entries;
}

TEST(PackedLogEntries, ReadsBackEveryKindOfEntryExactly) {
    PackedLogEntries packed;
    const std::vector<BusLogEntry> entries = everyKind();
    for (const BusLogEntry& entry : entries) {
        packed.push_back(entry);
    }
    ASSERT_EQ(packed.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        expectSame(packed.at(i), entries[i]);
    }
    // Read into one entry again and again, backwards: a longer entry read before leaves
    // nothing behind in a shorter one, and an event after a packet has no bytes.
    BusLogEntry scratch;
    for (std::size_t i = entries.size(); i-- > 0;) {
        SCOPED_TRACE(i);
        packed.read(i, scratch);
        expectSame(scratch, entries[i]);
    }
}

// Drops of 0, 1, some, all and more than all, each followed by more entries: the entries kept
// and added later keep their own bytes.
TEST(PackedLogEntries, DropsFromTheFrontKeepTheRestExact) {
    const std::vector<BusLogEntry> entries = everyKind();
    for (const std::size_t drop :
         {std::size_t{0}, std::size_t{1}, std::size_t{3}, entries.size(), entries.size() + 5}) {
        SCOPED_TRACE(drop);
        PackedLogEntries packed;
        for (const BusLogEntry& entry : entries) {
            packed.push_back(entry);
        }
        packed.pop_front(drop);
        for (const BusLogEntry& entry : entries) {
            packed.push_back(entry);
        }
        const std::size_t kept = entries.size() - std::min(drop, entries.size());
        ASSERT_EQ(packed.size(), kept + entries.size());
        for (std::size_t i = 0; i < packed.size(); ++i) {
            SCOPED_TRACE(i);
            const std::size_t original = i < kept ? entries.size() - kept + i : i - kept;
            expectSame(packed.at(i), entries[original]);
        }
    }
    PackedLogEntries packed;
    packed.push_back(entries[0]);
    packed.clear();
    EXPECT_TRUE(packed.empty());
    packed.push_back(entries[1]);
    expectSame(packed.at(0), entries[1]);
}

// The store through its bound: the last entries, their own bytes, in order.
TEST(PackedLogEntries, TheStoreKeepsTheLastEntriesWithTheirBytes) {
    BusLogStore store(3);
    for (std::uint8_t i = 0; i < 10; ++i) {
        store.append(packet(0, LogKind::HostPacket, std::vector<std::uint8_t>(i, i)));
    }
    const std::vector<BusLogEntry> kept = store.since(0);
    ASSERT_EQ(kept.size(), 3u);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].sequence, 7 + i);
        EXPECT_EQ(kept[i].bytes,
                  std::vector<std::uint8_t>(7 + i, static_cast<std::uint8_t>(7 + i)));
    }
    EXPECT_EQ(store.since(9, 5).size(), 1u);
    EXPECT_TRUE(store.since(10).empty());
}

}  // namespace
}  // namespace mvx
