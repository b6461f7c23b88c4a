// A movantrix::Bus over a simulated bus on a virtual clock, through a hooked driver that lets
// a test fail the adapter: the library as a program sees it, with the bus in the test's hands.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "movantrix/movantrix.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/SimRegistry.h"

namespace movantrix::test {

class FacadeTest : public ::testing::Test {
public:
    ~FacadeTest() override;

    // Builds the bus with these devices and opens a Bus on it.
    void start(std::vector<mvx::SimDeviceSpec> devices);
    void startDefault();
    // From now on every call of the adapter fails (unplugged).
    void unplug();

    // A file in the test's own temporary folder.
    std::string tempPath(const std::string& name);

    mvx::VirtualClock clock;
    std::unique_ptr<mvx::SimulatedBus> sim;
    std::unique_ptr<mvx::SimDriver> simDriver;
    mvx::test::HookedDriver driver;
    std::optional<Bus> bus;

private:
    std::string tempDir_;
};

// The string of a Value that holds flags, for messages.
std::string text(const Value& value);

}  // namespace movantrix::test
