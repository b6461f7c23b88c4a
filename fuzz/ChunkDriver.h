// A fuzz-local adapter driver of the same shape as the tests' scripted driver, fed from a byte
// stream cut into chunks: each chunk is what arrives before the next read timeout. A read takes
// bytes of the current chunk; when the chunk runs out first the read comes back short (the
// timeout), the virtual clock advances by the read timeout and the next read starts on the
// next chunk. A chunk may instead stand for a read that fails with FT_IO_ERROR. Purge(RX)
// drops the rest of the current chunk. Every other call succeeds.
//
// Input layout (see ChunkDriver::feed): a chunk header byte h, then h bytes of the chunk
// (cut at the end of the input); h == 0xFF is a failing read and carries no bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx::fuzz {

class ChunkDriver final : public FtDriver {
public:
    explicit ChunkDriver(VirtualClock& clock) : clock_(clock) {}

    // Queues the chunks that `data` encodes (layout above).
    void feed(const std::uint8_t* data, std::size_t size);

    // Every byte handed out by reads so far, in order: the last packet received is at its end.
    const std::vector<std::uint8_t>& delivered() const { return delivered_; }
    const std::vector<std::uint8_t>& lastWrite() const { return lastWrite_; }

    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

private:
    class Device;

    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::size_t taken = 0;
        bool fails = false;
    };

    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received);
    void purge();
    std::uint32_t queued() const;

    VirtualClock& clock_;
    std::deque<Chunk> chunks_;
    std::vector<std::uint8_t> delivered_;
    std::vector<std::uint8_t> lastWrite_;
    std::uint32_t readTimeoutMs_ = 0;
};

}  // namespace mvx::fuzz
