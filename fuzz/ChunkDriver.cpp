#include "ChunkDriver.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace mvx::fuzz {

namespace {

constexpr std::uint8_t kFailingRead = 0xFF;

}  // namespace

// The opened handle: reads, writes, timeouts, queue and purge go to the driver.
class ChunkDriver::Device final : public FtDevice {
public:
    explicit Device(ChunkDriver& driver) : d_(driver) {}

    FtStatus resetDevice() override { return FT_OK; }
    FtStatus setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return FT_OK;
    }
    FtStatus setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t) override {
        d_.readTimeoutMs_ = readTimeoutMs;
        return FT_OK;
    }
    FtStatus setLatencyTimer(std::uint8_t) override { return FT_OK; }
    FtStatus setUsbParameters(std::uint32_t, std::uint32_t) override { return FT_OK; }
    FtStatus setBaudRate(std::uint32_t) override { return FT_OK; }
    FtStatus setBitMode(std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus purge(std::uint32_t mask) override {
        if ((mask & FT_PURGE_RX) != 0) {
            d_.purge();
        }
        return FT_OK;
    }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        *rxBytes = d_.queued();
        return FT_OK;
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        return d_.read(buffer, count, received);
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        d_.lastWrite_.assign(buffer, buffer + count);
        *written = count;
        return FT_OK;
    }
    FtStatus close() override { return FT_OK; }

private:
    ChunkDriver& d_;
};

void ChunkDriver::feed(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t header = data[at++];
        Chunk chunk;
        if (header == kFailingRead) {
            chunk.fails = true;
        } else {
            const std::size_t n = std::min<std::size_t>(header, size - at);
            chunk.bytes.assign(data + at, data + at + n);
            at += n;
        }
        chunks_.push_back(std::move(chunk));
    }
}

FtStatus ChunkDriver::listNumber(std::uint32_t* count) {
    *count = 1;
    return FT_OK;
}

FtStatus ChunkDriver::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    if (index != 0 || size == 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    std::strncpy(buffer, "USB2Movantrix", size - 1);
    buffer[size - 1] = '\0';
    return FT_OK;
}

FtStatus ChunkDriver::open(std::uint32_t index, FtHandle* handle) {
    if (index != 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    *handle = std::make_unique<Device>(*this);
    return FT_OK;
}

FtStatus ChunkDriver::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) {
    *received = 0;
    // A read that starts where a chunk ended exactly goes on with the next chunk.
    while (!chunks_.empty() && !chunks_.front().fails &&
           chunks_.front().taken == chunks_.front().bytes.size() && chunks_.front().taken != 0) {
        chunks_.pop_front();
    }
    if (!chunks_.empty() && chunks_.front().fails) {
        chunks_.pop_front();
        return FT_IO_ERROR;
    }
    if (chunks_.empty()) {
        clock_.advanceUs(static_cast<std::int64_t>(readTimeoutMs_) * 1000);
        return FT_OK;
    }
    Chunk& chunk = chunks_.front();
    const std::size_t n = std::min<std::size_t>(count, chunk.bytes.size() - chunk.taken);
    // Only `count` bytes are ever written to the caller's buffer: a read past it shows under
    // AddressSanitizer in the caller's frame.
    const auto from = chunk.bytes.begin() + static_cast<std::ptrdiff_t>(chunk.taken);
    std::copy_n(from, n, buffer);
    delivered_.insert(delivered_.end(), from, from + static_cast<std::ptrdiff_t>(n));
    chunk.taken += n;
    *received = static_cast<std::uint32_t>(n);
    if (n < count) {
        // The timeout: what did not come in this chunk is not coming for this read.
        chunks_.pop_front();
        clock_.advanceUs(static_cast<std::int64_t>(readTimeoutMs_) * 1000);
    }
    return FT_OK;
}

void ChunkDriver::purge() {
    if (!chunks_.empty() && !chunks_.front().fails) {
        chunks_.front().taken = chunks_.front().bytes.size();
        if (chunks_.front().taken == 0) {
            chunks_.pop_front();
        }
    }
}

std::uint32_t ChunkDriver::queued() const {
    if (chunks_.empty() || chunks_.front().fails) {
        return 0;
    }
    return static_cast<std::uint32_t>(chunks_.front().bytes.size() - chunks_.front().taken);
}

}  // namespace mvx::fuzz
