// A sysfs and /dev look-alike in a temporary directory, for the tty enumeration tests.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace mvx::test {

namespace fs = std::filesystem;

// A sysfs and /dev look-alike in a temporary directory.
class FakeSystem {
public:
    FakeSystem() : root_(fs::temp_directory_path() / ("mvx-fake-" + std::to_string(getpid()))) {
        fs::remove_all(root_);
        fs::create_directories(sys() / "class/tty");
        fs::create_directories(dev());
        fs::create_directories(sys() / "bus/usb-serial/drivers/ftdi_sio");
        fs::create_directories(sys() / "bus/usb/drivers/cdc_acm");
        fs::create_directories(sys() / "bus/platform/drivers/serial8250");
        fs::create_directories(sys() / "bus/pnp/drivers/serial");
        fs::create_directories(sys() / "bus/usb-serial");
        fs::create_directories(sys() / "bus/usb");
        fs::create_directories(sys() / "bus/platform");
        fs::create_directories(sys() / "bus/pnp");
        fs::create_directories(sys() / "bus/serial-base/drivers/port");
    }
    ~FakeSystem() { fs::remove_all(root_); }

    fs::path sys() const { return root_ / "sys"; }
    fs::path dev() const { return root_ / "dev"; }

    // A USB device directory with its identity files.
    fs::path usbDevice(const std::string& port, int bus, int address, const std::string& vid,
                       const std::string& serial, const std::string& product) {
        const fs::path dir =
            sys() / "devices/pci0000:00/0000:00:14.0" / ("usb" + std::to_string(bus)) / port;
        fs::create_directories(dir);
        write(dir / "busnum", std::to_string(bus));
        write(dir / "devnum", std::to_string(address));
        write(dir / "idVendor", vid);
        write(dir / "idProduct", "6001");
        if (!serial.empty()) {
            write(dir / "serial", serial);
        }
        if (!product.empty()) {
            write(dir / "product", product);
        }
        return dir;
    }

    // A tty whose device is `deviceDir` (created), bound to `driver` on `bus`.
    void tty(const std::string& name, const fs::path& deviceDir, const std::string& bus,
             const std::string& driver, bool node = true) {
        fs::create_directories(deviceDir);
        fs::create_symlink(sys() / "bus" / bus / "drivers" / driver, deviceDir / "driver");
        fs::create_symlink(sys() / "bus" / bus, deviceDir / "subsystem");
        fs::create_directories(sys() / "class/tty" / name);
        fs::create_symlink(deviceDir, sys() / "class/tty" / name / "device");
        if (node) {
            write(dev() / name, "");
        }
    }

    // The /dev node of `name` as a link to `target` (e.g. a pseudo-terminal's slave).
    void nodeLink(const std::string& name, const std::string& target) {
        fs::remove(dev() / name);
        fs::create_symlink(target, dev() / name);
    }

    // An attribute of the tty's own class directory, e.g. "type".
    void attribute(const std::string& name, const std::string& file, const std::string& text) {
        write(sys() / "class/tty" / name / file, text);
    }

    void virtualTerminal(const std::string& name) {
        fs::create_directories(sys() / "class/tty" / name);
        write(dev() / name, "");
    }

private:
    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }
    fs::path root_;
};

}  // namespace mvx::test
