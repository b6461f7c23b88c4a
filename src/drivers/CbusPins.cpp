#include "drivers/CbusPins.h"

#include <gpiod.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace mvx {

namespace fs = std::filesystem;

std::string findCbusChip(const std::string& sysRoot, const std::string& ttyName) {
    // class/tty/<tty>/device is the serial port's device; its parent is the USB interface
    // that the driver hangs the GPIO chip on.
    std::error_code ec;
    const fs::path port = fs::canonical(fs::path(sysRoot) / "class/tty" / ttyName / "device", ec);
    if (ec) {
        return {};
    }
    for (const auto& entry : fs::directory_iterator(port.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("gpiochip", 0) == 0 && name.size() > 8) {
            return name;
        }
    }
    return {};
}

namespace {

constexpr const char* kConsumer = "movantrix";
constexpr unsigned kPinCount = 4;

class GpioCbusPins final : public CbusPins {
public:
    explicit GpioCbusPins(std::string chipDevice) : chipDevice_(std::move(chipDevice)) {}
    ~GpioCbusPins() override {
        if (chip_ != nullptr) {
            gpiod_chip_close(chip_);  // releases the lines, which stop being driven
        }
    }

    std::string drive(std::uint8_t mask) override {
        if (chip_ == nullptr) {
            chip_ = gpiod_chip_open(chipDevice_.c_str());
            if (chip_ == nullptr) {
                return errno == EACCES || errno == EPERM
                           ? "no permission to use " + chipDevice_
                           : chipDevice_ + " cannot be opened (" + std::strerror(errno) + ")";
            }
        }
        for (unsigned pin = 0; pin < kPinCount; ++pin) {
            if ((mask & (0x10u << pin)) == 0) {
                continue;
            }
            const int level = (mask >> pin) & 1;
            gpiod_line* line = gpiod_chip_get_line(chip_, pin);
            if (line == nullptr) {
                return "the GPIO chip has no line for CBUS" + std::to_string(pin);
            }
            const int result = gpiod_line_is_requested(line)
                                   ? gpiod_line_set_value(line, level)
                                   : gpiod_line_request_output(line, kConsumer, level);
            if (result != 0) {
                return errno == EBUSY ? "CBUS" + std::to_string(pin) + " is in use elsewhere"
                                      : "CBUS" + std::to_string(pin) +
                                            " is not in I/O mode in the adapter's EEPROM";
            }
        }
        return {};
    }

private:
    std::string chipDevice_;
    gpiod_chip* chip_ = nullptr;
};

}  // namespace

std::unique_ptr<CbusPins> openGpioCbusPins(const std::string& chipDevice) {
    return std::make_unique<GpioCbusPins>(chipDevice);
}

}  // namespace mvx
