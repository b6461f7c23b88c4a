#include "protocol/Packet.h"

#include <algorithm>

namespace mvx {

InstructionPacket InstructionPacket::make(std::uint8_t id, std::uint8_t instruction,
                                          std::initializer_list<std::uint8_t> parameters) {
    InstructionPacket packet;
    packet.id = id;
    packet.instruction = instruction;
    const std::size_t count = std::min(parameters.size(), kMaxParameters);
    std::copy_n(parameters.begin(), count, packet.parameters.begin());
    packet.parameterCount = static_cast<std::uint8_t>(count);
    return packet;
}

std::size_t InstructionPacket::encode(std::uint8_t* out) const {
    const std::size_t count = std::min<std::size_t>(parameterCount, kMaxParameters);
    out[0] = 0xFF;
    out[1] = 0xFF;
    out[2] = id;
    out[3] = static_cast<std::uint8_t>(count + 2);
    out[4] = instruction;
    std::copy_n(parameters.begin(), count, out + 5);
    out[5 + count] = packetChecksum(out + 2, count + 3);
    return count + 6;
}

std::uint8_t packetChecksum(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(~sum);
}

}  // namespace mvx
