#include "drivers/FtdiDevice.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <climits>

namespace mvx {

FtdiDevice::FtdiDevice(ftdi_context* context, Clock* clock)
    : ctx_(context), clock_(clock != nullptr ? clock : &systemClock_) {}

FtdiDevice::~FtdiDevice() {
    close();
}

FtStatus FtdiDevice::resetDevice() {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // The reset also drops what libftdi had buffered; drop our queue with it.
    rx_.clear();
    return ftdi_usb_reset(ctx_) == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus FtdiDevice::setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                            std::uint8_t parity) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // The line constants have the same values on both sides: 7/8 data bits, stop bits
    // 0 = 1, 1 = 1.5, 2 = 2, parity 0..4 = none, odd, even, mark, space.
    if ((wordLength != 7 && wordLength != 8) || stopBits > 2 || parity > 4) {
        return FT_INVALID_PARAMETER;
    }
    const int rc = ftdi_set_line_property(ctx_, static_cast<ftdi_bits_type>(wordLength),
                                          static_cast<ftdi_stopbits_type>(stopBits),
                                          static_cast<ftdi_parity_type>(parity));
    return rc == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus FtdiDevice::setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                                    std::uint8_t xoff) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    int rc = 0;
    switch (flowControl) {
        case SIO_DISABLE_FLOW_CTRL:
        case SIO_RTS_CTS_HS:
        case SIO_DTR_DSR_HS:
            rc = ftdi_setflowctrl(ctx_, flowControl);
            break;
        case SIO_XON_XOFF_HS:
            rc = ftdi_setflowctrl_xonxoff(ctx_, xon, xoff);
            break;
        default:
            return FT_INVALID_PARAMETER;
    }
    return rc == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus FtdiDevice::setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // The read timeout is the deadline of our own read loop; libusb's read timeout only
    // bounds a single USB transfer and stays as it is.
    readTimeoutMs_ = readTimeoutMs;
    // A write timeout of 0 keeps libftdi's own transfer timeout.
    if (writeTimeoutMs != 0) {
        ctx_->usb_write_timeout =
            static_cast<int>(std::min<std::uint32_t>(writeTimeoutMs, INT_MAX));
    }
    return FT_OK;
}

FtStatus FtdiDevice::setLatencyTimer(std::uint8_t milliseconds) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const int rc = ftdi_set_latency_timer(ctx_, milliseconds);
    if (rc == -1) {
        return FT_INVALID_PARAMETER;  // libftdi takes 1..255
    }
    if (rc == 0) {
        latencyUs_.store(static_cast<std::int64_t>(milliseconds) * 1000);
    }
    return rc == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus FtdiDevice::setUsbParameters(std::uint32_t inTransferSize,
                                      std::uint32_t /*outTransferSize*/) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // The in size becomes libftdi's read chunk; libftdi splits writes at its own chunk size,
    // so the out size is not needed.
    if (inTransferSize == 0) {
        return FT_OK;
    }
    if (inTransferSize % 64 != 0 || inTransferSize > 65536) {
        return FT_INVALID_PARAMETER;
    }
    // Changing the chunk size discards libftdi's read buffer: move what it holds to our
    // queue first (this is a copy from memory, no USB transfer).
    if (ctx_->readbuffer_remaining > 0) {
        std::vector<std::uint8_t> pending(ctx_->readbuffer_remaining);
        const int n = ftdi_read_data(ctx_, pending.data(), static_cast<int>(pending.size()));
        if (n > 0) {
            rx_.insert(rx_.end(), pending.begin(), pending.begin() + n);
        }
    }
    return ftdi_read_data_set_chunksize(ctx_, inTransferSize) == 0 ? FT_OK
                                                                   : FT_INSUFFICIENT_RESOURCES;
}

FtStatus FtdiDevice::setBaudRate(std::uint32_t bitsPerSecond) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (bitsPerSecond == 0 || bitsPerSecond > INT_MAX) {
        return FT_INVALID_BAUD_RATE;
    }
    // Once any bit mode is set, libftdi multiplies the rate by four, which is right for the
    // bit-bang clock but not for the UART that keeps running in CBUS bit-bang mode. Clear the
    // flag for the call so the chip runs at the asked rate, and put it back afterwards.
    const unsigned char bitbang = ctx_->bitbang_enabled;
    ctx_->bitbang_enabled = 0;
    const int rc = ftdi_set_baudrate(ctx_, static_cast<int>(bitsPerSecond));
    ctx_->bitbang_enabled = bitbang;
    switch (rc) {
        case 0:
            return FT_OK;
        case -1:
            return FT_INVALID_BAUD_RATE;
        case -3:
            return FT_INVALID_HANDLE;
        default:
            return FT_IO_ERROR;
    }
}

FtStatus FtdiDevice::setBitMode(std::uint8_t mask, std::uint8_t mode) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    return ftdi_set_bitmode(ctx_, mask, mode) == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus FtdiDevice::purge(std::uint32_t mask) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if ((mask & ~(FT_PURGE_RX | FT_PURGE_TX)) != 0) {
        return FT_INVALID_PARAMETER;
    }
    if ((mask & FT_PURGE_RX) != 0) {
        // ftdi_tciflush flushes the chip's receive FIFO and libftdi's read buffer.
        rx_.clear();
        if (ftdi_tciflush(ctx_) != 0) {
            return FT_IO_ERROR;
        }
    }
    if ((mask & FT_PURGE_TX) != 0 && ftdi_tcoflush(ctx_) != 0) {
        return FT_IO_ERROR;
    }
    return FT_OK;
}

FtStatus FtdiDevice::poll() {
    if (rx_.size() >= kMaxQueued) {
        return FT_OK;  // leave the rest in the adapter until the queue is read
    }
    // ftdi_read_data returns at once with what the adapter has sent (it strips the two
    // modem-status bytes of every USB packet), often nothing.
    scratch_.resize(std::max<std::size_t>(ctx_->readbuffer_chunksize, 64));
    const int n = ftdi_read_data(ctx_, scratch_.data(), static_cast<int>(scratch_.size()));
    if (n == LIBUSB_ERROR_TIMEOUT) {
        return FT_OK;  // the transfer timed out: nothing arrived
    }
    if (n < 0) {
        return FT_IO_ERROR;
    }
    rx_.insert(rx_.end(), scratch_.begin(), scratch_.begin() + n);
    return FT_OK;
}

std::uint32_t FtdiDevice::take(std::uint8_t* out, std::uint32_t count) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, rx_.size()));
    std::copy_n(rx_.begin(), n, out);
    rx_.erase(rx_.begin(), rx_.begin() + n);
    return n;
}

FtStatus FtdiDevice::getQueueStatus(std::uint32_t* rxBytes) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    const FtStatus status = poll();
    *rxBytes = static_cast<std::uint32_t>(rx_.size());
    return status;
}

FtStatus FtdiDevice::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (received == nullptr || (buffer == nullptr && count > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *received = 0;
    const std::int64_t deadline =
        clock_->nowUs() + static_cast<std::int64_t>(readTimeoutMs_) * 1000;
    std::uint32_t got = take(buffer, count);
    while (got < count) {
        const FtStatus status = poll();
        if (status != FT_OK) {
            *received = got;
            return status;
        }
        const std::uint32_t more = take(buffer + got, count - got);
        got += more;
        if (got == count) {
            break;
        }
        const std::int64_t now = clock_->nowUs();
        if (now >= deadline) {
            break;
        }
        if (more == 0) {
            clock_->sleepUs(std::min(kPollIntervalUs, deadline - now));
        }
    }
    *received = got;
    return FT_OK;
}

FtStatus FtdiDevice::write(const std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t* written) {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (written == nullptr || (buffer == nullptr && count > 0) || count > INT_MAX) {
        return FT_INVALID_PARAMETER;
    }
    *written = 0;
    if (count == 0) {
        return FT_OK;
    }
    const int n = ftdi_write_data(ctx_, buffer, static_cast<int>(count));
    if (n < 0) {
        return FT_IO_ERROR;
    }
    *written = static_cast<std::uint32_t>(n);
    return FT_OK;
}

FtStatus FtdiDevice::close() {
    if (ctx_ == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // ftdi_usb_close may report a failed interface release when the device is gone; the
    // handle is closed all the same.
    ftdi_usb_close(ctx_);
    ftdi_free(ctx_);
    ctx_ = nullptr;
    rx_.clear();
    return FT_OK;
}

}  // namespace mvx
