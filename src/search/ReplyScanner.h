// Finds status packets in the bytes that reach the host, however the adapter splits them into
// reads: bytes are taken as they come, a packet is handed out once it is complete and its
// checksum holds, and anything else (noise, a cut-off or corrupt packet) is stepped over one
// byte at a time until the next packet start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mvx {

// A well-formed status packet as found in the byte stream.
struct ScannedReply {
    std::uint8_t id = 0;
    std::uint8_t error = 0;
    std::uint8_t parameterCount = 0;
};

class ReplyScanner {
public:
    // Takes `count` received bytes; the packets they complete are appended to `out`.
    void feed(const std::uint8_t* bytes, std::size_t count, std::vector<ScannedReply>& out);
    // Bytes still needed to complete the packet in progress (the shortest packet when none is
    // in progress); at least 1.
    std::uint32_t bytesWanted() const;
    // Bytes taken since the scanner was made or cleared.
    std::size_t bytesSeen() const { return seen_; }
    // Of those, the bytes stepped over as not part of a well-formed packet (noise, a corrupt or
    // cut-off packet).
    std::size_t bytesSkipped() const { return skipped_; }
    // The IDs named by the headers of packets that came broken (a corrupt one, one cut off by
    // what came after it or by the end of what came so far), each once, in order: whoever
    // answered there said something.
    std::vector<int> brokenIds() const;
    void clear();

private:
    void noteBroken(std::uint8_t id);

    std::vector<std::uint8_t> pending_;
    std::vector<int> brokenIds_;
    std::size_t seen_ = 0;
    std::size_t skipped_ = 0;
};

}  // namespace mvx
