// The FTDI adapter backend of the driver interface: lists FTDI adapters on the USB buses
// through libftdi1 and opens them as FtdiDevice objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx {

// What the listing knows about one adapter. Bus number and device address identify the
// adapter on the USB side, so it can be matched with its kernel tty through
// /sys/bus/usb/devices/*/{busnum,devnum}.
struct FtdiAdapterInfo {
    std::uint8_t busNumber = 0;
    std::uint8_t deviceAddress = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string description;    // USB product string
    std::string serialNumber;   // empty when the device has none or it could not be read
    bool stringsRead = false;   // false when the device could not be opened to read strings
    bool accessDenied = false;  // the device node refused access (permissions)
};

class FtdiDriver final : public FtDriver {
public:
    // `clock` paces the timed reads of the opened devices; null means real time. A given
    // clock must outlive every device opened through this driver.
    explicit FtdiDriver(Clock* clock = nullptr);

    // Enumerates the adapters and keeps the list: listDescription and open refer to it by
    // index until the next listNumber. Without a USB stack the count is 0; when the bus
    // listing itself fails the call fails.
    FtStatus listNumber(std::uint32_t* count) override;
    // Fails (with an empty buffer) for a bad index or when the product string could not be
    // read.
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

    // The adapters of the current list (enumerated first when there is none yet).
    std::vector<FtdiAdapterInfo> adapters();
    // True when the last open failed because the device node refused access.
    bool lastOpenAccessDenied() const { return lastOpenAccessDenied_; }

private:
    FtStatus enumerate();
    FtStatus ensureListed();

    Clock* clock_;
    std::vector<FtdiAdapterInfo> adapters_;
    bool listed_ = false;
    bool lastOpenAccessDenied_ = false;
};

}  // namespace mvx
