#include "buslog/PacketCutter.h"

#include <algorithm>

namespace mvx {

namespace {

constexpr std::uint8_t kHeaderByte = 0xFF;
constexpr std::size_t kHeaderSize = 4;  // FF FF ID LEN
// LEN covers the instruction or error byte, up to 150 parameters and the checksum.
constexpr std::uint8_t kMinLen = 2;
constexpr std::uint8_t kMaxLen = 152;

bool headerAt(const std::vector<std::uint8_t>& buffer, std::size_t i) {
    return i + 1 < buffer.size() && buffer[i] == kHeaderByte && buffer[i + 1] == kHeaderByte;
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
            const std::size_t keep = !buffer_.empty() && buffer_.back() == kHeaderByte ? 1 : 0;
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
        if (buffer_.size() < kHeaderSize) {
            return;
        }
        const std::size_t total = kHeaderSize + buffer_[3];
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
        headerAt(buffer_, 0) || (buffer_.size() == 1 && buffer_[0] == kHeaderByte);
    take(buffer_, buffer_.size(), packetStart ? PacketState::Incomplete : PacketState::NotAPacket,
         out);
}

PacketState PacketCutter::judge(const std::uint8_t* bytes, std::size_t count) {
    if (count < kHeaderSize || count != kHeaderSize + bytes[3]) {
        return PacketState::Incomplete;
    }
    const std::uint8_t len = bytes[3];
    if (len < kMinLen || len > kMaxLen) {
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
