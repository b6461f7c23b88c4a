// The robot profile's flows on the bus: save (survey the bus into a profile), check (survey and
// compare), apply (the profile's settings onto the devices at their addresses) and adopt (a
// newcomer takes a missing joint's place and settings). Like the assign flow they run on the
// thread that owns the bus, report the search's progress through a callback, look at a stop
// flag between devices, and return plain values.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "robot/BusSweep.h"
#include "robot/ProfileCheck.h"
#include "robot/RobotProfile.h"

namespace mvx {

class DeviceRegistry;

// Empties the registry, searches `codes` surely (sureSearch: every broadcast heard for the
// whole time devices get to answer it), pings each of `expected` (e.g. a profile's addresses)
// directly, and reads every actuator's settings: the devices in the order found. 100 (also
// when stopped: what was found by then), 101 when the adapter failed, 102 when a ping could
// not be written, 105 while a search runs.
int surveyBus(DeviceRegistry& registry, const std::vector<int>& codes,
              const std::vector<DeviceAddress>& expected, const std::atomic<bool>* stop,
              const SweepProgress& progress, std::vector<FoundDevice>& found);

// The profile of the devices found.
RobotProfile profileOf(const std::vector<FoundDevice>& found, const std::vector<int>& codes,
                       const std::string& takenAt);

struct ApplyRow {
    DeviceAddress at;
    int modelNumber = 0;
    std::vector<SettingChange> changes;  // what differs (written unless a dry run)
    bool applied = false;                // written and read back without fault
    int written = 0;
    int result = 100;     // a failed write's or read's result
    std::string problem;  // why nothing was written, or what went wrong, in words
};

// Writes the profile's settings onto each device of the profile that sits at its address
// with its model (the network settings only with `network`), as a restore does: only what
// differs, every limit before what it bounds, then a read-back. A device missing or of another
// model gets a row with its problem and nothing written. `dryRun` writes nothing. Uses the
// registry as surveyBus left it (`found`). 100, or 101 when the adapter failed.
int applyProfile(DeviceRegistry& registry, const RobotProfile& profile,
                 const std::vector<FoundDevice>& found, bool network, bool dryRun,
                 const std::atomic<bool>* stop, std::vector<ApplyRow>& rows);

struct AdoptResult {
    bool refused = false;  // the rule does not hold: nothing was written
    std::string reason;    // why (refused) or what failed
    DeviceAddress from;    // the newcomer's address
    DeviceAddress to;      // the missing device's address
    int result = 100;      // a failure's result code
    int written = 0;       // settings written
    CheckRow after;        // the joint checked at its address afterwards
};

// Whether the adopt rule below holds for `found`, without the bus: refused with the reason
// adoptJoint would give, or `from` (the newcomer) and `to` (the missing device) filled in.
AdoptResult adoptPlan(const RobotProfile& profile, const std::vector<FoundDevice>& found);

// When exactly one device of the profile is missing and exactly one device not in the
// profile, of the same model, is on the bus: moves the newcomer to the missing device's
// address (SafeMove), writes the missing device's settings (network ones too), reads it back
// and checks it against the profile. Anything else is refused before anything is written.
// Uses the registry as surveyBus left it (`found`).
AdoptResult adoptJoint(DeviceRegistry& registry, const RobotProfile& profile,
                       const std::vector<FoundDevice>& found);

}  // namespace mvx
