// One run's bus: the port's driver, the device registry over it (which owns the bus
// connection), opening the chosen adapter and finding one device by probing.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "cli/Environment.h"
#include "device/DeviceRegistry.h"

namespace mvx::cli {

class Session {
public:
    explicit Session(std::unique_ptr<Port> port);
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    DeviceRegistry& registry() { return *registry_; }
    Port& port() { return *port_; }

    // Opens the port's adapter; false with the reason on `err`.
    bool open(std::ostream& err);
    // Finds the device at (code, id) by reading its identity, and keeps it in the registry.
    // 100 with `entry` set, or the failure (nothing kept).
    int probe(int code, int id, DeviceEntry*& entry);

private:
    std::unique_ptr<Port> port_;
    // Built after and destroyed before the port whose driver and clock it uses.
    std::unique_ptr<DeviceRegistry> registry_;
};

// The session for a --port text, or null with the reason printed on `err`.
std::unique_ptr<Session> makeSession(const PortSpec& portSpec, Environment& env, std::ostream& err);

}  // namespace mvx::cli
