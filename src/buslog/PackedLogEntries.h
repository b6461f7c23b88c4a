// Bus log entries kept in order, compactly: the fixed fields in one small record each and the
// bytes of all of them in one running byte queue, so that a kept packet costs its bytes and
// about 64 more, not an entry plus a heap block of its own. Entries are added at the back and
// dropped from the front; reading one gives back exactly the entry that was added.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "buslog/BusLogEntry.h"

namespace mvx {

class PackedLogEntries {
public:
    void push_back(const BusLogEntry& entry);
    // Drops the `count` oldest entries (all of them when there are fewer).
    void pop_front(std::size_t count = 1);
    void clear();

    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    // A copy of entry `index` (0 is the oldest kept).
    BusLogEntry at(std::size_t index) const;
    // The same into `entry`, reusing its byte buffer: a pass over many entries allocates once.
    void read(std::size_t index, BusLogEntry& entry) const;
    // What an entry takes besides its bytes.
    static std::size_t recordBytes();

private:
    struct Record {
        std::uint64_t sequence = 0;
        std::int64_t timeUs = 0;
        std::int64_t eventWaitUs = 0;
        std::uint64_t bytesAt = 0;  // offset of its first byte in the running byte stream
        std::uint32_t byteCount = 0;
        std::uint32_t asked = 0;
        std::int32_t code = -1;
        std::int32_t result = 0;
        std::int32_t readAddress = -1;
        std::int32_t eventCode = -1;
        LogKind kind = LogKind::Event;
        PacketState state = PacketState::Whole;
        LinkEvent::Kind eventKind = LinkEvent::Kind::Purge;
        bool eventOn = false;
    };

    std::deque<Record> records_;
    std::deque<std::uint8_t> bytes_;
    std::uint64_t bytesBase_ = 0;  // running offset of bytes_.front()
};

}  // namespace mvx
