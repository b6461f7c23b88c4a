#include "cli/HardwarePorts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "drivers/AdapterList.h"
#include "drivers/SerialPort.h"

namespace mvx::cli {

namespace {

// A driver of its own, on the real clock unless given another.
class DriverPort final : public Port {
public:
    DriverPort(std::unique_ptr<FtDriver> driver, std::uint32_t index,
               std::unique_ptr<Clock> clock = nullptr)
        : clock_(clock ? std::move(clock) : std::make_unique<SystemClock>()),
          driver_(std::move(driver)),
          index_(index) {}
    FtDriver& driver() override { return *driver_; }
    Clock& clock() override { return *clock_; }
    std::uint32_t index() const override { return index_; }

private:
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<FtDriver> driver_;
    std::uint32_t index_;
};

}  // namespace

std::unique_ptr<Port> makeAdapterListPort(std::uint32_t index, std::string& /*error*/) {
    return std::make_unique<DriverPort>(makeSystemAdapterList(), index);
}

std::unique_ptr<Port> makeSerialPathPort(const std::string& path, std::string& error,
                                         std::unique_ptr<Clock> clock) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = "--port: no such serial device: " + path;
        return nullptr;
    }
    // Only a terminal device is a serial port: a regular file, a directory or /dev/null is
    // refused here instead of failing later as an adapter that cannot be accessed. The device
    // is opened non-blocking just to ask; one that cannot be opened is left to the driver,
    // which reports why.
    struct stat info {};
    bool serial = ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
    if (serial) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            serial = ::isatty(fd) == 1;
            ::close(fd);
        }
    }
    if (!serial) {
        error = "--port: " + path + " is not a serial device";
        return nullptr;
    }
    return std::make_unique<DriverPort>(std::make_unique<SerialPortDriver>(path), 0,
                                        std::move(clock));
}

}  // namespace mvx::cli
