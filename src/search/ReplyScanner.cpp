#include "search/ReplyScanner.h"

#include "protocol/Packet.h"

namespace mvx {

namespace {

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
               !(pending_[at] == kPacketHeaderByte && pending_[at + 1] == kPacketHeaderByte)) {
            ++at;
        }
        if (at + kPacketHeaderSize > pending_.size()) {
            break;  // no complete header yet
        }
        const std::uint8_t id = pending_[at + 2];
        const std::uint8_t len = pending_[at + 3];
        if (id == kPacketHeaderByte || len < kMinPacketLen || len > kMaxPacketLen) {
            ++at;  // a third FF, or no packet: look again one byte on
            continue;
        }
        if (at + kPacketHeaderSize + len > pending_.size()) {
            break;  // the rest is still on its way
        }
        const std::uint8_t* packet = pending_.data() + at;
        const std::uint8_t checksum = packetChecksum(packet + 2, len + 1u);
        if (checksum != packet[kPacketHeaderSize + len - 1]) {
            ++at;
            continue;
        }
        out.push_back(
            {id, packet[kPacketHeaderSize], static_cast<std::uint8_t>(len - kMinPacketLen)});
        at += kPacketHeaderSize + len;
        good += kPacketHeaderSize + len;
    }
    skipped_ += at - good;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint32_t ReplyScanner::bytesWanted() const {
    const std::size_t have = pending_.size();
    if (have >= kPacketHeaderSize) {
        const std::size_t whole = kPacketHeaderSize + pending_[3];
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
