#include "ports/PortSpec.h"

#include <algorithm>
#include <cctype>

namespace mvx {

namespace {

bool allDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

bool parsePortSpec(const std::string& text, PortSpec& portSpec, std::string& error) {
    PortSpec result;
    result.virtualTime = portSpec.virtualTime;
    if (text.empty()) {
        error = "empty port name";
        return false;
    }
    if (allDigits(text)) {
        if (text.size() > 4) {
            error = "adapter index " + text + " is out of range";
            return false;
        }
        result.kind = PortSpec::Kind::AdapterIndex;
        result.index = static_cast<std::uint32_t>(std::stoul(text));
    } else if (text == "sim") {
        result.kind = PortSpec::Kind::Sim;
    } else if (text.rfind("sim:", 0) == 0) {
        result.kind = PortSpec::Kind::Sim;
        result.path = text.substr(4);
        if (result.path.empty()) {
            error = "\"sim:\" needs a bus description file after the colon";
            return false;
        }
    } else {
        result.kind = PortSpec::Kind::Path;
        result.path = text.find('/') == std::string::npos ? "/dev/" + text : text;
    }
    portSpec = result;
    return true;
}

}  // namespace mvx
