#include "cli/Session.h"

#include "cli/Messages.h"
#include "protocol/ResultCode.h"

namespace mvx::cli {

Session::Session(std::unique_ptr<Port> port)
    : port_(std::move(port)),
      registry_(std::make_unique<DeviceRegistry>(port_->driver(), port_->clock())) {}

Session::~Session() {
    registry_.reset();
}

bool Session::open(std::ostream& err) {
    BusConnection& bus = registry_->bus();
    const std::uint32_t index = port_->index();
    if (bus.open(index)) {
        const std::vector<std::string> limitations = bus.adapterLimitations();
        for (const std::string& text : limitations) {
            printWarning(err, text);
        }
        if (!limitations.empty()) {
            printWarning(err, kLimitationHint);
        }
        return true;
    }
    const int count = bus.adapterCount();
    if (count == 0) {
        printError(err, kNoAdapterText);
    } else if (count > 0 && index >= static_cast<std::uint32_t>(count)) {
        printError(err, "there is no adapter " + std::to_string(index) + " (" +
                            std::to_string(count) + " found; 'movantrix-cli ports' lists them)");
    } else {
        printError(err, std::string(kAccessFailedText) + " (" + resultWords(AdapterFailure) + ")");
    }
    return false;
}

std::unique_ptr<Session> makeSession(const PortSpec& portSpec, Environment& env,
                                     std::ostream& err) {
    std::string error;
    auto port = env.makePort(portSpec, error);
    if (!port) {
        printError(err, error);
        return nullptr;
    }
    return std::make_unique<Session>(std::move(port));
}

int Session::probe(int code, int id, DeviceEntry*& entry) {
    DeviceEntry* candidate = registry_->appendPlaceholder();
    const int result = candidate->probe(code, id);
    if (result != Success) {
        registry_->removeLast();
        entry = nullptr;
        return result;
    }
    entry = candidate;
    return result;
}

}  // namespace mvx::cli
