// A driver whose adapter costs next to nothing: every write is taken whole, and the reply
// that follows it is copied out of a precomputed buffer. Used to measure the host's own
// transaction path, with no simulated wire, latency or device logic behind it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "drivers/FtDriver.h"

namespace mvx::bench {

class LoopbackDevice final : public FtDevice {
public:
    // The bytes handed back after each write.
    void setReply(std::vector<std::uint8_t> reply) {
        reply_ = std::move(reply);
        position_ = reply_.size();
    }

    FtStatus resetDevice() override { return FT_OK; }
    FtStatus setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return FT_OK;
    }
    FtStatus setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus setTimeouts(std::uint32_t, std::uint32_t) override { return FT_OK; }
    FtStatus setLatencyTimer(std::uint8_t) override { return FT_OK; }
    FtStatus setUsbParameters(std::uint32_t, std::uint32_t) override { return FT_OK; }
    FtStatus setBaudRate(std::uint32_t) override { return FT_OK; }
    FtStatus setBitMode(std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus purge(std::uint32_t mask) override {
        if (mask & FT_PURGE_RX) {
            position_ = reply_.size();
        }
        return FT_OK;
    }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        *rxBytes = static_cast<std::uint32_t>(reply_.size() - position_);
        return FT_OK;
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        const std::size_t n = std::min<std::size_t>(count, reply_.size() - position_);
        std::memcpy(buffer, reply_.data() + position_, n);
        position_ += n;
        *received = static_cast<std::uint32_t>(n);
        return FT_OK;
    }
    FtStatus write(const std::uint8_t*, std::uint32_t count, std::uint32_t* written) override {
        *written = count;
        position_ = 0;  // the reply is ready at once
        return FT_OK;
    }
    FtStatus close() override { return FT_OK; }

private:
    std::vector<std::uint8_t> reply_;
    std::size_t position_ = 0;
};

// Lists one adapter and opens a LoopbackDevice; device() reaches the one opened last.
class LoopbackDriver final : public FtDriver {
public:
    FtStatus listNumber(std::uint32_t* count) override {
        *count = 1;
        return FT_OK;
    }
    FtStatus listDescription(std::uint32_t, char* buffer, std::size_t size) override {
        std::strncpy(buffer, "Loopback", size);
        buffer[size - 1] = '\0';
        return FT_OK;
    }
    FtStatus open(std::uint32_t, FtHandle* handle) override {
        auto device = std::make_unique<LoopbackDevice>();
        device_ = device.get();
        *handle = std::move(device);
        return FT_OK;
    }

    LoopbackDevice* device() { return device_; }

private:
    LoopbackDevice* device_ = nullptr;
};

}  // namespace mvx::bench
