// The robot windows' search of the bus (robot/ProfileFlows surveyBus) as a bus job: its
// progress and stop flag shared with the GUI thread, and the devices it found as a value.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "device/DeviceRegistry.h"
#include "robot/ProfileCheck.h"

namespace mvx::gui {

// Written by the job, read by the GUI thread's timer; `stop` the other way round.
struct SurveyProgress {
    std::atomic<int> percent{0};
    std::atomic<bool> stop{false};
};

struct Surveyed {
    int result = 100;
    bool stopped = false;  // ended by the stop flag: `found` holds only part of the bus
    std::vector<FoundDevice> found;
};

// Inside a job: empties the registry, searches `codes` surely, pings each of `expected` (a
// profile's addresses) directly and reads the actuators' settings (robot/ProfileFlows
// surveyBus, as the command line does).
Surveyed surveyOnBus(DeviceRegistry& registry, const std::vector<int>& codes,
                     const std::vector<DeviceAddress>& expected,
                     const std::shared_ptr<SurveyProgress>& progress);

// The nine common codes, as the quick search has them.
std::vector<int> quickCodes();

}  // namespace mvx::gui
