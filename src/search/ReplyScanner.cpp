#include "search/ReplyScanner.h"

#include <algorithm>

#include "protocol/Packet.h"

namespace mvx {

namespace {

constexpr std::uint32_t kShortestPacket = 6;

// Whether a well-formed packet starts at `at` and is complete.
bool wholePacketAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    if (at + kPacketHeaderSize > bytes.size() || bytes[at] != kPacketHeaderByte ||
        bytes[at + 1] != kPacketHeaderByte) {
        return false;
    }
    const std::uint8_t id = bytes[at + 2];
    const std::uint8_t len = bytes[at + 3];
    if (id == kPacketHeaderByte || len < kMinPacketLen || len > kMaxPacketLen ||
        at + kPacketHeaderSize + len > bytes.size()) {
        return false;
    }
    return packetChecksum(bytes.data() + at + 2, len + 1u) ==
           bytes[at + kPacketHeaderSize + len - 1];
}

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
        if (id == kPacketHeaderByte) {
            ++at;  // a third FF: look again one byte on
            continue;
        }
        if (len < kMinPacketLen || len > kMaxPacketLen) {
            noteBroken(id);  // a cut-off header, its length the bytes that followed it
            ++at;
            continue;
        }
        if (at + kPacketHeaderSize + len > pending_.size()) {
            // The rest is still on its way, unless a whole packet has come within it: then
            // this one was cut off and its length is another's bytes (a packet's own bytes
            // hold no whole packet where answers are a few bytes long).
            bool overtaken = false;
            for (std::size_t next = at + 2; next < pending_.size() && !overtaken; ++next) {
                overtaken = wholePacketAt(pending_, next);
            }
            if (!overtaken) {
                break;
            }
            noteBroken(id);
            ++at;
            continue;
        }
        const std::uint8_t* packet = pending_.data() + at;
        const std::uint8_t checksum = packetChecksum(packet + 2, len + 1u);
        if (checksum != packet[kPacketHeaderSize + len - 1]) {
            noteBroken(id);
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
        // No more than a short packet's worth at a time: the packet in progress may turn out
        // cut off, and a packet after it is then handed out when it is complete, not when the
        // cut one's length has come.
        const std::size_t whole = kPacketHeaderSize + pending_[3];
        return whole > have ? std::min(static_cast<std::uint32_t>(whole - have), kShortestPacket)
                            : 1u;
    }
    return kShortestPacket - static_cast<std::uint32_t>(have);
}

std::vector<int> ReplyScanner::brokenIds() const {
    std::vector<int> ids = brokenIds_;
    // A header left without the rest of its packet: cut off at the end of what came.
    if (pending_.size() >= 3 && pending_[0] == kPacketHeaderByte &&
        pending_[1] == kPacketHeaderByte && pending_[2] != kPacketHeaderByte) {
        ids.push_back(pending_[2]);
    }
    return ids;
}

void ReplyScanner::noteBroken(std::uint8_t id) {
    if (std::find(brokenIds_.begin(), brokenIds_.end(), id) == brokenIds_.end()) {
        brokenIds_.push_back(id);
    }
}

void ReplyScanner::clear() {
    pending_.clear();
    brokenIds_.clear();
    seen_ = 0;
    skipped_ = 0;
}

}  // namespace mvx
