// One line of the bus log: a packet (or a piece of the byte stream that is not one) in one
// direction, or a link event between packets. Plain values, copied out to readers.
#pragma once

#include <cstdint>
#include <vector>

#include "link/LinkTap.h"

namespace mvx {

enum class LogKind : std::uint8_t {
    HostPacket,    // '>' host to devices
    DevicePacket,  // '<' devices to host
    Event,         // '#' a link event
};

// How the bytes of a packet entry stand.
enum class PacketState : std::uint8_t {
    Whole,        // a complete packet with a right checksum
    BadChecksum,  // complete, but the checksum does not match
    BadLength,    // LEN below 2 or beyond the parameter area (read off and refused)
    Incomplete,   // the start of a packet that did not come whole
    NotAPacket,   // bytes before or outside any packet header (noise, raw loader data)
    NoReply,      // nothing came (no bytes): a device packet that the host waited for in vain
};

struct BusLogEntry {
    std::uint64_t sequence = 0;  // running number from 0 since the log began
    std::int64_t timeUs = 0;     // microseconds since the log began
    LogKind kind = LogKind::Event;
    int code = -1;  // baud-rate code the link was at (-1: not set yet)
    std::vector<std::uint8_t> bytes;
    PacketState state = PacketState::Whole;
    // The result code the exchange ended with because of this packet (102 a short write, 103,
    // 104), or 0 when it did not end one.
    int result = 0;
    // Host packets: how many bytes the write was asked to send when fewer went out, else 0.
    std::uint32_t asked = 0;
    // Status packets: the first address of the read they answer, -1 when they answer none.
    int readAddress = -1;
    LinkEvent event{};  // Event entries only
};

}  // namespace mvx
