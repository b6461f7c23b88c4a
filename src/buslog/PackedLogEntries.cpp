#include "buslog/PackedLogEntries.h"

#include <algorithm>

namespace mvx {

void PackedLogEntries::push_back(const BusLogEntry& entry) {
    Record record;
    record.sequence = entry.sequence;
    record.timeUs = entry.timeUs;
    record.eventWaitUs = entry.event.waitUs;
    record.bytesAt = bytesBase_ + bytes_.size();
    record.byteCount = static_cast<std::uint32_t>(entry.bytes.size());
    record.asked = entry.asked;
    record.code = entry.code;
    record.result = entry.result;
    record.readAddress = entry.readAddress;
    record.eventCode = entry.event.code;
    record.kind = entry.kind;
    record.state = entry.state;
    record.eventKind = entry.event.kind;
    record.eventOn = entry.event.on;
    bytes_.insert(bytes_.end(), entry.bytes.begin(), entry.bytes.end());
    records_.push_back(record);
}

void PackedLogEntries::pop_front(std::size_t count) {
    count = std::min(count, records_.size());
    if (count == 0) {
        return;
    }
    if (count == records_.size()) {
        clear();
        return;
    }
    // The bytes up to the first entry kept.
    const std::uint64_t keptFrom = records_[count].bytesAt;
    bytes_.erase(bytes_.begin(),
                 bytes_.begin() + static_cast<std::ptrdiff_t>(keptFrom - bytesBase_));
    bytesBase_ = keptFrom;
    records_.erase(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(count));
}

void PackedLogEntries::clear() {
    bytesBase_ += bytes_.size();
    records_.clear();
    bytes_.clear();
    records_.shrink_to_fit();
    bytes_.shrink_to_fit();
}

std::size_t PackedLogEntries::recordBytes() {
    return sizeof(Record);
}

BusLogEntry PackedLogEntries::at(std::size_t index) const {
    BusLogEntry entry;
    read(index, entry);
    return entry;
}

void PackedLogEntries::read(std::size_t index, BusLogEntry& entry) const {
    const Record& record = records_.at(index);
    entry.sequence = record.sequence;
    entry.timeUs = record.timeUs;
    entry.kind = record.kind;
    entry.code = record.code;
    const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(record.bytesAt - bytesBase_);
    entry.bytes.assign(first, first + static_cast<std::ptrdiff_t>(record.byteCount));
    entry.state = record.state;
    entry.result = record.result;
    entry.asked = record.asked;
    entry.readAddress = record.readAddress;
    entry.event.kind = record.eventKind;
    entry.event.code = record.eventCode;
    entry.event.waitUs = record.eventWaitUs;
    entry.event.on = record.eventOn;
}

}  // namespace mvx
