#include "FacadeFixture.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "facade/BusState.h"
#include "ports/Port.h"

namespace movantrix::test {

FacadeTest::~FacadeTest() {
    bus.reset();  // closes the adapter while the simulated bus is still there
    if (!tempDir_.empty()) {
        std::filesystem::remove_all(tempDir_);
    }
}

void FacadeTest::start(std::vector<mvx::SimDeviceSpec> devices) {
    bus.reset();
    mvx::BusDescription description;
    description.devices = std::move(devices);
    sim = std::make_unique<mvx::SimulatedBus>(description, clock);
    simDriver = std::make_unique<mvx::SimDriver>(*sim);
    driver.target = simDriver.get();
    driver.hook = nullptr;
    bus.emplace(
        detail::BusState::busOn(std::make_unique<mvx::BorrowedPort>(driver, clock, 0), "sim"));
}

void FacadeTest::startDefault() {
    start(mvx::SimulatedBus::defaultBus().devices);
}

void FacadeTest::unplug() {
    driver.hook = [](const std::string&) { return mvx::FT_IO_ERROR; };
}

std::string FacadeTest::tempPath(const std::string& name) {
    if (tempDir_.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "movantrix-facade-XXXXXX").string();
        tempDir_ = ::mkdtemp(pattern.data());
    }
    return tempDir_ + "/" + name;
}

std::string text(const Value& value) {
    std::ostringstream out;
    if (const int* n = std::get_if<int>(&value)) {
        out << *n;
    } else if (const double* d = std::get_if<double>(&value)) {
        out << *d;
    } else {
        out << '[';
        for (const std::string& flag : std::get<Flags>(value)) {
            out << flag << ';';
        }
        out << ']';
    }
    return out.str();
}

}  // namespace movantrix::test
