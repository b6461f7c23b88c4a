// Cutting byte streams into packets and decoding them: one table of packets and their words,
// and the cutter's pieces whatever the reads' sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "buslog/BusLogText.h"
#include "buslog/PacketCutter.h"
#include "protocol/Packet.h"

namespace mvx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// FF FF ID LEN BODY... CHECKSUM, LEN and checksum computed.
Bytes packet(std::uint8_t id, Bytes body) {
    Bytes bytes(body.size() + 5);
    bytes[0] = 0xFF;
    bytes[1] = 0xFF;
    bytes[2] = id;
    bytes[3] = static_cast<std::uint8_t>(body.size() + 1);
    std::copy(body.begin(), body.end(), bytes.begin() + 4);
    bytes.back() = packetChecksum(bytes.data() + 2, bytes.size() - 3);
    return bytes;
}

BusLogEntry entry(LogKind kind, Bytes bytes, int readAddress = -1) {
    BusLogEntry e;
    e.kind = kind;
    e.code = 1;
    e.state = PacketCutter::judge(bytes.data(), bytes.size());
    e.bytes = std::move(bytes);
    e.readAddress = readAddress;
    return e;
}

TEST(PacketDecodingTest, PacketsInWords) {
    const LogKind host = LogKind::HostPacket;
    const LogKind device = LogKind::DevicePacket;
    struct Case {
        BusLogEntry entry;
        const char* line;
    };
    Bytes badSum = packet(1, {0x00});
    badSum.back() ^= 0xFF;
    BusLogEntry refused = entry(device, badSum);
    refused.result = 104;
    BusLogEntry shortWrite = entry(host, {0xFF, 0xFF, 0x01});
    shortWrite.result = 102;
    shortWrite.asked = 6;
    BusLogEntry none;
    none.kind = device;
    none.code = 34;
    none.state = PacketState::NoReply;
    none.result = 103;
    BusLogEntry event;
    event.event = {LinkEvent::Kind::RateChange, 207, 0, false};
    const std::vector<Case> cases = {
        {entry(host, packet(1, {1})), "> code=1 FF FF 01 02 01 FB | ID 1 PING"},
        {entry(host, packet(254, {1})), "> code=1 FF FF FE 02 01 FE | ID 254 (broadcast) PING"},
        {entry(host, packet(5, {2, 36, 2})),
         "> code=1 FF FF 05 04 02 24 02 CE | ID 5 READ 36 present-position 2 bytes"},
        {entry(host, packet(1, {3, 30, 0x00, 0x02})),
         "> code=1 FF FF 01 05 03 1E 00 02 D6 | ID 1 WRITE goal-position=512"},
        {entry(host, packet(1, {3, 24, 1, 1})),
         "> code=1 FF FF 01 05 03 18 01 01 DC | ID 1 WRITE torque-enable=1 led=1"},
        {entry(host, packet(1, {3, 20, 5})),
         "> code=1 FF FF 01 04 03 14 05 DE | ID 1 WRITE [20]=5"},
        {entry(host, packet(1, {13, 45, 254, 0x4D, 0x56, 0x58, 0x21})),
         "> code=1 FF FF 01 08 0D 2D FE 4D 56 58 21 A2 | ID 1 KEYED-WRITE firmware-update=254"},
        {entry(host, packet(1, {13, 45, 254, 0, 0, 0, 0})),
         "> code=1 FF FF 01 08 0D 2D FE 00 00 00 00 BE | ID 1 KEYED-WRITE firmware-update=254 "
         "(wrong key)"},
        {entry(host, packet(1, {7})), "> code=1 FF FF 01 02 07 F5 | ID 1 INSTRUCTION-7"},
        {entry(host, packet(1, {9, 1, 2})),
         "> code=1 FF FF 01 04 09 01 02 EE | ID 1 instruction 9 with 2 parameters"},
        {entry(host, packet(1, {2, 0})),
         "> code=1 FF FF 01 03 02 00 F9 | ID 1 instruction 2 with 1 parameter"},
        {entry(device, packet(1, {0})), "< code=1 FF FF 01 02 00 FC | ID 1 status no error"},
        {entry(device, packet(1, {0x24})),
         "< code=1 FF FF 01 02 24 D8 | ID 1 status error=overload,overheating"},
        {entry(device, packet(1, {0, 0x00, 0x02}), 30),
         "< code=1 FF FF 01 04 00 00 02 F8 | ID 1 status no error goal-position=512"},
        {entry(device, packet(1, {0, 12, 0, 24}), 0),
         "< code=1 FF FF 01 05 00 0C 00 18 D5 | ID 1 status no error model-number=12 "
         "firmware-version=24"},
        {entry(device, packet(1, {0, 7, 7})),
         "< code=1 FF FF 01 04 00 07 07 EC | ID 1 status no error 2 data bytes"},
        {refused, "< code=1 FF FF 01 02 00 03 | ID 1 status no error, bad checksum [104 checksum]"},
        {entry(device, {0xFF, 0xFF, 0x01, 0x00}), "< code=1 FF FF 01 00 | ID 1 LEN 0 out of range"},
        {entry(device, {0xFF, 0xFF, 0x01, 0x01, 0x00}),
         "< code=1 FF FF 01 01 00 | ID 1 LEN 1 out of range"},
        {shortWrite,
         "> code=1 FF FF 01 | incomplete packet (3 bytes) [102 write incomplete: 3 "
         "of 6 bytes]"},
        {none, "< code=34 | no reply [103 timeout]"},
        {event, "# 0 rate code=207 (9615 bps)"},
    };
    for (const Case& c : cases) {
        std::string line = formatEntry(c.entry);
        if (line[0] != '#') {
            line = line.substr(line.find(' ') + 1);  // the time
        }
        EXPECT_EQ(line, c.line);
    }
}

// The pieces of `stream` fed in reads of the sizes in `cuts` (the rest in one), then flushed.
std::vector<std::string> pieces(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    PacketCutter cutter;
    std::vector<CutPiece> out;
    std::size_t at = 0;
    for (const std::size_t size : cuts) {
        const std::size_t n = std::min(size, stream.size() - at);
        cutter.feed(stream.data() + at, n, out);
        at += n;
    }
    cutter.feed(stream.data() + at, stream.size() - at, out);
    cutter.flush(out);
    std::vector<std::string> text;
    for (const CutPiece& piece : out) {
        text.push_back(hexBytes(piece.bytes) + " #" +
                       std::to_string(static_cast<int>(piece.state)));
    }
    return text;
}

TEST(PacketCutterTest, PiecesDoNotDependOnTheReadsSizes) {
    Bytes stream = {0x55, 0x55};
    const Bytes first = packet(1, {0});
    const Bytes second = packet(2, {0, 7});
    stream.insert(stream.end(), first.begin(), first.end());
    stream.insert(stream.end(), second.begin(), second.end());
    for (const std::uint8_t byte : {0xFF, 0xFF, 0x03}) {
        stream.push_back(byte);
    }
    const std::vector<std::string> expected = {
        "55 55 #4",              // not a packet
        "FF FF 01 02 00 FC #0",  // whole
        "FF FF 02 03 00 07 F3 #0",
        "FF FF 03 #3",  // incomplete
    };
    EXPECT_EQ(pieces(stream, {}), expected);
    for (std::size_t size = 1; size < stream.size(); ++size) {
        SCOPED_TRACE(size);
        EXPECT_EQ(pieces(stream, std::vector<std::size_t>(stream.size(), size)), expected);
        EXPECT_EQ(pieces(stream, {size}), expected);
    }
}

TEST(PacketCutterTest, OutOfRangeLengthsAreReadOffWholeAndNoiseIsCutShort) {
    Bytes longPacket = {0xFF, 0xFF, 0x01, 200};
    longPacket.resize(4 + 200, 0x11);
    const std::vector<std::string> got = pieces(longPacket, {3, 50});
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].substr(got[0].size() - 3), " #2");  // bad length, all 204 bytes

    PacketCutter cutter;
    std::vector<CutPiece> out;
    const Bytes noise(1000, 0x55);
    cutter.feed(noise.data(), noise.size(), out);
    cutter.flush(out);
    std::size_t total = 0;
    for (const CutPiece& piece : out) {
        EXPECT_LE(piece.bytes.size(), PacketCutter::kMaxPiece);
        EXPECT_EQ(piece.state, PacketState::NotAPacket);
        total += piece.bytes.size();
    }
    EXPECT_EQ(total, noise.size());
}

}  // namespace
}  // namespace mvx
