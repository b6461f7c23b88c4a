#include "search/ReplyScanner.h"

#include "protocol/Packet.h"

namespace mvx {

namespace {

constexpr std::uint8_t kHeaderByte = 0xFF;
constexpr std::size_t kHeaderSize = 4;  // FF FF, ID, LEN
constexpr std::uint8_t kMinLen = 2;     // error byte and checksum
constexpr std::uint8_t kMaxLen = kMaxParameters + 2;
constexpr std::uint32_t kShortestPacket = 6;

}  // namespace

void ReplyScanner::feed(const std::uint8_t* bytes, std::size_t count,
                        std::vector<ScannedReply>& out) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    seen_ += count;
    std::size_t at = 0;    // start of the unexamined part
    std::size_t good = 0;  // bytes of the packets handed out
    for (;;) {
        while (at + 1 < pending_.size() &&
               !(pending_[at] == kHeaderByte && pending_[at + 1] == kHeaderByte)) {
            ++at;
        }
        if (at + kHeaderSize > pending_.size()) {
            break;  // no complete header yet
        }
        const std::uint8_t id = pending_[at + 2];
        const std::uint8_t len = pending_[at + 3];
        if (id == kHeaderByte || len < kMinLen || len > kMaxLen) {
            ++at;  // a third FF, or no packet: look again one byte on
            continue;
        }
        if (at + kHeaderSize + len > pending_.size()) {
            break;  // the rest is still on its way
        }
        const std::uint8_t* packet = pending_.data() + at;
        const std::uint8_t checksum = packetChecksum(packet + 2, len + 1u);
        if (checksum != packet[kHeaderSize + len - 1]) {
            ++at;
            continue;
        }
        out.push_back({id, packet[kHeaderSize], static_cast<std::uint8_t>(len - kMinLen)});
        at += kHeaderSize + len;
        good += kHeaderSize + len;
    }
    skipped_ += at - good;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint32_t ReplyScanner::bytesWanted() const {
    const std::size_t have = pending_.size();
    if (have >= kHeaderSize) {
        const std::size_t whole = kHeaderSize + pending_[3];
        return whole > have ? static_cast<std::uint32_t>(whole - have) : 1u;
    }
    return kShortestPacket - static_cast<std::uint32_t>(have);
}

void ReplyScanner::clear() {
    pending_.clear();
    seen_ = 0;
    skipped_ = 0;
}

}  // namespace mvx
