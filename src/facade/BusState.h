// What a Bus and its Devices share: the port, the device registry over it (which owns the
// connection), and the lock that lets one call at a time use them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "device/DeviceRegistry.h"
#include "movantrix/bus.h"
#include "ports/Port.h"

namespace movantrix::detail {

class BusState {
public:
    // Parses the port text, makes the port and opens its adapter; throws.
    static std::shared_ptr<BusState> open(const std::string& portText, const OpenOptions& options);
    // A Bus on a port made elsewhere (tests: a hooked driver), opened; throws as open().
    static Bus busOn(std::unique_ptr<mvx::Port> port, const std::string& portText);
    ~BusState();

    // Held by every call for its whole length (BusLock).
    std::mutex mutex;
    // The thread holding it, so that a callback of a long call that uses the bus is refused
    // instead of waiting for ever.
    std::atomic<std::thread::id> owner{};

    const std::string& portText() const { return portText_; }
    bool isOpen() const { return registry_ != nullptr; }
    // Closes the adapter (the lock held).
    void close();

    // The registry of the open bus; AdapterLost once closed (the lock held).
    mvx::DeviceRegistry& registry();
    mvx::Clock& clock() { return port_->clock(); }
    // The registry's entry of the device at (code, id), probed into it when it is not there:
    // NoAnswer when nothing answers, the failure otherwise (the lock held). With `ping`, an
    // entry already there (from a search) is pinged first, and dropped when it is silent.
    mvx::DeviceEntry& entry(int code, int id, bool ping = false);
    // The Device value of an entry or a registry snapshot line.
    Device deviceOf(const std::shared_ptr<BusState>& self, const mvx::DeviceSummary& summary);

private:
    BusState() = default;
    // Opens the port's adapter; AdapterLost with the reason.
    void openAdapter();
    std::string portText_;
    std::unique_ptr<mvx::Port> port_;
    // Built after and destroyed before the port whose driver and clock it uses.
    std::unique_ptr<mvx::DeviceRegistry> registry_;
};

// One call's hold of the bus: waits for the calls of other threads; std::logic_error for a
// call from the thread that holds it already (a callback of a long call).
class BusLock {
public:
    explicit BusLock(BusState& state);
    ~BusLock();
    BusLock(const BusLock&) = delete;
    BusLock& operator=(const BusLock&) = delete;

private:
    BusState& state_;
};

// The state of a Bus, or std::logic_error where the Bus was moved from.
inline BusState& busOf(const std::shared_ptr<BusState>& state) {
    if (!state) {
        throw std::logic_error("this Bus was moved from");
    }
    return *state;
}

}  // namespace movantrix::detail
