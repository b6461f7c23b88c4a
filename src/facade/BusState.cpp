#include "facade/BusState.h"

#include <stdexcept>

#include "device/DeviceEntry.h"
#include "facade/FacadeErrors.h"
#include "ports/PortSpec.h"
#include "protocol/ResultCode.h"

namespace movantrix::detail {

std::shared_ptr<BusState> BusState::open(const std::string& portText, const OpenOptions& options) {
    mvx::PortSpec chosen;
    chosen.virtualTime = options.virtualTime;
    std::string error;
    if (!mvx::parsePortSpec(portText, chosen, error)) {
        throw std::invalid_argument("port: " + error);
    }
    std::shared_ptr<BusState> state(new BusState());
    state->portText_ = portText;
    state->port_ = mvx::makePort(chosen, error);
    if (!state->port_) {
        if (error.rfind("--port: ", 0) == 0) {
            error = "port: " + error.substr(8);
        }
        throw std::invalid_argument(error);
    }
    state->openAdapter();
    return state;
}

void BusState::openAdapter() {
    registry_ = std::make_unique<mvx::DeviceRegistry>(port_->driver(), port_->clock());
    mvx::BusConnection& bus = registry_->bus();
    const std::uint32_t index = port_->index();
    if (!bus.open(index)) {
        const int count = bus.adapterCount();
        std::string why = "the adapter could not be opened";
        if (count == 0) {
            why = "no adapter found; check the connection";
        } else if (count > 0 && index >= static_cast<std::uint32_t>(count)) {
            why = "there is no adapter " + std::to_string(index) + " (" + std::to_string(count) +
                  " found)";
        }
        close();
        fail(mvx::AdapterFailure, portText_ + ": " + why);
    }
}

Bus BusState::busOn(std::unique_ptr<mvx::Port> port, const std::string& portText) {
    std::shared_ptr<BusState> state(new BusState());
    state->portText_ = portText;
    state->port_ = std::move(port);
    state->openAdapter();
    return Bus(std::move(state));
}

BusLock::BusLock(BusState& state) : state_(state) {
    if (state.owner.load() == std::this_thread::get_id()) {
        throw std::logic_error(
            "the bus is in use by this thread: a callback of a long call cannot use the bus");
    }
    state.mutex.lock();
    state.owner.store(std::this_thread::get_id());
}

BusLock::~BusLock() {
    state_.owner.store(std::thread::id());
    state_.mutex.unlock();
}

BusState::~BusState() {
    close();
}

void BusState::close() {
    registry_.reset();
}

mvx::DeviceRegistry& BusState::registry() {
    if (!registry_) {
        fail(mvx::AdapterFailure, portText_ + ": the bus is closed");
    }
    return *registry_;
}

mvx::DeviceEntry& BusState::entry(int code, int id, bool ping) {
    mvx::DeviceRegistry& reg = registry();
    if (mvx::DeviceEntry* found = reg.find(code, id)) {
        if (!ping) {
            return *found;
        }
        const int result = found->ping();
        if (result == mvx::Success) {
            return *found;
        }
        if (result != mvx::Timeout) {
            fail(result, whereText(code, id));
        }
        // Gone since it was found: probed again below, as a device never seen.
        reg.removeAt(reg.indexOf(code, id));
    }
    mvx::DeviceEntry* candidate = reg.appendPlaceholder();
    const int result = candidate->probe(code, id);
    if (result != mvx::Success) {
        reg.removeLast();
        const std::string where = "no device found at " + whereText(code, id);
        if (result == mvx::Timeout) {
            const std::string words = resultWords(result);
            throw NoAnswer(result, where + ": " + words, words);
        }
        fail(result, where);
    }
    return *candidate;
}

Device BusState::deviceOf(const std::shared_ptr<BusState>& self,
                          const mvx::DeviceSummary& summary) {
    Device device;
    device.state_ = self;
    device.code_ = summary.baudCode;
    device.id_ = summary.id;
    device.model_ = summary.modelNumber;
    device.firmware_ = summary.firmwareVersion;
    device.returnLevel_ = summary.returnLevel;
    device.actuator_ = summary.modelClass == mvx::Actuator;
    return device;
}

}  // namespace movantrix::detail
