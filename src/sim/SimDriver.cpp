#include "sim/SimDriver.h"

#include <atomic>
#include <cstring>

namespace mvx {

namespace {

constexpr std::uint32_t kMaxBaudRate = 3000000;
// The adapter's transmit buffer: a write returns once no more than this many of its bytes
// still wait for the wire, so long writes take their wire time as on the real adapter.
constexpr std::size_t kTxBufferBytes = 128;
// How long a write on a frozen adapter waits when no write timeout is set.
constexpr std::int64_t kDefaultWriteStallUs = 1000000;

// An opened handle on the simulated bus.
class SimFtDevice final : public FtDevice {
public:
    SimFtDevice(SimulatedBus& bus, std::vector<std::string> limitations, bool latencyKnown)
        : bus_(bus), limitations_(std::move(limitations)), latencyKnown_(latencyKnown) {}
    ~SimFtDevice() override { close(); }

    FtStatus resetDevice() override {
        return call([&] {
            bus_.purgeHostInput();
            return FT_OK;
        });
    }
    FtStatus setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return call([] { return FT_OK; });
    }
    FtStatus setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override {
        return call([] { return FT_OK; });
    }
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override {
        return call([&] {
            readTimeoutMs_ = readTimeoutMs;
            writeTimeoutMs_ = writeTimeoutMs;
            return FT_OK;
        });
    }
    FtStatus setLatencyTimer(std::uint8_t) override {
        return call([] { return FT_OK; });
    }
    FtStatus setUsbParameters(std::uint32_t, std::uint32_t) override {
        return call([] { return FT_OK; });
    }
    FtStatus setBaudRate(std::uint32_t bitsPerSecond) override {
        return call([&] {
            if (bitsPerSecond == 0 || bitsPerSecond > kMaxBaudRate) {
                return FT_INVALID_BAUD_RATE;
            }
            bus_.setHostRate(bitsPerSecond);
            return FT_OK;
        });
    }
    FtStatus setBitMode(std::uint8_t, std::uint8_t) override {
        return call([] { return FT_OK; });
    }
    FtStatus purge(std::uint32_t mask) override {
        return call([&] {
            if (mask & FT_PURGE_RX) {
                bus_.purgeHostInput();
            }
            return FT_OK;
        });
    }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        return call([&] {
            if (rxBytes == nullptr) {
                return FT_INVALID_PARAMETER;
            }
            *rxBytes = static_cast<std::uint32_t>(bus_.pendingBytes());
            return FT_OK;
        });
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        if (received != nullptr) {
            *received = 0;
        }
        return call([&] {
            if (received == nullptr || (buffer == nullptr && count > 0)) {
                return FT_INVALID_PARAMETER;
            }
            *received = static_cast<std::uint32_t>(
                bus_.hostReadWait(buffer, count, static_cast<std::int64_t>(readTimeoutMs_) * 1000));
            return FT_OK;
        });
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        if (written != nullptr) {
            *written = 0;
        }
        return call([&] {
            if (written == nullptr || (buffer == nullptr && count > 0)) {
                return FT_INVALID_PARAMETER;
            }
            if (bus_.adapterFrozen()) {
                const std::uint32_t timeoutMs = writeTimeoutMs_;
                bus_.clock().sleepUs(timeoutMs != 0 ? static_cast<std::int64_t>(timeoutMs) * 1000
                                                    : kDefaultWriteStallUs);
                return FT_OK;  // nothing taken
            }
            const std::uint32_t rate = bus_.hostRate();
            bus_.hostWrite(buffer, count, rate);
            *written = count;
            bus_.clock().sleepUntilUs(bus_.hostWireFreeUs() -
                                      SimulatedBus::wireTimeUs(kTxBufferBytes, rate));
            return FT_OK;
        });
    }
    FtStatus close() override {
        if (closed_.exchange(true)) {
            return FT_INVALID_HANDLE;
        }
        const bool ok = bus_.adapterCall();
        bus_.releaseAdapter();
        return ok ? FT_OK : FT_IO_ERROR;
    }

    std::vector<std::string> limitations() const override { return limitations_; }
    std::int64_t receiveLatencyUs() const override {
        return latencyKnown_ ? bus_.receiveLatencyUs() : -1;
    }

private:
    template <typename F>
    FtStatus call(F&& body) {
        if (closed_) {
            return FT_INVALID_HANDLE;
        }
        // An unplugged adapter takes its open handle with it.
        if (!bus_.adapterCall() || !bus_.adapterPlugged()) {
            return FT_IO_ERROR;
        }
        return body();
    }

    SimulatedBus& bus_;
    const std::vector<std::string> limitations_;
    const bool latencyKnown_;
    // Atomic: the link is used from the GUI thread and from worker threads.
    std::atomic<std::uint32_t> readTimeoutMs_{0};
    std::atomic<std::uint32_t> writeTimeoutMs_{0};
    std::atomic<bool> closed_{false};
};

}  // namespace

FtStatus SimDriver::listNumber(std::uint32_t* count) {
    if (!bus_.adapterCall()) {
        return FT_IO_ERROR;
    }
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *count = bus_.adapterPlugged() ? 1 : 0;
    return FT_OK;
}

FtStatus SimDriver::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    if (!bus_.adapterCall()) {
        return FT_IO_ERROR;
    }
    if (buffer == nullptr || size == 0) {
        return FT_INVALID_PARAMETER;
    }
    if (index != 0 || !bus_.adapterPlugged()) {
        return FT_DEVICE_NOT_FOUND;
    }
    const std::string name = bus_.adapterName();
    const std::size_t limit = std::min(size, kFtDescriptionSize);
    const std::size_t n = std::min(name.size(), limit - 1);
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    return FT_OK;
}

FtStatus SimDriver::open(std::uint32_t index, FtHandle* handle) {
    if (!bus_.adapterCall()) {
        return FT_IO_ERROR;
    }
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (index != 0 || !bus_.adapterPlugged()) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (!bus_.claimAdapter()) {
        return FT_DEVICE_NOT_OPENED;
    }
    *handle = std::make_unique<SimFtDevice>(bus_, limitations_, latencyKnown_);
    return FT_OK;
}

}  // namespace mvx
