// The bus log's memory: the last `capacity` entries (100 000 by default), oldest pushed out
// first, packed (PackedLogEntries). An entry holds at most PacketCutter::kMaxPiece bytes, so
// the store never holds more than capacity x (that + 64), about 32 MB at the default; packets
// of everyday traffic (10 to 30 bytes) take 8 to 10 MB.
//
// Thread-safe: the bus log appends on the bus's thread while readers (a window) copy entries
// out on theirs. Readers follow the log by sequence number: remember nextSequence(), later ask
// since() it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "buslog/BusLogEntry.h"
#include "buslog/PackedLogEntries.h"

namespace mvx {

class BusLogStore {
public:
    static constexpr std::size_t kDefaultCapacity = 100000;

    explicit BusLogStore(std::size_t capacity = kDefaultCapacity);

    // Keeps `entry` (its sequence number one above the last's), pushing out the oldest when full.
    void append(BusLogEntry entry);
    // Copies of the entries kept whose sequence number is `from` or later, oldest first, at
    // most `max` of them. Entries already pushed out are skipped.
    std::vector<BusLogEntry> since(std::uint64_t from, std::size_t max = SIZE_MAX) const;
    // The number of entries kept now.
    std::size_t size() const;
    std::size_t capacity() const { return capacity_; }
    // The sequence number the next entry gets: every entry appended so far.
    std::uint64_t nextSequence() const;
    // Entries pushed out by the bound so far.
    std::uint64_t dropped() const;

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    PackedLogEntries entries_;
    std::uint64_t next_ = 0;
};

}  // namespace mvx
