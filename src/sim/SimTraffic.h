// One entry of the simulated bus's traffic record: bytes on the wire in one direction. A device's
// answer also tells what it answered (when that packet ended, whether it was a broadcast) and
// whether the host was still listening at its rate until it was over, so that a check can tell
// a host that talked over an answer or left it behind.
#pragma once

#include <cstdint>
#include <vector>

namespace mvx {

struct SimTraffic {
    enum Direction { HostToBus, BusToHost };
    Direction direction = HostToBus;
    std::int64_t startUs = 0;   // the first bit on the wire (virtual or real clock time)
    std::int64_t endUs = 0;     // the last bit on the wire
    std::uint32_t rateBps = 0;  // bit rate the bytes were sent at
    int deviceId = -1;          // the answering device's ID (-1 for host bytes)
    bool heardByHost = true;    // BusToHost only: false when the host listened at another rate
    // BusToHost only: when the host's packet this answers was over on the wire (-1 unknown).
    std::int64_t requestEndUs = -1;
    // BusToHost only: an answer to a broadcast ping, which may come up to 500 ms after
    // requestEndUs.
    bool broadcastAnswer = false;
    // BusToHost only: when the host changed to another rate before the answer was over on the
    // wire (the answer was then lost, or talked over at the other rate); -1 when it stayed.
    std::int64_t hostLeftUs = -1;
    std::vector<std::uint8_t> bytes;
};

}  // namespace mvx
