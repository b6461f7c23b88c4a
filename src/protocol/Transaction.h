// Sending instruction packets, receiving status packets, and the transaction that pairs a
// request with its reply, plus one wrapper per instruction. All work on the link's current
// bit rate; choosing the rate for a device is the caller's business.
#pragma once

#include <cstdint>

#include "link/AdapterLink.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"

namespace mvx {

// 100, 101, 102 or 105 (another transaction holds the link). Holds the link only for the
// write. After a bad reply, an addressed send first discards stale input.
int sendPacket(AdapterLink& link, const InstructionPacket& packet);
// Sends once no other caller holds the link, looking again every millisecond as a transaction
// does: 100, 101 or 102.
int sendWhenFree(AdapterLink& link, const InstructionPacket& packet);
// 100, 101, 103 or 104. Timed: the read timeout follows the byte count; untimed: 1 ms.
// A reply whose LEN is below 2 or whose data exceed the parameter area is read off and
// refused with 104; such data is never copied into `status`.
int receivePacket(AdapterLink& link, StatusPacket& status, bool timed);
// Waits for the link in 1 ms steps, sends, and receives until a matching reply arrives.
// A broadcast returns 100 right after the write. A 104 returns only once the line has been
// quiet for as long as the whole reply could take (bounded at 0.5 s), what came meanwhile
// dropped: the next packet never goes out over the rest of a broken reply.
int transact(AdapterLink& link, const InstructionPacket& packet, StatusPacket& status);

int ping(AdapterLink& link, std::uint8_t id);
// Copies `length` bytes to `out` on 100 (nothing when length is 0, nor for a broadcast,
// which gets no reply).
int readBlock(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t length,
              std::uint8_t* out);
int readByte(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t& out);
int writeByte(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t value);
int writeWord(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint16_t value);
// Instruction 13 with the key; 10 ms later the byte is read back: 100 when it equals
// `value`, 103 when it differs, else the failure.
int keyedWrite(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t value);
int instruction7(AdapterLink& link, std::uint8_t id);

}  // namespace mvx
