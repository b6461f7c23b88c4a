// The Linux serial-port backend: an adapter that the kernel already serves as a tty
// (/dev/ttyUSB*, /dev/ttyACM*, /dev/serial/by-id/*, or any other tty such as a pseudo-terminal)
// driven through the FtDevice interface.
//
// What a tty cannot do is accepted as a no-op: the USB transfer sizes, and on other serial
// ports than FTDI adapters the CBUS bit mode and the latency timer. On an FTDI adapter the
// latency timer goes to the driver's sysfs attribute and the CBUS pins to the GPIO chip the
// kernel offers for them; what of that does not take effect is reported by limitations().
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/CbusPins.h"
#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx {

struct SerialPortOptions {
    // Time source for read deadlines; nullptr means real time.
    Clock* clock = nullptr;
    // Root of sysfs, used to find the adapter's driver, latency_timer and GPIO chip.
    std::string sysRoot = "/sys";
    // Where the GPIO chip's device node lives.
    std::string devRoot = "/dev";
    // Opens the CBUS pins of a GPIO chip; empty means through the kernel (libgpiod).
    CbusPinsFactory cbusPins;
};

class SerialPort final : public FtDevice {
public:
    // Opens `path` in raw mode (8N1, no flow control, low latency where supported).
    // FT_DEVICE_NOT_FOUND when the path does not exist, FT_DEVICE_NOT_OPENED when it cannot be
    // opened (permission, busy) or is not a tty.
    static FtStatus open(const std::string& path, FtHandle* handle,
                         const SerialPortOptions& options = {});

    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

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
    // Returns once at most kWriteAheadBytes of what was written still wait to go out on the
    // wire, as a USB adapter's write does: the kernel takes whole kilobytes at once, and callers
    // time their waits (a reply expected 300 ms after an image) from the end of the write.
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override;
    FtStatus close() override;
    std::vector<std::string> limitations() const override;
    // The FTDI driver's latency timer as read back by setLatencyTimer; -1 on other ttys
    // (ACM, on-board UARTs, pseudo-terminals), whose delivery delay cannot be read.
    std::int64_t receiveLatencyUs() const override {
        return latencyUs_.load(std::memory_order_relaxed);
    }

    static constexpr std::uint32_t kWriteAheadBytes = 128;

    const std::string& path() const { return path_; }

private:
    SerialPort(int fd, std::string path, const SerialPortOptions& options);

    // Status for a failed call: a vanished device is FT_IO_ERROR, anything else a plain failure.
    static FtStatus statusOf(int error);
    // Waits until at most kWriteAheadBytes of the bytes written are still on their way.
    void paceWrite(std::uint32_t bytes);
    // Records a setting that did not take effect (once per text).
    void noteLimitation(const std::string& text);

    // The latency timer attribute of the adapter's driver in sysfs.
    std::string latencyAttribute() const;

    int fd_;
    std::string path_;
    std::string ttyName_;  // the kernel's name, e.g. ttyUSB0
    std::string sysRoot_;
    std::string devRoot_;
    bool ftdi_ = false;  // served by the kernel's FTDI driver
    CbusPinsFactory cbusFactory_;
    std::unique_ptr<CbusPins> cbusPins_;
    mutable std::mutex limitationsMutex_;
    std::vector<std::string> limitations_;
    SystemClock systemClock_;
    Clock& clock_;
    std::atomic<std::uint32_t> readTimeoutMs_{0};
    std::atomic<std::int64_t> latencyUs_{-1};
    std::atomic<std::uint32_t> writeTimeoutMs_{0};
    // Pacing of writes (see write()): the rate last set, 0 before the first setBaudRate, and
    // the clock time at which the bytes written so far will have left the wire.
    std::atomic<std::uint32_t> rateBps_{0};
    std::atomic<std::int64_t> wireFreeUs_{0};
};

// Why `path` cannot serve as a serial port, as the programs tell it on their command line
// ("no such serial device: PATH" or "PATH is not a serial device"); empty when it can. A
// serial device is a character device that is a terminal: a regular file, a directory,
// /dev/null or /dev/zero is none. The device is opened non-blocking just to ask; one that
// cannot be opened (permission, busy) passes, and its driver reports why when it is opened.
std::string serialDeviceProblem(const std::string& path);

// A driver over one tty path, e.g. the command line's --port. It lists the port when the path
// exists and opens it as a SerialPort.
class SerialPortDriver final : public FtDriver {
public:
    // `description` defaults to the tty's name (the path's last component).
    explicit SerialPortDriver(std::string path, std::string description = {},
                              SerialPortOptions options = {});

    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

private:
    std::string path_;
    std::string description_;
    SerialPortOptions options_;
};

}  // namespace mvx
