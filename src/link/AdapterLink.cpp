#include "link/AdapterLink.h"

#include "link/TappedDevice.h"
#include "protocol/ResultCode.h"

#include <utility>

namespace mvx {

namespace {

// Read timeout margin: fast rates answer within 20 ms; 19230 bps and below get 60 ms.
constexpr int kSlowRateCode = 103;
constexpr float kFastMarginMs = 20.0f;
constexpr float kSlowMarginMs = 60.0f;
// Margin of a write deadline over the bytes' wire time.
constexpr float kWriteMarginMs = 1000.0f;
// The read timeout programmed with a write deadline; every read programs its own.
constexpr std::uint32_t kUntimedReadMs = 1;
// Settling pause after a rate change and after switching the bit mode.
constexpr std::int64_t kSettleMs = 100;

// CBUS bit-bang: CBUS3 an output (high nibble), driven high (on) or low (off).
constexpr std::uint8_t kBitMaskOn = 0x88;
constexpr std::uint8_t kBitMaskOff = 0x80;

}  // namespace

AdapterLink::AdapterLink(FtHandle handle, Clock& clock, LinkTap* tap)
    : handle_(std::move(handle)), clock_(clock), tap_(tap) {}

AdapterLink::~AdapterLink() {
    if (handle_) {
        handle_->close();
    }
}

std::unique_ptr<AdapterLink> AdapterLink::open(FtDriver& driver, Clock& clock, std::uint32_t index,
                                               std::uint8_t initialCode, LinkTap* tap) {
    std::unique_ptr<AdapterLink> link(new AdapterLink(nullptr, clock, tap));

    FtHandle handle;
    if (driver.open(index, &handle) != FT_OK || !handle) {
        return nullptr;  // nothing was opened
    }
    if (tap != nullptr) {
        // The bytes are told from the adapter's own calls: a link without a tap pays nothing.
        handle = makeTappedDevice(std::move(handle), *tap, link->currentCode_);
    }
    link->handle_ = std::move(handle);
    FtDevice& dev = *link->handle_;

    // From here on a failure destroys the link, which closes the adapter.
    if (dev.resetDevice() != FT_OK) {
        return nullptr;
    }
    if (dev.setDataCharacteristics(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) != FT_OK) {
        return nullptr;
    }
    if (dev.setFlowControl(FT_FLOW_NONE, 0, 0) != FT_OK) {
        return nullptr;
    }
    if (dev.setTimeouts(0, 0) != FT_OK) {
        return nullptr;
    }
    if (dev.setLatencyTimer(1) != FT_OK) {
        return nullptr;
    }
    if (dev.setUsbParameters(512, 0) != FT_OK) {
        return nullptr;
    }
    if (link->setBaudCode(initialCode) != Success) {
        return nullptr;
    }
    if (link->setBitMode(true) != Success) {
        return nullptr;
    }
    link->purgeReceive();  // stale input only; a failure here is harmless

    link->purgePending_.store(0);
    link->busy_.store(0);
    return link;
}

int AdapterLink::setBaudCode(std::uint8_t code) {
    return setBaudCode(code, kSettleMs * 1000);
}

int AdapterLink::setBaudCode(std::uint8_t code, std::int64_t settleUs) {
    if (currentCode_.load(std::memory_order_acquire) == code) {
        return Success;
    }
    // The rate is taken in single precision; the driver gets its integer part, while the
    // byte time is derived from the unrounded single-precision rate.
    const float rate = static_cast<float>(2000000.0 / (static_cast<double>(code) + 1.0));
    if (handle_->setBaudRate(static_cast<std::uint32_t>(rate)) != FT_OK) {
        return AdapterFailure;  // keep the previous code and byte time: the link runs on at the old
                                // rate
    }
    const float byteTime = (1000.0f / rate) * 12.0f;
    byteTimeMs_.store(byteTime, std::memory_order_release);
    currentCode_.store(code, std::memory_order_release);
    if (tap_ != nullptr) {
        tap_->linkEvent({LinkEvent::Kind::RateChange, code, 0, false});
    }
    settle(settleUs);
    return Success;
}

void AdapterLink::settle(std::int64_t waitUs) {
    if (tap_ != nullptr) {
        tap_->linkEvent({LinkEvent::Kind::SettleWait, currentBaudCode(), waitUs, false});
    }
    clock_.sleepUs(waitUs);
}

int AdapterLink::currentBaudCode() const {
    return currentCode_.load(std::memory_order_acquire);
}

float AdapterLink::byteTimeMs() const {
    return byteTimeMs_.load(std::memory_order_acquire);
}

int AdapterLink::purgeReceive() {
    const int result = handle_->purge(FT_PURGE_RX) == FT_OK ? Success : AdapterFailure;
    tell({LinkEvent::Kind::Purge, currentBaudCode(), 0, false});
    return result;
}

int AdapterLink::setBitMode(bool on) {
    if (handle_->setBitMode(on ? kBitMaskOn : kBitMaskOff, FT_BITMODE_CBUS_BITBANG) != FT_OK) {
        return AdapterFailure;
    }
    tell({LinkEvent::Kind::BitMode, currentBaudCode(), 0, on});
    if (on) {
        settle(kSettleMs * 1000);
        purgeReceive();  // discard whatever the switch left in the receive buffer
    }
    return Success;
}

int AdapterLink::queueLength(std::uint32_t& rxBytes) {
    return handle_->getQueueStatus(&rxBytes) == FT_OK ? Success : AdapterFailure;
}

std::uint32_t AdapterLink::readTimeoutMs(std::uint32_t count, bool timed) const {
    if (!timed) {
        return 1;
    }
    const float margin = currentBaudCode() < kSlowRateCode ? kFastMarginMs : kSlowMarginMs;
    const float timeout = byteTimeMs() * static_cast<float>(count) + margin;
    return static_cast<std::uint32_t>(timeout) + receiveAllowanceMs_.load();
}

int AdapterLink::write(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t& written) {
    std::uint32_t done = 0;
    if (handle_->write(bytes, count, &done) == FT_IO_ERROR) {
        return AdapterFailure;
    }
    // Any other status is judged by the count alone.
    written = done;
    return done == count ? Success : WriteIncomplete;
}

std::uint32_t AdapterLink::writeDeadlineMs(std::uint32_t count) const {
    return static_cast<std::uint32_t>(byteTimeMs() * static_cast<float>(count) + kWriteMarginMs);
}

int AdapterLink::writeWithin(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t& written,
                             bool& overdue) {
    overdue = false;
    written = 0;
    const std::uint32_t deadlineMs = writeDeadlineMs(count);
    if (handle_->setTimeouts(kUntimedReadMs, deadlineMs) != FT_OK) {
        return AdapterFailure;
    }
    const std::int64_t startUs = clock_.nowUs();
    const int result = write(bytes, count, written);
    overdue = result == WriteIncomplete &&
              clock_.nowUs() - startUs >= static_cast<std::int64_t>(deadlineMs) * 1000;
    return result;
}

int AdapterLink::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                      bool timed) {
    return readWithin(buffer, count, received, readTimeoutMs(count, timed));
}

int AdapterLink::readWithin(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                            std::uint32_t timeoutMs) {
    received = 0;
    if (handle_->setTimeouts(timeoutMs, 0) != FT_OK) {
        return AdapterFailure;
    }
    std::uint32_t got = 0;
    if (handle_->read(buffer, count, &got) == FT_IO_ERROR) {
        return AdapterFailure;
    }
    // Any other status is judged by the count alone.
    received = got;
    return got == count ? Success : Timeout;
}

int adapterCount(FtDriver& driver) {
    std::uint32_t count = 0;
    if (driver.listNumber(&count) != FT_OK) {
        return -1;
    }
    return static_cast<int>(count);
}

int adapterDescription(FtDriver& driver, std::uint32_t index, char (&buffer)[128]) {
    buffer[0] = '\0';
    if (driver.listDescription(index, buffer, sizeof buffer) != FT_OK) {
        return AdapterFailure;
    }
    buffer[sizeof buffer - 1] = '\0';  // never trust the driver to terminate
    return Success;
}

}  // namespace mvx
