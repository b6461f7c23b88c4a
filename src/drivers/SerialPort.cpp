#include "drivers/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <utility>

#include "drivers/DescriptionText.h"
#include "drivers/Termios2.h"

namespace mvx {

namespace {

// How long a write waits for room in the tty's output buffer when no write timeout is set.
constexpr int kDefaultWriteStallMs = 1000;

// Line-setting values as the list calls name them.
constexpr std::uint8_t kBits7 = 7;
constexpr std::uint8_t kStopBits2 = 2;
constexpr std::uint8_t kParityOdd = 1;
constexpr std::uint8_t kParityEven = 2;
constexpr std::uint16_t kFlowRtsCts = 0x0100;

std::string lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The kernel's name of the tty behind `path` (resolving /dev/serial/by-id links).
std::string ttyName(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        return lastComponent(resolved);
    }
    return lastComponent(path);
}

// Whether the tty `name` is served by the kernel's FTDI driver.
bool servedByFtdiDriver(const std::string& sysRoot, const std::string& name) {
    char resolved[PATH_MAX];
    const std::string driver = sysRoot + "/class/tty/" + name + "/device/driver";
    return ::realpath(driver.c_str(), resolved) != nullptr && lastComponent(resolved) == "ftdi_sio";
}

}  // namespace

FtStatus SerialPort::statusOf(int error) {
    switch (error) {
        case EIO:
        case ENXIO:
        case ENODEV:
            return FT_IO_ERROR;
        case EBADF:
            return FT_INVALID_HANDLE;
        default:
            return FT_OTHER_ERROR;
    }
}

FtStatus SerialPort::open(const std::string& path, FtHandle* handle,
                          const SerialPortOptions& options) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    handle->reset();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENODEV || errno == ENXIO ? FT_DEVICE_NOT_FOUND
                                                                    : FT_DEVICE_NOT_OPENED;
    }
    if (!::isatty(fd) || tty::makeRaw(fd) != 0) {
        ::close(fd);
        return FT_DEVICE_NOT_OPENED;
    }
    // Both are refinements: a pseudo-terminal has no serial driver settings (ENOTTY) and root
    // ignores the exclusive flag.
    (void)tty::setExclusive(fd);
    (void)tty::setLowLatency(fd);
    (void)tty::flush(fd, true, false);
    handle->reset(new SerialPort(fd, path, options));
    return FT_OK;
}

SerialPort::SerialPort(int fd, std::string path, const SerialPortOptions& options)
    : fd_(fd),
      path_(std::move(path)),
      ttyName_(ttyName(path_)),
      sysRoot_(options.sysRoot),
      devRoot_(options.devRoot),
      ftdi_(servedByFtdiDriver(sysRoot_, ttyName_)),
      cbusFactory_(options.cbusPins ? options.cbusPins : CbusPinsFactory(openGpioCbusPins)),
      clock_(options.clock != nullptr ? *options.clock : systemClock_) {}

SerialPort::~SerialPort() {
    close();
}

FtStatus SerialPort::close() {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    // The exclusive flag outlives this descriptor while another one keeps the tty open (a bus
    // server holding its own end of a pseudo-terminal does): clear it, or the next open fails.
    (void)tty::clearExclusive(fd_);
    cbusPins_.reset();
    ::close(fd_);
    fd_ = -1;
    return FT_OK;
}

FtStatus SerialPort::resetDevice() {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    // A tty has no chip to reset; what is left of the last session is its buffered bytes.
    const int e = tty::flush(fd_, true, true);
    return e == 0 ? FT_OK : statusOf(e);
}

FtStatus SerialPort::setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                            std::uint8_t parity) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    if ((wordLength != FT_BITS_8 && wordLength != kBits7) ||
        (stopBits != FT_STOP_BITS_1 && stopBits != kStopBits2) ||
        (parity != FT_PARITY_NONE && parity != kParityOdd && parity != kParityEven)) {
        return FT_INVALID_PARAMETER;
    }
    const int ttyParity = parity == kParityOdd    ? tty::kParityOdd
                          : parity == kParityEven ? tty::kParityEven
                                                  : tty::kParityNone;
    const int e = tty::setLine(fd_, wordLength, stopBits == kStopBits2, ttyParity);
    return e == 0 ? FT_OK : statusOf(e);
}

FtStatus SerialPort::setFlowControl(std::uint16_t flowControl, std::uint8_t /*xon*/,
                                    std::uint8_t /*xoff*/) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    if (flowControl != FT_FLOW_NONE && flowControl != kFlowRtsCts) {
        return FT_INVALID_PARAMETER;
    }
    const int e = tty::setHardwareFlow(fd_, flowControl == kFlowRtsCts);
    return e == 0 ? FT_OK : statusOf(e);
}

FtStatus SerialPort::setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    readTimeoutMs_.store(readTimeoutMs, std::memory_order_relaxed);
    writeTimeoutMs_.store(writeTimeoutMs, std::memory_order_relaxed);
    return FT_OK;
}

std::string SerialPort::latencyAttribute() const {
    return sysRoot_ + "/class/tty/" + ttyName_ + "/device/latency_timer";
}

FtStatus SerialPort::setLatencyTimer(std::uint8_t milliseconds) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    // USB serial drivers that buffer like the FTDI chips offer the chip's timer in sysfs;
    // elsewhere (ACM, on-board UARTs, pseudo-terminals) there is nothing to set.
    const std::string attribute = latencyAttribute();
    if (::access(attribute.c_str(), W_OK) == 0) {
        std::ofstream out(attribute);
        out << static_cast<unsigned>(milliseconds) << '\n';
    }
    if (!ftdi_) {
        return FT_OK;
    }
    // The attribute is usually root's to write; the low-latency flag set at open may have
    // done the job anyway. What counts is what the chip now runs with.
    std::ifstream in(attribute);
    unsigned actual = 0;
    if (!(in >> actual)) {
        noteLimitation(ttyName_ + ": the latency timer cannot be read back (" + attribute +
                       "), so it may stay at 16 ms and every reply come late");
        return FT_OK;
    }
    latencyUs_.store(static_cast<std::int64_t>(actual) * 1000, std::memory_order_relaxed);
    if (actual != milliseconds) {
        noteLimitation(ttyName_ + ": the latency timer stays at " + std::to_string(actual) +
                       " ms, not " + std::to_string(milliseconds) +
                       " ms, so every reply comes up to " + std::to_string(actual) + " ms late (" +
                       attribute + " is not writable)");
    }
    return FT_OK;
}

FtStatus SerialPort::setUsbParameters(std::uint32_t /*inTransferSize*/,
                                      std::uint32_t /*outTransferSize*/) {
    return fd_ < 0 ? FT_INVALID_HANDLE : FT_OK;
}

FtStatus SerialPort::setBaudRate(std::uint32_t bitsPerSecond) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    const int e = tty::setRate(fd_, bitsPerSecond);
    if (e == 0) {
        rateBps_.store(bitsPerSecond, std::memory_order_relaxed);
        return FT_OK;
    }
    return e == EINVAL ? FT_INVALID_BAUD_RATE : statusOf(e);
}

FtStatus SerialPort::setBitMode(std::uint8_t mask, std::uint8_t mode) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    // Only an FTDI chip has CBUS pins; any other serial port has nothing to switch.
    if (!ftdi_) {
        return FT_OK;
    }
    if (mode != FT_BITMODE_CBUS_BITBANG) {
        cbusPins_.reset();  // the pins go back to the kernel's default
        return FT_OK;
    }
    const std::string chip = findCbusChip(sysRoot_, ttyName_);
    std::string failure;
    if (chip.empty()) {
        failure =
            "the kernel offers no GPIO chip for its CBUS pins (they are not in I/O mode "
            "in the adapter's EEPROM)";
    } else {
        if (!cbusPins_) {
            cbusPins_ = cbusFactory_(devRoot_ + "/" + chip);
        }
        failure = cbusPins_->drive(mask);
    }
    if (!failure.empty()) {
        noteLimitation(ttyName_ + ": CBUS3 is not driven: " + failure);
    }
    return FT_OK;
}

void SerialPort::noteLimitation(const std::string& text) {
    const std::lock_guard<std::mutex> lock(limitationsMutex_);
    if (std::find(limitations_.begin(), limitations_.end(), text) == limitations_.end()) {
        limitations_.push_back(text);
    }
}

std::vector<std::string> SerialPort::limitations() const {
    const std::lock_guard<std::mutex> lock(limitationsMutex_);
    return limitations_;
}

FtStatus SerialPort::purge(std::uint32_t mask) {
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    const int e = tty::flush(fd_, (mask & FT_PURGE_RX) != 0, (mask & FT_PURGE_TX) != 0);
    return e == 0 ? FT_OK : statusOf(e);
}

FtStatus SerialPort::getQueueStatus(std::uint32_t* rxBytes) {
    if (rxBytes == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    const int e = tty::bytesWaiting(fd_, rxBytes);
    return e == 0 ? FT_OK : statusOf(e);
}

FtStatus SerialPort::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) {
    if (received == nullptr || (buffer == nullptr && count > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *received = 0;
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    const std::int64_t deadlineUs =
        clock_.nowUs() +
        static_cast<std::int64_t>(readTimeoutMs_.load(std::memory_order_relaxed)) * 1000;
    std::uint32_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n == 0) {
            // In raw mode with VMIN 1 a read returns 0 only on a hung-up line.
            *received = got;
            return FT_IO_ERROR;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            *received = got;
            return statusOf(errno);
        }
        const std::int64_t remainingUs = deadlineUs - clock_.nowUs();
        if (remainingUs <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        const timespec wait{static_cast<time_t>(remainingUs / 1000000),
                            static_cast<long>(remainingUs % 1000000) * 1000};
        const int r = ::ppoll(&p, 1, &wait, nullptr);
        if (r < 0 && errno != EINTR) {
            *received = got;
            return statusOf(errno);
        }
        if (r == 0) {
            break;  // the wait ran to its end (also when the clock is not real time)
        }
        if (r > 0 && (p.revents & POLLNVAL)) {
            *received = got;
            return FT_INVALID_HANDLE;
        }
        // Data, hang-up or error: the next read tells which.
    }
    *received = got;
    return FT_OK;
}

void SerialPort::paceWrite(std::uint32_t bytes) {
    const std::uint32_t rate = rateBps_.load(std::memory_order_relaxed);
    if (rate == 0 || bytes == 0) {
        return;  // no rate set yet: nothing to pace by
    }
    // 10 bit times per byte on the wire (start, 8 data, stop).
    auto wireUs = [rate](std::uint64_t n) {
        return static_cast<std::int64_t>(n * 10u * 1'000'000u / rate);
    };
    const std::int64_t now = clock_.nowUs();
    const std::int64_t start = std::max(now, wireFreeUs_.load(std::memory_order_relaxed));
    const std::int64_t freeAt = start + wireUs(bytes);
    wireFreeUs_.store(freeAt, std::memory_order_relaxed);
    const std::int64_t returnAt = freeAt - wireUs(kWriteAheadBytes);
    if (returnAt > now) {
        clock_.sleepUntilUs(returnAt);
    }
}

FtStatus SerialPort::write(const std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t* written) {
    if (written == nullptr || (buffer == nullptr && count > 0)) {
        return FT_INVALID_PARAMETER;
    }
    *written = 0;
    if (fd_ < 0) {
        return FT_INVALID_HANDLE;
    }
    const std::uint32_t timeout = writeTimeoutMs_.load(std::memory_order_relaxed);
    const int stallMs =
        timeout != 0 && timeout < INT_MAX ? static_cast<int>(timeout) : kDefaultWriteStallMs;
    std::uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            *written = done;
            return statusOf(errno);
        }
        // The output buffer is full: wait for room, but not for ever.
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, stallMs);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            *written = done;
            return statusOf(errno);
        }
        if (r == 0) {
            break;  // stalled: the caller sees a short write
        }
        if (p.revents & POLLNVAL) {
            *written = done;
            return FT_INVALID_HANDLE;
        }
    }
    *written = done;
    paceWrite(done);
    return FT_OK;
}

// ---------------------------------------------------------------------------------------------

SerialPortDriver::SerialPortDriver(std::string path, std::string description,
                                   SerialPortOptions options)
    : path_(std::move(path)),
      description_(description.empty() ? lastComponent(path_) : std::move(description)),
      options_(std::move(options)) {}

FtStatus SerialPortDriver::listNumber(std::uint32_t* count) {
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    struct stat st {};
    *count = ::stat(path_.c_str(), &st) == 0 ? 1u : 0u;
    return FT_OK;
}

FtStatus SerialPortDriver::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    if (index != 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    return copyDescription(description_, buffer, size) ? FT_OK : FT_INVALID_PARAMETER;
}

FtStatus SerialPortDriver::open(std::uint32_t index, FtHandle* handle) {
    if (index != 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    return SerialPort::open(path_, handle, options_);
}

std::string serialDeviceProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return "no such serial device: " + path;
        }
        return path + " is not a serial device";
    }
    bool serial = S_ISCHR(info.st_mode);
    if (serial) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            serial = ::isatty(fd) == 1;
            ::close(fd);
        }
    }
    return serial ? std::string() : path + " is not a serial device";
}

}  // namespace mvx
