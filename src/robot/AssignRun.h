// The assign flow's run, shared by the files that make it up: AssignFlow.cpp (the run from
// its first search to its summary), AssignLook.cpp (looking for the one new actuator),
// AssignPlace.cpp (moving, restoring and checking one actuator) and AssignOrder.cpp (the
// actuators that wait at a free ID while new ones still come to their address). Private to
// the robot module.
#pragma once

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "robot/AssignFlow.h"
#include "robot/BusSweep.h"
#include "robot/SafeMove.h"

namespace mvx {

inline constexpr const char* kOneAtATime = "Connect one new actuator at a time";

// "MQ-35 v30".
std::string deviceWords(const DeviceEntry& entry);

// The ID new actuators leave the factory with.
constexpr int kFactoryId = 1;

template <typename T>
bool contains(const std::vector<T>& list, const T& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

class AssignFlow::Run {
public:
    Run(DeviceRegistry& registry, AssignObserver& observer, const AssignPlan& plan,
        const std::atomic<bool>& stop)
        : registry_(registry),
          observer_(observer),
          plan_(plan),
          stop_(stop),
          sweep_(registry),
          move_(registry, sweep_) {
        wanted_ = plan.settings;
        if (wanted_ && plan.network && plan.returnDelay >= 0) {
            for (SettingValue& v : wanted_->values) {
                if (v.reg != nullptr && v.reg->setting == Setting::ReturnDelay) {
                    v.value = plan.returnDelay;
                }
            }
        }
    }

    AssignReport go();

private:
    enum class Hunt { Found, Stopped, Failed };
    struct Led {
        DeviceEntry* entry;
        std::int64_t offUs;
    };

    bool stopped() const { return stop_.load(); }
    Clock& clock() { return registry_.bus().clock(); }
    void emit(AssignEventKind kind, int index, std::string text = {});
    void setState(int index, AssignState state, std::string reason = {});
    // Ends the run for a reason that forbids going on.
    void fail(std::string why, bool adapter);
    // The first search; false when the run must not start.
    bool survey();
    // Looks at the bus again and again until exactly one new actuator answers for row `k`.
    Hunt hunt(int k, DeviceEntry*& entry);
    // Every stillLookingUs of waiting for row waitRow_, a StillLooking event.
    void stillLooking();
    // One look at every code: the new addresses, and what forbids taking any (in words).
    int lookAround(std::vector<DeviceAddress>& fresh, std::string& trouble);
    // The addresses new actuators came to and ID 1 (theirs from the factory) at every code of
    // the plan, where no known device holds them, each pinged directly: the first that
    // answers is new (or, answering broken, two new ones).
    int askArrivals(std::vector<DeviceAddress>& fresh,
                    const std::function<void(const std::string&)>& tell);
    // Gives the actuator found for row `k` its address, settings and check; `k` moves on past
    // the rows used (a skipped row included).
    void place(int& k, DeviceEntry& entry);
    // The settings, the return delay and the check at the actuator's address; false when the
    // row failed (the run may have been ended too).
    bool finish(int k, DeviceEntry& entry);
    // Reads the device back: 100 with `why` empty when it holds what it should.
    int check(DeviceEntry& entry, const AssignRow& row, std::string& why);
    // A failure of `result` while working on the actuator of row `k`: a lost adapter or a
    // device that stopped answering ends the run (naming where it may be: where it was, the
    // addresses of its last move), anything else fails the row.
    void failed(int k, int result, const std::string& what);
    // A free ID at the target code for an actuator to wait at (`parking`, -1 when none): 100,
    // or the failure of a look at the bus.
    int parkingId(DeviceEntry& entry, int& parking);
    // Row `k` failed with the actuator still at `at` (nothing written, or nothing that moved
    // it): it is left there and not taken again while it answers there.
    void leave(int k, const DeviceAddress& at, const std::string& why);
    // The parked actuators to their addresses, now that no more new ones come.
    void unpark();
    // Notes the actuator an earlier run of the same plan left waiting at a free ID of the
    // target code (on the bus before, at the highest ID that is no target, as parkingId picks
    // it). Only a run whose IDs hold the factory's own waits one there, so only such a plan
    // looks, and for one: any other actuator at those IDs is a device of the robot.
    void findLeftParked();
    // Row `k`'s actuator is one an earlier run left waiting: it waits on for the row (checked
    // where it is, moved last). False when none is left or it does not check.
    bool takeLeftParked(int k);
    void lightLed(DeviceEntry& entry);
    // Switches off the LEDs whose time is over (all of them with `all`; with `wait` after
    // their time unless the run was stopped).
    void ledsOff(bool all, bool wait = true);

    // What each actuator must end with: the file's settings, the return delay of the plan in
    // place of the file's when both are given.
    const DeviceSettings& wanted() const { return *wanted_; }

    DeviceRegistry& registry_;
    AssignObserver& observer_;
    const AssignPlan& plan_;
    std::optional<DeviceSettings> wanted_;
    const std::atomic<bool>& stop_;
    BusSweep sweep_;
    SafeMove move_;
    AssignReport report_;
    bool ended_ = false;                   // a failure forbids going on
    std::vector<DeviceAddress> arrivals_;  // where new actuators were found
    std::vector<DeviceAddress> ignored_;   // new devices not taken (while they answer)
    // Addresses that answered the first search without being read (two devices answered
    // there, a probe failed): taken all the same.
    std::vector<DeviceAddress> shared_;
    std::vector<std::pair<int, DeviceEntry*>> parked_;
    std::vector<DeviceEntry*> leftParked_;  // waiting since an earlier run
    // The actuator in hand: where its last move began and every address it may answer at
    // since.
    DeviceAddress movedFrom_;
    std::vector<DeviceAddress> steps_;
    bool moving_ = false;  // a move is under way: the actuator may be at any of steps_
    std::vector<Led> leds_;
    int waitRow_ = -1;  // the row being waited for
    std::int64_t waitSinceUs_ = 0;
    std::int64_t tellUs_ = 0;  // the next StillLooking
};

}  // namespace mvx
