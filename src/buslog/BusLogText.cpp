#include "buslog/BusLogText.h"

#include "device/NamedRegister.h"
#include "device/RegisterTable.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"

namespace mvx {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string idText(std::uint8_t id) {
    return id == kBroadcastId ? std::string("ID 254 (broadcast)") : "ID " + std::to_string(id);
}

std::string instructionText(const std::uint8_t* p, std::size_t count, std::uint8_t instruction) {
    switch (instruction) {
        case Ping:
            return "PING";
        case Read:
            if (count == 2) {
                const RegisterItem* item = registerItemAt(p[0]);
                return "READ " + std::to_string(p[0]) +
                       (item != nullptr ? std::string(" ") + item->name : std::string()) + " " +
                       std::to_string(p[1]) + (p[1] == 1 ? " byte" : " bytes");
            }
            break;
        case Write:
            if (count >= 2) {
                return "WRITE " + registerValuesText(p[0], p + 1, count - 1);
            }
            break;
        case KeyedWrite:
            if (count == 2 + kKeyedWriteKey.size()) {
                bool keyRight = true;
                for (std::size_t i = 0; i < kKeyedWriteKey.size(); ++i) {
                    keyRight = keyRight && p[2 + i] == kKeyedWriteKey[i];
                }
                return "KEYED-WRITE " + registerValuesText(p[0], p + 1, 1) +
                       (keyRight ? "" : " (wrong key)");
            }
            break;
        case Instruction7:
            return "INSTRUCTION-7";
        default:
            break;
    }
    return "instruction " + std::to_string(instruction) + " with " + std::to_string(count) +
           (count == 1 ? " parameter" : " parameters");
}

std::string hostPacketText(const BusLogEntry& entry) {
    const std::vector<std::uint8_t>& b = entry.bytes;
    const std::size_t count = b.size() - kPacketHeaderSize - 2;  // parameters
    return idText(b[2]) + " " + instructionText(b.data() + 5, count, b[4]);
}

std::string statusText(const BusLogEntry& entry) {
    const std::vector<std::uint8_t>& b = entry.bytes;
    const std::size_t count = b.size() - kPacketHeaderSize - 2;  // data bytes
    std::string text = idText(b[2]) + " status";
    text += b[4] == 0 ? std::string(" no error") : " error=" + flagText(b[4]);
    if (count == 0) {
        return text;
    }
    if (entry.readAddress >= 0) {
        return text + " " + registerValuesText(entry.readAddress, b.data() + 5, count);
    }
    return text + " " + std::to_string(count) + (count == 1 ? " data byte" : " data bytes");
}

std::string resultTag(const BusLogEntry& entry) {
    switch (entry.result) {
        case 0:
            return "";
        case 102:
            return " [102 write incomplete: " + std::to_string(entry.bytes.size()) + " of " +
                   std::to_string(entry.asked) + " bytes]";
        case 103:
            return " [103 timeout]";
        case 104:
            return entry.state == PacketState::BadChecksum ? " [104 checksum]" : " [104 corrupt]";
        default:
            return " [" + std::to_string(entry.result) + "]";
    }
}

std::string eventText(const LinkEvent& event) {
    switch (event.kind) {
        case LinkEvent::Kind::RateChange:
            return "rate code=" + std::to_string(event.code) + " (" +
                   std::to_string(rateOf(event.code)) + " bps)";
        case LinkEvent::Kind::Purge:
            return "purge";
        case LinkEvent::Kind::SettleWait:
            return "settle " + std::to_string(event.waitUs) + " us";
        case LinkEvent::Kind::BitMode:
            return event.on ? "bit-mode on" : "bit-mode off";
    }
    return "event";
}

}  // namespace

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    return text;
}

std::string registerValuesText(int address, const std::uint8_t* data, std::size_t count) {
    std::string text;
    std::size_t i = 0;
    while (i < count) {
        const int at = address + static_cast<int>(i);
        const RegisterItem* item = registerItemAt(at);
        if (!text.empty()) {
            text += ' ';
        }
        if (item != nullptr && item->size <= count - i) {
            const int value = item->size == 2 ? data[i] | (data[i + 1] << 8) : data[i];
            text += std::string(item->name) + "=" + std::to_string(value);
            i += item->size;
        } else {
            // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) of a "[" + string.
            text += '[';
            text += std::to_string(at);
            text += "]=";
            text += std::to_string(data[i]);
            ++i;
        }
    }
    return text;
}

std::string describeEntry(const BusLogEntry& entry) {
    if (entry.kind == LogKind::Event) {
        return eventText(entry.event);
    }
    const bool host = entry.kind == LogKind::HostPacket;
    std::string text;
    switch (entry.state) {
        case PacketState::Whole:
            text = host ? hostPacketText(entry) : statusText(entry);
            break;
        case PacketState::BadChecksum:
            text = (host ? hostPacketText(entry) : statusText(entry)) + ", bad checksum";
            break;
        case PacketState::BadLength:
            text =
                idText(entry.bytes[2]) + " LEN " + std::to_string(entry.bytes[3]) + " out of range";
            break;
        case PacketState::Incomplete:
            text = "incomplete packet (" + std::to_string(entry.bytes.size()) +
                   (entry.bytes.size() == 1 ? " byte)" : " bytes)");
            break;
        case PacketState::NotAPacket:
            text = "not a packet (" + std::to_string(entry.bytes.size()) +
                   (entry.bytes.size() == 1 ? " byte)" : " bytes)");
            break;
        case PacketState::NoReply:
            text = "no reply";
            break;
    }
    return text + resultTag(entry);
}

std::string formatEntry(const BusLogEntry& entry) {
    if (entry.kind == LogKind::Event) {
        return "# " + std::to_string(entry.timeUs) + " " + describeEntry(entry);
    }
    std::string line = std::to_string(entry.timeUs);
    line += entry.kind == LogKind::HostPacket ? " > code=" : " < code=";
    line += std::to_string(entry.code);
    if (!entry.bytes.empty()) {
        line += ' ';
        line += hexBytes(entry.bytes);
    }
    line += " | ";
    line += describeEntry(entry);
    return line;
}

}  // namespace mvx
