// Fuzz target: movantrix-cli's argument parsing and the value syntax of `set`. The input is
// split into argv words at newlines and NUL bytes.
//
// The environment opens no port, so every command stops once its arguments are checked (a
// `flash` still loads the file it names). Invariants: an exit status of 0, 1 or 2 and never an
// escaping exception; a port is asked for at most once, and a failure says why; every
// accepted register value is in its register's range and every refused one says why.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "cli/Cli.h"
#include "cli/Environment.h"
#include "cli/NamedRegister.h"
#include "cli/PortSpec.h"

namespace {

using namespace mvx::cli;

// No port: a command that gets past its argument checks ends here with status 1.
class NoPortEnvironment final : public Environment {
public:
    std::unique_ptr<Port> makePort(const PortSpec&, std::string& error) override {
        ++portsAsked;
        error = "no port while fuzzing";
        return nullptr;
    }
    bool stderrIsTerminal() const override { return false; }

    int portsAsked = 0;
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

    NoPortEnvironment env;
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(args, out, err, env);
    MVX_FUZZ_CHECK(status == 0 || status == 1 || status == 2);
    MVX_FUZZ_CHECK(env.portsAsked <= 1);
    // Without a port nothing can succeed past the argument checks; a refusal always says why.
    MVX_FUZZ_CHECK(env.portsAsked == 0 || status == 2);
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
