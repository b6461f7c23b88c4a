// Cuts one direction's byte stream into packets as the bytes come, in pieces of any size:
// FF FF ID LEN and LEN more bytes make a packet; bytes before a header are handed out as not
// a packet. What a packet's LEN announces is read off whole, as the packet layer does, even
// when LEN is out of range. Pieces are bounded: a run of bytes that are not a packet is cut
// every kMaxPiece bytes, so no piece is longer than a packet can be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "buslog/BusLogEntry.h"

namespace mvx {

struct CutPiece {
    std::vector<std::uint8_t> bytes;
    PacketState state = PacketState::Whole;
};

class PacketCutter {
public:
    // The longest packet: header, ID, LEN and 255 more bytes.
    static constexpr std::size_t kMaxPiece = 4 + 255;

    // Takes `count` bytes; every piece they complete is appended to `out`.
    void feed(const std::uint8_t* bytes, std::size_t count, std::vector<CutPiece>& out);
    // Hands out what is waiting: the start of a packet as Incomplete, other bytes as
    // NotAPacket. Nothing when nothing waits.
    void flush(std::vector<CutPiece>& out);
    bool waiting() const { return !buffer_.empty(); }

    // The state of a complete packet (Whole, BadChecksum or BadLength), from its bytes.
    static PacketState judge(const std::uint8_t* bytes, std::size_t count);

private:
    void cut(std::vector<CutPiece>& out);

    std::vector<std::uint8_t> buffer_;
};

}  // namespace mvx
