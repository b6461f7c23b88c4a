// One FTDI adapter opened through libftdi1, behind the FtDevice interface.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

struct ftdi_context;

namespace mvx {

class FtdiDevice final : public FtDevice {
public:
    // Takes over `context`, which must hold an opened USB device. `clock` paces the timed
    // read; null means real time.
    FtdiDevice(ftdi_context* context, Clock* clock);
    ~FtdiDevice() override;

    FtdiDevice(const FtdiDevice&) = delete;
    FtdiDevice& operator=(const FtdiDevice&) = delete;

    FtStatus resetDevice() override;
    FtStatus setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override;
    FtStatus setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) override;
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override;
    FtStatus setLatencyTimer(std::uint8_t milliseconds) override;
    FtStatus setUsbParameters(std::uint32_t inTransferSize, std::uint32_t outTransferSize) override;
    FtStatus setBaudRate(std::uint32_t bitsPerSecond) override;
    FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode) override;
    FtStatus purge(std::uint32_t mask) override;
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override;
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override;
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override;
    FtStatus close() override;
    // The latency timer last set (libftdi sets it at open, through setLatencyTimer).
    std::int64_t receiveLatencyUs() const override { return latencyUs_; }

    // Pause between two polls of an empty receive path during a timed read.
    static constexpr std::int64_t kPollIntervalUs = 500;
    // The receive queue stops fetching from the adapter once it holds this many bytes.
    static constexpr std::size_t kMaxQueued = 64 * 1024;

private:
    // Fetches whatever the adapter has received, without waiting, into rx_.
    FtStatus poll();
    // Moves up to `count` queued bytes to `out`; returns how many.
    std::uint32_t take(std::uint8_t* out, std::uint32_t count);

    ftdi_context* ctx_;
    Clock* clock_;
    SystemClock systemClock_;
    std::uint32_t readTimeoutMs_ = 0;
    std::atomic<std::int64_t> latencyUs_{-1};
    std::deque<std::uint8_t> rx_;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace mvx
