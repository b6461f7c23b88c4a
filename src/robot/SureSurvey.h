// The robot flows' survey of what is on the bus, sure of its silence: at each code a broadcast
// ping whose answers are heard for the whole time devices get to answer it (they may space
// their answers out by ID; BusSweep::broadcast) and then until the line is quiet, twice (one
// lost answer is no silence: an ID counts when either heard it), a walk of
// every ID where anything answered, every answering ID probed; then each address the caller
// expects a device at is pinged directly. Every address that answered anything (a clean answer
// whose probe failed, a broken answer, two devices at once) is noted as taken, so that a flow never
// takes a device that was there before for a new one.
#pragma once

#include <atomic>
#include <vector>

#include "robot/BusSweep.h"
#include "robot/DeviceAddress.h"

namespace mvx {

class DeviceRegistry;

struct BusSurvey {
    std::vector<CodeLook> looks;
    // Every address that answered anything, the probed devices' included, each once.
    std::vector<DeviceAddress> taken;
    // Those of `taken` without a registry entry (the probe failed, two devices answer there).
    std::vector<DeviceAddress> unread;
};

// The sure look at every code of `codes` (BusSweep::broadcast, then a walk where anything was
// heard: an ID counts when either heard it), the answering IDs probed into the registry,
// then each of `expected` that is not in the registry pinged and probed. `progress` gets the
// code and a percentage. 100 (also when stopped: `survey` then holds what was seen by then),
// 101 or 102.
// Moves the entry at `address` before the first entry that comes after it in the list's order
// (codes as `codes` gives them, then IDs): one found late (pinged at an expected address after
// the looks lost its answer) or moved to another address lands in its place, not where it was.
void keepListOrder(DeviceRegistry& registry, const std::vector<int>& codes,
                   const DeviceAddress& address);

int sureSearch(BusSweep& sweep, DeviceRegistry& registry, const std::vector<int>& codes,
               const std::vector<DeviceAddress>& expected, const std::atomic<bool>* stop,
               const SweepProgress& progress, BusSurvey& survey);

}  // namespace mvx
