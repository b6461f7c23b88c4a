// The robot flows on a simulated bus on virtual time: a registry opened on the bus, the flow's
// events as they come, and a watch over every host write that no two connected devices ever
// answer at one address.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "robot/AssignFlow.h"
#include "support/ArmSettings.h"
#include "support/SimRegistry.h"

namespace mvx::test {

class RobotTest : public SimRegistryTest, public AssignObserver {
protected:
    // Builds the bus and opens the registry; watches every write from then on. A new case: the
    // events, the event hook, the stop flag and the watch start afresh.
    // `spacingUs`: how much later per unit of its ID a device answers a broadcast ping.
    void startRobotBus(std::vector<SimDeviceSpec> devices, std::int64_t spacingUs = 0);

    // Runs the assign flow with this plan (codes: the quick search's unless given).
    AssignReport assign(AssignPlan plan);

    void onAssignEvent(const AssignEvent& event) override;

    // The events of a kind, in order.
    std::vector<AssignEvent> eventsOf(AssignEventKind kind) const;
    // Host writes of register `address` (Write packets), to any device, in the last assign run
    // (tallied as the run goes: the bus's record keeps only the latest traffic).
    int registerWrites(int address);
    // Pairs of connected devices that answered at one address before some host write.
    int sharedSeen() const { return sharedSeen_; }

    std::vector<AssignEvent> events;
    std::vector<std::int64_t> eventUs;  // the virtual time of each event
    std::function<void(const AssignEvent&)> onEvent;
    std::atomic<bool> stop{false};
    // A run still going at this virtual time is stopped: a case that goes wrong ends.
    std::int64_t giveUpUs = 900000000;
    // Whether two devices at one address are part of the test (the watch then stays quiet).
    bool sharingExpected = false;

private:
    void watchSharing();
    // Counts the Write packets recorded so far and empties the record.
    void tallyWrites();
    std::array<int, 256> writesTo_{};
    int sharedSeen_ = 0;
};

}  // namespace mvx::test
