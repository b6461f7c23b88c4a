// Moves one device to another address without it ever answering where another device answers:
// every address it passes through (the ID is written first, at the old code, then the baud
// rate; DeviceRegistry::addressesOnTheWay) must be free in the registry, outside the addresses
// to avoid, and silent on the bus. When the direct way passes an address in use, the baud rate
// goes first, or the device passes through a free ID.
#pragma once

#include <string>
#include <vector>

#include "robot/DeviceAddress.h"

namespace mvx {

class BusSweep;
class DeviceEntry;
class DeviceRegistry;

// Where `entry` answers now, as the registry has it.
DeviceAddress addressOf(const DeviceEntry& entry);
// Where a device lost on its way from `from` along `steps` (MoveOutcome::steps) may answer, in
// words: "code 34 ID 1 (where it was), code 34 ID 3 or code 1 ID 3".
std::string mayBeAtWords(const DeviceAddress& from, const std::vector<DeviceAddress>& steps);

struct MoveOutcome {
    int result = 100;
    // Where the device answers after the move (the target on success; after a failure the
    // registry's finding: where it answered when asked, else where it was).
    DeviceAddress at;
    // The addresses the device was written to, in order (the target last).
    std::vector<DeviceAddress> steps;
    // 100 and nothing written: the target is held (`holder` names how).
    bool targetTaken = false;
    std::string holder;
};

class SafeMove {
public:
    SafeMove(DeviceRegistry& registry, BusSweep& sweep) : registry_(registry), sweep_(sweep) {}

    // Addresses the device must never pass through (where new devices come, for instance). A
    // target among them is allowed.
    void avoid(const DeviceAddress& address);
    const std::vector<DeviceAddress>& avoided() const { return avoid_; }

    // Whether `address` is free for `entry` (not held by another registered device, not to be
    // avoided, nothing answering there): 100 with `free` set and, when not free, `holder`
    // saying why; or the failure of the look at the bus (101, 102).
    int isFree(const DeviceEntry& entry, const DeviceAddress& address, bool avoidToo, bool& free,
               std::string& holder);
    // Moves `entry` to `target`. 100 with the device there, or with `targetTaken` and nothing
    // written; 105 when no way through free addresses was found (nothing written); a failed
    // look's result with `steps` empty (nothing written); a failed write's result (the device
    // may be at any address of `steps` or where it was).
    int run(DeviceEntry& entry, const DeviceAddress& target, MoveOutcome& outcome);

private:
    DeviceRegistry& registry_;
    BusSweep& sweep_;
    std::vector<DeviceAddress> avoid_;
};

}  // namespace mvx
