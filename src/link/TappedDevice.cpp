#include "link/TappedDevice.h"

#include <utility>

namespace mvx {

namespace {

class TappedDevice final : public FtDevice {
public:
    // `code` is the link's current baud-rate code, read at each call.
    TappedDevice(FtHandle inner, LinkTap& tap, const std::atomic<int>& code)
        : inner_(std::move(inner)), tap_(tap), code_(code) {}

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
        return inner_->setBaudRate(bitsPerSecond);
    }
    FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode) override {
        return inner_->setBitMode(mask, mode);
    }
    FtStatus purge(std::uint32_t mask) override { return inner_->purge(mask); }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        return inner_->getQueueStatus(rxBytes);
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        const FtStatus status = inner_->read(buffer, count, received);
        if (status != FT_IO_ERROR) {
            tap_.read(buffer, *received, count, code_.load(std::memory_order_acquire));
        }
        return status;
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        const FtStatus status = inner_->write(buffer, count, written);
        if (status != FT_IO_ERROR) {
            tap_.wrote(buffer, count, *written, code_.load(std::memory_order_acquire));
        }
        return status;
    }
    FtStatus close() override { return inner_->close(); }
    std::vector<std::string> limitations() const override { return inner_->limitations(); }
    std::int64_t receiveLatencyUs() const override { return inner_->receiveLatencyUs(); }

private:
    FtHandle inner_;
    LinkTap& tap_;
    const std::atomic<int>& code_;
};

}  // namespace

FtHandle makeTappedDevice(FtHandle inner, LinkTap& tap, const std::atomic<int>& code) {
    return std::make_unique<TappedDevice>(std::move(inner), tap, code);
}

}  // namespace mvx
