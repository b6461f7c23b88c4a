#include "buslog/PacketCutter.h"

#include <algorithm>

#include "protocol/Packet.h"

namespace mvx {

namespace {

bool headerAt(const std::vector<std::uint8_t>& buffer, std::size_t i) {
    return i + 1 < buffer.size() && buffer[i] == kPacketHeaderByte &&
           buffer[i + 1] == kPacketHeaderByte;
}

void take(std::vector<std::uint8_t>& buffer, std::size_t count, PacketState state,
          std::vector<CutPiece>& out) {
    const auto end = buffer.begin() + static_cast<std::ptrdiff_t>(count);
    out.push_back({std::vector<std::uint8_t>(buffer.begin(), end), state});
    buffer.erase(buffer.begin(), end);
}

}  // namespace

void PacketCutter::feed(const std::uint8_t* bytes, std::size_t count, std::vector<CutPiece>& out) {
    // In slices, so the buffer never holds much more than two pieces.
    std::size_t done = 0;
    while (done < count) {
        const std::size_t slice = std::min(count - done, kMaxPiece);
        buffer_.insert(buffer_.end(), bytes + done, bytes + done + slice);
        done += slice;
        cut(out);
    }
}

void PacketCutter::cut(std::vector<CutPiece>& out) {
    for (;;) {
        std::size_t start = 0;
        while (start < buffer_.size() && !headerAt(buffer_, start)) {
            ++start;
        }
        if (start == buffer_.size()) {
            // No header yet; a last FF may begin one. A long run goes out in pieces.
            const std::size_t keep =
                !buffer_.empty() && buffer_.back() == kPacketHeaderByte ? 1 : 0;
            while (buffer_.size() - keep >= kMaxPiece) {
                take(buffer_, kMaxPiece, PacketState::NotAPacket, out);
            }
            return;
        }
        while (start > 0) {
            const std::size_t piece = std::min(start, kMaxPiece);
            take(buffer_, piece, PacketState::NotAPacket, out);
            start -= piece;
        }
        if (buffer_.size() < kPacketHeaderSize) {
            return;
        }
        const std::size_t total = kPacketHeaderSize + buffer_[3];
        if (buffer_.size() < total) {
            return;
        }
        const PacketState state = judge(buffer_.data(), total);
        take(buffer_, total, state, out);
    }
}

void PacketCutter::flush(std::vector<CutPiece>& out) {
    if (buffer_.empty()) {
        return;
    }
    const bool packetStart =
        headerAt(buffer_, 0) || (buffer_.size() == 1 && buffer_[0] == kPacketHeaderByte);
    take(buffer_, buffer_.size(), packetStart ? PacketState::Incomplete : PacketState::NotAPacket,
         out);
}

PacketState PacketCutter::judge(const std::uint8_t* bytes, std::size_t count) {
    if (count < kPacketHeaderSize || count != kPacketHeaderSize + bytes[3]) {
        return PacketState::Incomplete;
    }
    const std::uint8_t len = bytes[3];
    if (len < kMinPacketLen || len > kMaxPacketLen) {
        return PacketState::BadLength;
    }
    unsigned sum = 0;
    for (std::size_t i = 2; i + 1 < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(~sum) == bytes[count - 1] ? PacketState::Whole
                                                               : PacketState::BadChecksum;
}

}  // namespace mvx
