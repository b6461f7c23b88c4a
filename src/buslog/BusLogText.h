// The text form of the bus log, one line per entry:
//
//   <µs> > code=<N> <bytes> | <decoding>     a packet from the host to the devices
//   <µs> < code=<N> <bytes> | <decoding>     a packet (or what came) from the devices
//   # <µs> <event>                           a link event: rate, settle, purge, bit-mode
//
// Bytes are upper-case hex separated by single spaces; a reply that never came has none.
// docs/bus-log.md describes the decodings with an example.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buslog/BusLogEntry.h"

namespace mvx {

// "FF FF 01 02 01 FB"
std::string hexBytes(const std::vector<std::uint8_t>& bytes);
// The decoding of an entry: "ID 1 READ 0 model-number 17 bytes", "ID 1 status no error ...",
// "no reply [103 timeout]", "rate code=34 (57142 bps)".
std::string describeEntry(const BusLogEntry& entry);
// The whole line, without its line feed.
std::string formatEntry(const BusLogEntry& entry);
// "goal-position=512 moving-speed=100": `data` as the registers from `address` on, named by
// the register table; bytes without an item are "[ADDR]=VALUE".
std::string registerValuesText(int address, const std::uint8_t* data, std::size_t count);

}  // namespace mvx
