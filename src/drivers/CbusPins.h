// The CBUS pins of an FTDI adapter that the kernel serves as a tty. ftdi_sio offers the pins
// that the adapter's EEPROM puts in I/O mode as a GPIO chip beside the tty; through it the
// program can drive CBUS3 as the USB route does with the CBUS bit-bang mode.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace mvx {

class CbusPins {
public:
    virtual ~CbusPins() = default;
    // Drives the pins named by the high nibble of `mask` (bit 4 + n for CBUSn) as outputs at
    // the levels of its low nibble, and keeps them driven until the object goes. Pins whose
    // direction bit is clear are left alone. "" on success, else the reason in plain words.
    virtual std::string drive(std::uint8_t mask) = 0;
};

// Opens the pins of the GPIO chip at `chipDevice` (e.g. /dev/gpiochip3).
using CbusPinsFactory = std::function<std::unique_ptr<CbusPins>(const std::string& chipDevice)>;

// The GPIO chip the kernel made of the CBUS pins of the adapter behind tty `ttyName`: the
// gpiochipN entry in the sysfs directory of its USB interface, as "gpiochipN"; "" when none.
std::string findCbusChip(const std::string& sysRoot, const std::string& ttyName);

// The pins through the kernel's GPIO character device (libgpiod).
std::unique_ptr<CbusPins> openGpioCbusPins(const std::string& chipDevice);

}  // namespace mvx
