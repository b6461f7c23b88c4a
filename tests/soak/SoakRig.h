// The soak's checks around one operation on a registry over a chaotic simulated bus: what
// each device held before, which registers the operation may write and with which values,
// and after it the register memory, the host's write traffic and the registry's shape.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/DeviceRegistry.h"
#include "sim/SimChaos.h"
#include "sim/SimulatedBus.h"

namespace mvx::test {

// Register -> the values a write may give it.
using RegisterValues = std::map<int, std::set<int>>;

// What an operation may write: per device the registers it may change, and per ID the
// registers the host may write (also at an address where no device answers).
struct AllowedWrites {
    std::map<const SimulatedDevice*, RegisterValues> devices;
    std::map<int, RegisterValues> ids;
};

// Everything a device's memory holds that the soak compares (0-49 and 250).
struct DeviceImage {
    std::array<std::uint8_t, 51> regs{};
    std::uint8_t code = 0;
    SimDeviceMode mode = SimDeviceMode::Normal;
};

class SoakRig {
public:
    SoakRig(SimulatedBus& bus, DeviceRegistry& registry, SimChaos& chaos)
        : bus_(bus), registry_(registry), chaos_(chaos) {}

    // The devices set to (code, id), also one in its loader or on stand-by; more than one
    // after an address collision.
    std::vector<SimulatedDevice*> devicesAt(int code, int id);
    // The one device at (code, id) when exactly one answers there and it works normally.
    SimulatedDevice* soleDevice(int code, int id);
    // Whether what the host wrote to `device` in this operation must have arrived.
    bool trusted(SimulatedDevice* device);

    std::vector<DeviceImage> images();
    // Registers that changed between `before` and now and that neither the device itself
    // (live state, alarm shutdown, loader registers falling back to 0) nor `allowed` explains.
    std::vector<std::string> unaskedChanges(const std::vector<DeviceImage>& before,
                                            const AllowedWrites& allowed);
    // Host writes of this operation that `allowed` does not explain: a Write or KeyedWrite
    // of a value not allowed for its register at its ID, an
    // instruction 7 or raw bytes unless `firmware`.
    std::vector<std::string> unaskedTraffic(const AllowedWrites& allowed, bool firmware);
    // Order, duplicates, placeholders and records of the registry; empty when all is well.
    // The codes come in the order of `codeOrder` (a search's), by number when it is empty;
    // without `ordered` only duplicates count (a flow appends the devices it finds later).
    std::vector<std::string> registryFaults(const std::vector<int>& codeOrder = {},
                                            bool ordered = true);

private:
    SimulatedBus& bus_;
    DeviceRegistry& registry_;
    SimChaos& chaos_;
};

// Bytes of a 16-bit register value as a write sends them.
void allowWord(RegisterValues& regs, int address, int value);
// Lets `regs` be written at `id` (and at the IDs that regs[3] may give it) and changed on
// `devices`.
void allow(AllowedWrites& allowed, int id, const std::vector<SimulatedDevice*>& devices,
           const RegisterValues& regs);

// The soak's seed (MVX_SOAK_SEED, else a random one) and its count of operations
// (MVX_SOAK_COUNT, else 20000: about 4 s in the test build).
std::uint32_t soakSeed();
int soakCount();

}  // namespace mvx::test
