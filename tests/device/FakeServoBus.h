// A small protocol-aware stand-in for the adapter and the devices behind it: decodes every
// instruction packet written to it, lets the addressed fake devices answer from their
// control tables the way their return level allows, and records what was sent and when.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx::test {

struct FakeDevice {
    std::array<std::uint8_t, 256> table{};
    bool silent = false;         // answers nothing at all
    bool answersReads = true;    // false: pings only, whatever register 16 says
    std::uint8_t errorByte = 0;  // error byte of every status packet
    int corruptReplies = 0;      // this many next replies carry a wrong checksum
    int readsLeft = -1;          // reads answered before the device stops answering them
    bool ignoresWrites = false;  // takes no write (but answers as its level says)

    int id() const { return table[3]; }
    int code() const { return table[4]; }
    int level() const { return table[16]; }
    int word(int address) const { return table[address] | table[address + 1] << 8; }
    void setWord(int address, int value) {
        table[address] = static_cast<std::uint8_t>(value & 0xFF);
        table[address + 1] = static_cast<std::uint8_t>(value >> 8);
    }
};

// A device of `model` at (code, id) with the given level and a plausible control table.
FakeDevice makeFakeDevice(int model, int code, int id, int level);

struct SentPacket {
    std::uint32_t bitsPerSecond;
    std::uint8_t id;
    std::uint8_t instruction;
    std::vector<std::uint8_t> parameters;
    std::int64_t timeUs;
};

class FakeServoBus final : public FtDriver {
public:
    explicit FakeServoBus(Clock& clock) : clock_(clock) {}

    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

    std::vector<FakeDevice> devices;
    std::vector<SentPacket> sent;
    bool failWrites = false;  // the adapter fails every write (101 upwards)

    // Packets with the given instruction (Write = 3, Read = 2, Ping = 1).
    std::vector<SentPacket> sentWith(std::uint8_t instruction) const;
    FakeDevice* device(int code, int id);

private:
    friend class FakeServoHandle;
    void handle(const std::vector<std::uint8_t>& bytes, std::uint32_t bitsPerSecond);
    void reply(FakeDevice& device, std::uint8_t id, const std::vector<std::uint8_t>& data);

    Clock& clock_;
    std::deque<std::uint8_t> rx_;
    std::uint32_t readTimeoutMs_ = 0;
};

}  // namespace mvx::test
