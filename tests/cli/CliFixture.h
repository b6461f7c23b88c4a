// Runs movantrix-cli command lines against a simulated bus on virtual time and inspects what
// reached the bus.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Environment.h"
#include "drivers/Clock.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/SimRegistry.h"

namespace mvx::test {

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Hands out a port over one driver and clock, and counts the ports asked for.
class TestEnvironment final : public cli::Environment {
public:
    TestEnvironment(FtDriver& driver, Clock& clock) : driver_(driver), clock_(clock) {}

    std::unique_ptr<cli::Port> makePort(const cli::PortSpec& portSpec, std::string&) override {
        ++portsMade;
        lastSpec = portSpec;
        const std::uint32_t index =
            portSpec.kind == cli::PortSpec::Kind::AdapterIndex ? portSpec.index : 0;
        return std::make_unique<cli::BorrowedPort>(driver_, clock_, index);
    }
    bool stderrIsTerminal() const override { return terminal; }

    int portsMade = 0;
    cli::PortSpec lastSpec;
    bool terminal = false;

private:
    FtDriver& driver_;
    Clock& clock_;
};

class CliTest : public ::testing::Test {
protected:
    explicit CliTest(const BusDescription& description = SimulatedBus::defaultBus())
        : bus(description, clock), driver(bus), env(hooked, clock) {
        hooked.target = &driver;
    }

    // Runs `args` (without the program name); output in out(), messages in err().
    int run(const std::vector<std::string>& args);
    // The same with the output going to `out` instead (messages still in err()).
    int run(const std::vector<std::string>& args, std::ostream& out);
    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }

    // Host packets with this instruction byte in the traffic record (3: Write).
    int hostPackets(std::uint8_t instruction) const;
    bool anyHostBytes() const;

    SimulatedDevice& device(std::uint8_t code, std::uint8_t id);

    static std::string sample(const std::string& name) {
        return std::string(MVX_SOURCE_DIR) + "/samples/" + name;
    }

    VirtualClock clock;
    SimulatedBus bus;
    SimDriver driver;
    HookedDriver hooked;  // the port's driver: every call goes to `driver` unless the hook fails it
    TestEnvironment env;

private:
    std::ostringstream out_;
    std::ostringstream err_;
};

}  // namespace mvx::test
