#include "gui/buslog/BusLogFilter.h"

namespace mvx::gui {

namespace {

constexpr std::size_t kIdAt = 2;
constexpr std::size_t kInstructionAt = 4;  // the error byte of a status

bool whole(const BusLogEntry& entry) {
    return (entry.state == PacketState::Whole || entry.state == PacketState::BadChecksum) &&
           entry.bytes.size() > kInstructionAt;
}

}  // namespace

bool isError(const BusLogEntry& entry) {
    if (entry.kind == LogKind::Event) {
        return false;
    }
    if (entry.result != 0 || entry.state != PacketState::Whole) {
        return true;
    }
    return entry.kind == LogKind::DevicePacket && whole(entry) && entry.bytes[kInstructionAt] != 0;
}

bool BusLogFilter::accepts(const BusLogEntry& entry, BusLogFollow& follow) const {
    if (entry.kind == LogKind::Event) {
        return !any();
    }
    const bool hasId = entry.bytes.size() > kIdAt && entry.state != PacketState::NotAPacket &&
                       entry.state != PacketState::Incomplete;
    if (entry.kind == LogKind::HostPacket) {
        follow.hostShown =
            instruction < 0 || (whole(entry) && entry.bytes[kInstructionAt] == instruction);
        follow.hostId = hasId ? entry.bytes[kIdAt] : -1;
    }
    if (instruction >= 0 && !follow.hostShown) {
        return false;
    }
    if (code >= 0 && entry.code != code) {
        return false;
    }
    if (id >= 0) {
        // A reply that never came or came cut short belongs to the instruction before it.
        const int packetId = hasId ? entry.bytes[kIdAt] : follow.hostId;
        if (packetId != id) {
            return false;
        }
    }
    return !errorsOnly || isError(entry);
}

}  // namespace mvx::gui
