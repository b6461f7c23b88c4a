// Fuzz target: movantrix-cli's argument parsing, the value syntax of `set`, and the commands
// themselves. The input is split into argv words at newlines and NUL bytes.
//
// Every port but a described one ("sim:FILE", refused so that no file is read) is the built-in
// simulated bus on virtual time, so accepted commands really run against devices. A command that
// runs until it is told to end (watch, or assign waiting for actuators that never come) finds
// the adapter unplugged after 200 s of virtual time, as a user would pull it. Invariants:
// an exit status of 0, 1 or 2 and never an escaping exception; a port is asked for at most
// once, and status 2 after that only when it was refused; a failure says why; every accepted
// register value is in its register's range and every refused one says why.
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "cli/Cli.h"
#include "cli/Environment.h"
#include "cli/NamedRegister.h"
#include "cli/PortSpec.h"
#include "cli/SimPort.h"
#include "sim/SimulatedBus.h"

namespace {

using namespace mvx::cli;

// Virtual time that unplugs the bus's adapter once its budget is spent.
class BudgetClock final : public mvx::Clock {
public:
    static constexpr std::int64_t kBudgetUs = 200000000;

    std::int64_t nowUs() override { return time_.nowUs(); }
    void sleepUs(std::int64_t us) override {
        time_.sleepUs(us);
        if (bus != nullptr && time_.nowUs() > kBudgetUs) {
            bus->setAdapterPlugged(false);
        }
    }

    mvx::SimulatedBus* bus = nullptr;

private:
    mvx::VirtualClock time_;
};

class FuzzEnvironment final : public Environment {
public:
    std::unique_ptr<Port> makePort(const PortSpec& port, std::string& error) override {
        ++portsAsked;
        if (port.kind == PortSpec::Kind::Sim && !port.path.empty()) {
            ++portsRefused;
            error = "no bus description files while fuzzing";
            return nullptr;
        }
        auto clock = std::make_unique<BudgetClock>();
        BudgetClock* budget = clock.get();
        auto sim = std::make_unique<SimPort>(std::move(clock), mvx::SimulatedBus::defaultBus());
        budget->bus = &sim->bus();
        return sim;
    }
    bool stderrIsTerminal() const override { return false; }

    int portsAsked = 0;
    int portsRefused = 0;
};

std::vector<std::string> words(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n' || c == '\0') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = words(data, size);

    FuzzEnvironment env;
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, out, err, env);
    MVX_FUZZ_CHECK(status == 0 || status == 1 || status == 2);
    MVX_FUZZ_CHECK(env.portsAsked <= 1);
    MVX_FUZZ_CHECK(status != 2 || env.portsAsked == env.portsRefused);
    MVX_FUZZ_CHECK(status == 0 || !err.str().empty());

    for (const std::string& word : args) {
        for (const NamedRegister& reg : namedRegisters()) {
            int value = -99999;
            std::string error;
            if (parseRegisterValue(reg, word, value, error)) {
                MVX_FUZZ_CHECK(value >= reg.min && value <= reg.max);
            } else {
                MVX_FUZZ_CHECK(!error.empty());
            }
        }
        const NamedRegister* reg = findNamedRegister(word);
        MVX_FUZZ_CHECK(reg == nullptr || word == reg->name);
        PortSpec port;
        std::string error;
        MVX_FUZZ_CHECK(parsePortSpec(word, port, error) || !error.empty());
    }
    return 0;
}
