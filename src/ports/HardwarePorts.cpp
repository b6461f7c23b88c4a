#include "ports/HardwarePorts.h"

#include "drivers/AdapterList.h"
#include "drivers/SerialPort.h"

namespace mvx {

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
    // A regular file, a directory or /dev/null is refused here instead of failing later as an
    // adapter that cannot be accessed.
    if (const std::string problem = serialDeviceProblem(path); !problem.empty()) {
        error = "--port: " + problem;
        return nullptr;
    }
    return std::make_unique<DriverPort>(std::make_unique<SerialPortDriver>(path), 0,
                                        std::move(clock));
}

}  // namespace mvx
