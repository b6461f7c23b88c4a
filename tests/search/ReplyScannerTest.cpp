#include "search/ReplyScanner.h"

#include <gtest/gtest.h>

#include "support/Bytes.h"

namespace mvx::test {
namespace {

// The stream as the adapter hands it over, in pieces; the (ID, parameter count) of every
// packet found, in order.
TEST(ReplyScannerTest, FindsThePacketsInTheStreamWhateverComesBetween) {
    const Bytes ping3 = statusBytes(3);
    const Bytes ping200 = statusBytes(200);
    const Bytes read7 = statusBytes(7, 0, {0xFF, 0xFF, 0x01, 0x02});
    Bytes corrupt = statusBytes(9);
    corrupt.back() ^= 0x01;
    const Bytes truncated(ping3.begin(), ping3.begin() + 3);
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) {
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    };
    struct Case {
        const char* name;
        Bytes stream;
        std::size_t piece;  // bytes per feed
        std::vector<std::pair<int, int>> found;
        std::size_t skipped;  // bytes stepped over
    };
    const Case cases[] = {
        {"back to back, byte by byte",
         join({ping3, read7, ping200}),
         1,
         {{3, 0}, {7, 4}, {200, 0}},
         0},
        {"in one piece", join({ping3, ping200}), 64, {{3, 0}, {200, 0}}, 0},
        {"noise before", join({hexBytes("55 55 FF 55"), ping200}), 2, {{200, 0}}, 4},
        {"corrupt one between", join({ping3, corrupt, ping200}), 5, {{3, 0}, {200, 0}}, 6},
        {"cut-off one before", join({truncated, ping200}), 4, {{200, 0}}, 3},
        {"a third FF in front", join({hexBytes("FF"), ping3}), 3, {{3, 0}}, 1},
        {"length out of range", join({hexBytes("FF FF 01 FF 00"), ping3}), 1, {{3, 0}}, 5},
        // A cut-off answer whose length byte is the next one's noise: the answers after it
        // are found as they come, not once 85 more bytes have.
        {"cut off, then noise and answers",
         join({truncated, hexBytes("55 55 55"), ping200, read7}),
         6,
         {{200, 0}, {7, 4}},
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyScanner scanner;
        std::vector<ScannedReply> out;
        for (std::size_t at = 0; at < c.stream.size(); at += c.piece) {
            EXPECT_GE(scanner.bytesWanted(), 1u);
            scanner.feed(c.stream.data() + at, std::min(c.piece, c.stream.size() - at), out);
        }
        std::vector<std::pair<int, int>> found;
        for (const ScannedReply& r : out) {
            found.emplace_back(r.id, r.parameterCount);
        }
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(scanner.bytesSeen(), c.stream.size());
        EXPECT_EQ(scanner.bytesSkipped(), c.skipped);
    }
}

// The IDs that broken packets' headers name: someone answered there, though not cleanly.
TEST(ReplyScannerTest, NamesTheIdsOfBrokenPackets) {
    Bytes corrupt = statusBytes(9);
    corrupt.back() ^= 0x01;
    const Bytes ping3 = statusBytes(3);
    const Bytes cut3(ping3.begin(), ping3.begin() + 3);
    const Bytes ping200 = statusBytes(200);
    const Bytes cut200(ping200.begin(), ping200.begin() + 5);
    struct Case {
        const char* name;
        std::vector<Bytes> feeds;
        std::vector<int> named;
    };
    const Case cases[] = {
        {"clean answers", {ping3, ping200}, {}},
        {"noise alone", {hexBytes("55 55 FF 55 00")}, {}},
        {"a corrupt one between clean ones", {ping3, corrupt, ping200}, {9}},
        {"cut off at the end of what came", {ping200, cut3}, {3}},
        {"cut off, then noise and an answer", {cut3, hexBytes("55 55 55 55"), ping200}, {3}},
        {"cut off before its checksum, then another", {cut200, ping3}, {200}},
        {"two corrupt ones, one twice", {corrupt, cut3, corrupt}, {9, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyScanner scanner;
        std::vector<ScannedReply> out;
        for (const Bytes& b : c.feeds) {
            scanner.feed(b.data(), b.size(), out);
        }
        EXPECT_EQ(scanner.brokenIds(), c.named);
        scanner.clear();
        EXPECT_EQ(scanner.brokenIds(), std::vector<int>{});
    }
}

TEST(ReplyScannerTest, AsksForTheRestOfThePacketInProgress) {
    const Bytes read = statusBytes(7, 0, {1, 2, 3, 4, 5});  // 11 bytes
    ReplyScanner scanner;
    std::vector<ScannedReply> out;
    EXPECT_EQ(scanner.bytesWanted(), 6u);
    scanner.feed(read.data(), 2, out);
    EXPECT_EQ(scanner.bytesWanted(), 4u);
    scanner.feed(read.data() + 2, 3, out);
    EXPECT_EQ(scanner.bytesWanted(), 6u);
    scanner.feed(read.data() + 5, 6, out);
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(scanner.bytesWanted(), 6u);

    // A long one no more than a short packet's worth at a time: it may turn out cut off.
    const Bytes table = statusBytes(7, 0, std::vector<std::uint8_t>(50, 0));
    scanner.feed(table.data(), 4, out);
    EXPECT_EQ(scanner.bytesWanted(), 6u);
    scanner.feed(table.data() + 4, 50, out);
    EXPECT_EQ(scanner.bytesWanted(), 2u);
}

}  // namespace
}  // namespace mvx::test
