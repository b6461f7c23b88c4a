// The adapter driver interface: the small set of FTDI-style driver operations the adapter
// link uses, with the same parameters and status semantics. Backends: libftdi1 for FTDI
// adapters, the Linux serial port, the simulated bus, and a scripted driver in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mvx {

// Driver status values. Only FT_OK and FT_IO_ERROR carry meaning for the link; every other
// non-zero value is "the call failed".
using FtStatus = std::uint32_t;
inline constexpr FtStatus FT_OK = 0;
inline constexpr FtStatus FT_INVALID_HANDLE = 1;
inline constexpr FtStatus FT_DEVICE_NOT_FOUND = 2;
inline constexpr FtStatus FT_DEVICE_NOT_OPENED = 3;
inline constexpr FtStatus FT_IO_ERROR = 4;
inline constexpr FtStatus FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FtStatus FT_INVALID_PARAMETER = 6;
inline constexpr FtStatus FT_INVALID_BAUD_RATE = 7;
inline constexpr FtStatus FT_OTHER_ERROR = 18;

// Device listing flags (the list calls below are the two listing forms in use).
inline constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
inline constexpr std::uint32_t FT_LIST_BY_INDEX = 0x40000000u;
inline constexpr std::uint32_t FT_OPEN_BY_DESCRIPTION = 2u;

// Line settings.
inline constexpr std::uint8_t FT_BITS_8 = 8;
inline constexpr std::uint8_t FT_STOP_BITS_1 = 0;
inline constexpr std::uint8_t FT_PARITY_NONE = 0;
inline constexpr std::uint16_t FT_FLOW_NONE = 0x0000;

// Purge masks.
inline constexpr std::uint32_t FT_PURGE_RX = 1;
inline constexpr std::uint32_t FT_PURGE_TX = 2;

// Bit modes.
inline constexpr std::uint8_t FT_BITMODE_RESET = 0x00;
inline constexpr std::uint8_t FT_BITMODE_CBUS_BITBANG = 0x20;

// Size of the description buffer the driver fills (the driver's own limit; the link hands a
// larger 128-byte buffer).
inline constexpr std::size_t kFtDescriptionSize = 64;

// One opened adapter (the driver's handle). Destroying it closes it if close() was not called.
class FtDevice {
public:
    virtual ~FtDevice() = default;

    virtual FtStatus resetDevice() = 0;
    virtual FtStatus setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                            std::uint8_t parity) = 0;
    virtual FtStatus setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                                    std::uint8_t xoff) = 0;
    // Read timeout in milliseconds for read(); 0 means "return at once with what is there".
    // The write timeout is accepted and may be ignored by backends whose writes do not block.
    virtual FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) = 0;
    virtual FtStatus setLatencyTimer(std::uint8_t milliseconds) = 0;
    virtual FtStatus setUsbParameters(std::uint32_t inTransferSize,
                                      std::uint32_t outTransferSize) = 0;
    virtual FtStatus setBaudRate(std::uint32_t bitsPerSecond) = 0;
    virtual FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode) = 0;
    virtual FtStatus purge(std::uint32_t mask) = 0;
    // Number of received bytes waiting in the driver.
    virtual FtStatus getQueueStatus(std::uint32_t* rxBytes) = 0;
    // Waits until `count` bytes arrived or the read timeout ran out; *received tells how many.
    // A timeout is not an error: the status stays FT_OK and *received is short.
    virtual FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) = 0;
    virtual FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                           std::uint32_t* written) = 0;
    virtual FtStatus close() = 0;

    // What the configuration calls asked for that did not take effect on this adapter although
    // the calls succeeded, in plain words (e.g. a latency timer the kernel keeps at 16 ms);
    // empty when everything took effect.
    virtual std::vector<std::string> limitations() const { return {}; }

    // The longest time a byte the adapter has received may wait in it before the host can
    // read it (a USB chip's latency timer), in microseconds, as far as the backend knows it:
    // set by the backend itself or read back from the system. -1 when it cannot be known.
    virtual std::int64_t receiveLatencyUs() const { return -1; }
};

using FtHandle = std::unique_ptr<FtDevice>;

// The driver library: lists adapters and opens them by index.
class FtDriver {
public:
    virtual ~FtDriver() = default;

    // FT_LIST_NUMBER_ONLY: number of adapters plugged in.
    virtual FtStatus listNumber(std::uint32_t* count) = 0;
    // FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION: zero-terminated description of adapter
    // `index`, at most `size` bytes including the terminator.
    virtual FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) = 0;
    // Opens adapter `index` of the current list.
    virtual FtStatus open(std::uint32_t index, FtHandle* handle) = 0;
};

}  // namespace mvx
