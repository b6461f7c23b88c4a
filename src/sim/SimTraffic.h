// One entry of the simulated bus's traffic record: bytes on the wire in one direction.
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
    std::vector<std::uint8_t> bytes;
};

}  // namespace mvx
