// The adapter list the port dialog and the command line show: every physical adapter once.
//
// FTDI adapters come first and open through the USB backend (full behaviour: latency timer,
// transfer size, CBUS). When the USB backend cannot open one (typically no permission on the USB
// node) and the kernel serves the same adapter as a tty, the tty is used instead. Serial ports
// that are not FTDI adapters follow. The list is taken anew by listNumber(); listDescription()
// and open() refer to the list taken last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "drivers/FtdiDriver.h"
#include "drivers/SerialPort.h"
#include "drivers/TtyEnumerator.h"

namespace mvx {

// One adapter as the USB (libftdi1) backend sees it.
struct UsbAdapter {
    std::string description;  // product string; empty when it could not be read
    int busNumber = -1;
    int deviceAddress = -1;
    std::string serial;
    // The backend cannot open the adapter for want of permission on its USB node.
    bool permissionDenied = false;
};

class UsbAdapterSource {
public:
    virtual ~UsbAdapterSource() = default;
    virtual std::vector<UsbAdapter> list() = 0;
    // Opens adapter `index` of the last list().
    virtual FtStatus open(std::size_t index, FtHandle* handle) = 0;
};

class TtySource {
public:
    virtual ~TtySource() = default;
    virtual std::vector<TtyPort> list() = 0;
    virtual FtStatus open(const TtyPort& port, FtHandle* handle) = 0;
};

// The kernel's ttys: sysfs listing, opened as SerialPort.
class SysfsTtySource final : public TtySource {
public:
    explicit SysfsTtySource(std::string sysRoot = "/sys", std::string devRoot = "/dev",
                            SerialPortOptions options = {});
    std::vector<TtyPort> list() override;
    FtStatus open(const TtyPort& port, FtHandle* handle) override;

private:
    TtyEnumerator enumerator_;
    SerialPortOptions options_;
};

// FTDI adapters through libftdi1.
class FtdiAdapterSource final : public UsbAdapterSource {
public:
    explicit FtdiAdapterSource(Clock* clock = nullptr) : driver_(clock) {}
    std::vector<UsbAdapter> list() override;
    FtStatus open(std::size_t index, FtHandle* handle) override;

private:
    FtdiDriver driver_;
};

// One line of the merged list.
struct AdapterEntry {
    std::string description;
    std::optional<std::size_t> usbIndex;  // index in the USB source's list
    std::optional<TtyPort> tty;           // the tty serving the same adapter, if any
    bool ttyFirst = false;                // the USB backend is known not to open it
};

class AdapterList final : public FtDriver {
public:
    // `usb` may be null (no USB backend): then every tty is listed as a serial port.
    AdapterList(std::unique_ptr<UsbAdapterSource> usb, std::unique_ptr<TtySource> ttys);

    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

    // The list taken last (taken now when none was taken yet).
    std::vector<AdapterEntry> entries();

    // The merge itself, on given enumerations.
    static std::vector<AdapterEntry> merge(const std::vector<UsbAdapter>& usb,
                                           const std::vector<TtyPort>& ttys);

private:
    void refreshLocked();

    std::unique_ptr<UsbAdapterSource> usb_;
    std::unique_ptr<TtySource> ttys_;
    std::mutex mutex_;
    bool listed_ = false;
    std::vector<AdapterEntry> entries_;
};

// The list of this machine: libftdi1 for FTDI adapters, the kernel's ttys for everything else
// (and for FTDI adapters libftdi1 may not open). `clock` paces reads (null: real time) and must
// outlive the list and every device opened through it.
std::unique_ptr<AdapterList> makeSystemAdapterList(Clock* clock = nullptr);

}  // namespace mvx
