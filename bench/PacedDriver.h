// A driver wrapper whose writes return only when their last byte has left on the wire, as
// an adapter's write does once its transmit buffer is full. The simulated bus takes a write
// at once and lets the bytes go out in virtual time behind the host's back, so a long image
// would still be on the wire while the host already waits for the loader's answer; paced,
// the host's waits start where they start on a real adapter. The byte time is rounded up to
// whole microseconds, as the simulated bus rounds it, so the two stay in step.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx::bench {

class PacedDevice final : public FtDevice {
public:
    PacedDevice(FtHandle inner, Clock& clock) : inner_(std::move(inner)), clock_(clock) {}

    FtStatus resetDevice() override { return inner_->resetDevice(); }
    FtStatus setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override {
        return inner_->setDataCharacteristics(wordLength, stopBits, parity);
    }
    FtStatus setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) override {
        return inner_->setFlowControl(flowControl, xon, xoff);
    }
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override {
        return inner_->setTimeouts(readTimeoutMs, writeTimeoutMs);
    }
    FtStatus setLatencyTimer(std::uint8_t milliseconds) override {
        return inner_->setLatencyTimer(milliseconds);
    }
    FtStatus setUsbParameters(std::uint32_t inTransferSize,
                              std::uint32_t outTransferSize) override {
        return inner_->setUsbParameters(inTransferSize, outTransferSize);
    }
    FtStatus setBaudRate(std::uint32_t bitsPerSecond) override {
        const FtStatus status = inner_->setBaudRate(bitsPerSecond);
        if (status == FT_OK) {
            rateBps_ = bitsPerSecond;
        }
        return status;
    }
    FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode) override {
        return inner_->setBitMode(mask, mode);
    }
    FtStatus purge(std::uint32_t mask) override { return inner_->purge(mask); }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        return inner_->getQueueStatus(rxBytes);
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        return inner_->read(buffer, count, received);
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        const FtStatus status = inner_->write(buffer, count, written);
        if (rateBps_ != 0 && written != nullptr && *written != 0) {
            const std::int64_t byteUs = (10'000'000 + rateBps_ - 1) / rateBps_;
            const std::int64_t start = std::max(clock_.nowUs(), wireFreeUs_);
            wireFreeUs_ = start + static_cast<std::int64_t>(*written) * byteUs;
            clock_.sleepUntilUs(wireFreeUs_);
        }
        return status;
    }
    FtStatus close() override { return inner_->close(); }

private:
    FtHandle inner_;
    Clock& clock_;
    std::int64_t rateBps_ = 0;
    std::int64_t wireFreeUs_ = 0;
};

class PacedDriver final : public FtDriver {
public:
    PacedDriver(FtDriver& inner, Clock& clock) : inner_(inner), clock_(clock) {}

    FtStatus listNumber(std::uint32_t* count) override { return inner_.listNumber(count); }
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override {
        return inner_.listDescription(index, buffer, size);
    }
    FtStatus open(std::uint32_t index, FtHandle* handle) override {
        FtHandle inner;
        const FtStatus status = inner_.open(index, &inner);
        if (status == FT_OK && inner) {
            *handle = std::make_unique<PacedDevice>(std::move(inner), clock_);
        }
        return status;
    }

private:
    FtDriver& inner_;
    Clock& clock_;
};

}  // namespace mvx::bench
