// Lists the serial ports the kernel serves as ttys, from sysfs: every /sys/class/tty entry with a
// device behind it and a node in /dev, with what sysfs tells about the hardware (driver, and for
// USB adapters bus number, device address, serial number and product string).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mvx {

struct TtyPort {
    std::string name;        // kernel name, e.g. "ttyUSB0"
    std::string devicePath;  // node to open, e.g. "/dev/ttyUSB0"
    std::string driver;      // e.g. "ftdi_sio", "cdc_acm", "serial8250"; empty when unbound
    std::string subsystem;   // bus of the device behind the tty: "usb-serial", "usb", "pnp", ...
    // The USB device the tty belongs to; -1 when it is not on USB.
    int usbBus = -1;
    int usbAddress = -1;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;
    std::string manufacturer;
    std::string product;

    bool onUsb() const { return usbBus >= 0 && usbAddress >= 0; }
};

class TtyEnumerator {
public:
    // Both roots can be pointed at a fake tree for tests.
    explicit TtyEnumerator(std::string sysRoot = "/sys", std::string devRoot = "/dev");

    // Ports sorted by name, numbers in numeric order (ttyUSB2 before ttyUSB10). Leaves out
    // virtual terminals and pseudo-terminals (no device behind them), the unused placeholder
    // slots of on-board UART drivers, and entries without a node in the /dev root.
    std::vector<TtyPort> list() const;

private:
    std::string sysRoot_;
    std::string devRoot_;
};

}  // namespace mvx
