#include "drivers/TtyEnumerator.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <tuple>
#include <utility>

namespace mvx {

namespace fs = std::filesystem;

namespace {

// First line of a sysfs attribute, without trailing blanks; empty when unreadable.
std::string readAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return {};
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

int readInt(const fs::path& file, int base = 10) {
    const std::string text = readAttribute(file);
    if (text.empty()) {
        return -1;
    }
    try {
        std::size_t used = 0;
        const long value = std::stol(text, &used, base);
        return used == text.size() && value >= 0 && value <= 0xFFFF ? static_cast<int>(value) : -1;
    } catch (...) {
        return -1;
    }
}

// Last component of the target of a sysfs link such as device/driver.
std::string linkName(const fs::path& link) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

// Sort key: name split into its text and trailing number.
std::pair<std::string, long> nameKey(const std::string& name) {
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1]))) {
        --digits;
    }
    const long number = digits < name.size() ? std::stol(name.substr(digits)) : -1;
    return {name.substr(0, digits), number};
}

// The USB device directory above `dir` (the first one with busnum and devnum), or empty.
fs::path usbDeviceAbove(fs::path dir, const fs::path& stop) {
    std::error_code ec;
    for (; !dir.empty() && dir != stop && dir != dir.root_path(); dir = dir.parent_path()) {
        if (fs::exists(dir / "busnum", ec) && fs::exists(dir / "devnum", ec)) {
            return dir;
        }
    }
    return {};
}

}  // namespace

TtyEnumerator::TtyEnumerator(std::string sysRoot, std::string devRoot)
    : sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

std::vector<TtyPort> TtyEnumerator::list() const {
    std::vector<TtyPort> ports;
    std::error_code ec;
    const fs::path classDir = fs::path(sysRoot_) / "class" / "tty";
    fs::directory_iterator it(classDir, ec);
    if (ec) {
        return ports;
    }
    const fs::path stop = fs::weakly_canonical(fs::path(sysRoot_), ec);
    for (const fs::directory_entry& entry : it) {
        const fs::path deviceLink = entry.path() / "device";
        std::error_code e2;
        if (!fs::exists(deviceLink, e2)) {
            continue;  // virtual terminal, pseudo-terminal, console
        }
        TtyPort port;
        port.name = entry.path().filename().string();
        port.devicePath = (fs::path(devRoot_) / port.name).string();
        if (!fs::exists(port.devicePath, e2)) {
            continue;
        }
        port.driver = linkName(deviceLink / "driver");
        port.subsystem = linkName(deviceLink / "subsystem");
        // On-board UART drivers register a fixed number of slots whether or not there is a
        // UART behind them; those slots hang off the platform bus.
        // Newer kernels put a serial-base port device in between and tell the slot's UART
        // type in the tty's "type" attribute, 0 when there is none.
        if (port.name.rfind("ttyS", 0) == 0 &&
            (port.subsystem == "platform" || readAttribute(entry.path() / "type") == "0")) {
            continue;
        }
        const fs::path deviceDir = fs::canonical(deviceLink, e2);
        if (!e2) {
            const fs::path usb = usbDeviceAbove(deviceDir, stop);
            if (!usb.empty()) {
                port.usbBus = readInt(usb / "busnum");
                port.usbAddress = readInt(usb / "devnum");
                const int vid = readInt(usb / "idVendor", 16);
                const int pid = readInt(usb / "idProduct", 16);
                port.vendorId = vid > 0 ? static_cast<std::uint16_t>(vid) : 0;
                port.productId = pid > 0 ? static_cast<std::uint16_t>(pid) : 0;
                port.serial = readAttribute(usb / "serial");
                port.manufacturer = readAttribute(usb / "manufacturer");
                port.product = readAttribute(usb / "product");
            }
        }
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const TtyPort& a, const TtyPort& b) { return nameKey(a.name) < nameKey(b.name); });
    return ports;
}

}  // namespace mvx
