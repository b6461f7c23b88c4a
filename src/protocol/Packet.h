// Instruction and status packets: in-memory form, wire encoding and checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace mvx {

inline constexpr std::size_t kMaxParameters = 150;
inline constexpr std::uint8_t kBroadcastId = 254;
// FF FF, ID, LEN: the bytes of a packet before its instruction or error byte.
inline constexpr std::size_t kPacketHeaderSize = 4;
inline constexpr std::uint8_t kPacketHeaderByte = 0xFF;
// LEN covers the instruction or error byte, the parameters and the checksum.
inline constexpr std::uint8_t kMinPacketLen = 2;
inline constexpr std::uint8_t kMaxPacketLen = kMaxParameters + 2;
// A ping on the wire, and the status packet answering it.
inline constexpr int kPingBytes = 6;
inline constexpr int kPingReplyBytes = 6;

// Instruction codes.
enum Instruction : std::uint8_t {
    Ping = 1,
    Read = 2,
    Write = 3,
    Instruction7 = 7,  // sent once after a firmware image was written
    KeyedWrite = 13,   // address, value, then the four key bytes; verified by a read-back
};

// The fixed key that devices expect behind the address and value of a keyed write.
inline constexpr std::array<std::uint8_t, 4> kKeyedWriteKey = {0x4D, 0x56, 0x58, 0x21};

// Status error bits (also the layout of the alarm LED and alarm shutdown registers).
enum ErrorBit : std::uint8_t {
    InputVoltageError = 1,
    AngleLimitError = 2,
    OverheatingError = 4,
    RangeError = 8,
    ChecksumError = 16,
    OverloadError = 32,
    InstructionError = 64,
};

struct InstructionPacket {
    std::uint8_t id = 0;
    std::uint8_t instruction = 0;
    std::array<std::uint8_t, kMaxParameters> parameters{};
    std::uint8_t parameterCount = 0;

    static InstructionPacket make(std::uint8_t id, std::uint8_t instruction,
                                  std::initializer_list<std::uint8_t> parameters = {});
    // Largest wire size of an instruction packet.
    static constexpr std::size_t kMaxWireSize = kMaxParameters + 6;
    // Wire size: parameter count + 6 (a count above 150 is taken as 150).
    std::size_t wireSize() const {
        return (parameterCount < kMaxParameters ? parameterCount : kMaxParameters) + 6u;
    }
    // Writes FF FF, ID, LEN, instruction, parameters, checksum into `out` (room for
    // wireSize() bytes); returns the number of bytes written.
    std::size_t encode(std::uint8_t* out) const;
};

struct StatusPacket {
    std::uint8_t id = 0;
    std::uint8_t error = 0;
    std::array<std::uint8_t, kMaxParameters> parameters{};
    std::uint8_t parameterCount = 0;
};

// Complement of the 8-bit sum of `count` bytes (from the ID to the last parameter).
std::uint8_t packetChecksum(const std::uint8_t* bytes, std::size_t count);

}  // namespace mvx
