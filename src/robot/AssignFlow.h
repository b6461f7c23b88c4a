// Gives new actuators their IDs one after the other. Before the first, a search notes what is
// on the bus already (never touched). Then, for each ID in turn, the bus is looked at again
// and again until exactly one new device has appeared; it is moved to (target code, ID)
// without ever answering where another device answers (SafeMove), given the settings file's
// settings and the return delay if asked, read back at its new address, and its LED is lit for
// two seconds. Two new devices at once (two new addresses, or one address answering broken
// because two devices share it) move nothing. A target held by another device is skipped; a
// device that does not answer at its new address ends the run.
//
// The flow runs on whatever thread owns the bus (a command line's main thread, a desktop
// program's bus worker). It reports through an AssignObserver, on that thread, with plain
// values, and looks at a stop flag between its steps: a stop ends it after the step in hand,
// never in the middle of a move; an actuator whose move has begun is finished first.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "device/SettingsFile.h"
#include "robot/DeviceAddress.h"

namespace mvx {

class DeviceRegistry;

struct AssignPlan {
    std::vector<int> ids;                    // the IDs to give, in this order
    int targetCode = 1;                      // the baud-rate code every actuator ends at
    std::vector<int> codes;                  // where new devices are looked for
    std::optional<DeviceSettings> settings;  // restored onto each actuator
    bool network = false;                    // the file's return delay and level too
    int returnDelay = -1;  // 0-255: written to each actuator (after the settings); -1: not
    std::int64_t ledOnUs = 2000000;  // how long each actuator's LED is lit at least once it is
                                     // checked (it stays lit until the next one is found)
    std::int64_t stillLookingUs = 10000000;  // how often a StillLooking event comes
};

enum class AssignState {
    Waiting,   // not yet found
    Found,     // a new actuator for this ID was found
    Moved,     // it is at its address (or parked, see AssignRow::parkedAt)
    Restored,  // the settings file's settings are on it
    Checked,   // read back at its address: done
    Skipped,   // the address was held by another device: the ID was not given (`already`:
               // it was held before the run, e.g. by an actuator of an earlier run)
    Failed,    // something went wrong (reason)
};

struct AssignRow {
    int id = -1;    // the ID this row gives
    int code = -1;  // at this baud-rate code
    AssignState state = AssignState::Waiting;
    DeviceAddress foundAt;  // where the new actuator was found
    DeviceAddress at;       // where it answers now (after a failure: where it was last known)
    // Where it waits while new actuators still come to its address (then moved there last).
    DeviceAddress parkedAt;
    int modelNumber = 0;
    int firmwareVersion = 0;
    bool settingsRestored = false;
    int settingsWritten = 0;
    bool already = false;  // Skipped: a device was at the target before the run ("already there")
    std::string reason;    // Skipped, Failed: why, in words
};

enum class AssignEventKind {
    Searching,     // the first search is running (text: what it does)
    Present,       // what the first search found there, never touched (text: the list; empty
                   // when nothing answered)
    Refused,       // the run does not start (text: why); nothing was written
    Waiting,       // the actuator for rows[index] is awaited (after a trouble too)
    StillLooking,  // every 10 s of waiting (text: "still looking at codes 1, 34 (waited 10 s)")
    Trouble,       // new devices that cannot be taken now (text); nothing was moved
    Ignored,       // a new device that is not taken (not an actuator, another model; text)
    Row,           // rows[index] changed (row: its new state)
    Finished,      // the run ended (text: the summary)
};

struct AssignEvent {
    AssignEventKind kind = AssignEventKind::Waiting;
    int index = -1;  // the row concerned, or -1
    AssignRow row;   // that row as it is now
    std::string text;
};

class AssignObserver {
public:
    virtual ~AssignObserver() = default;
    virtual void onAssignEvent(const AssignEvent& event) = 0;
};

struct AssignReport {
    std::vector<AssignRow> rows;
    bool refused = false;                    // the run did not start (see failure)
    bool stopped = false;                    // ended by the stop flag before every ID was given
    bool adapterLost = false;                // the adapter failed (101)
    std::string failure;                     // what ended the run early, in words
    std::vector<DeviceAddress> preExisting;  // every address that answered the first search

    int given() const;  // rows Checked at their address
    // 0 when every ID was given or already there, 1 otherwise.
    int exitStatus() const;
    std::string summary() const;
};

// The result line of a row, e.g. "ID 3: MQ-35 v30 found at code 34 ID 1 -> code 1 ID 3,
// settings restored, checked".
std::string assignLine(const AssignRow& row);

class AssignFlow {
public:
    AssignFlow(DeviceRegistry& registry, AssignObserver& observer);
    // Runs the flow to its end (every ID given), a stop, or a failure that forbids going on.
    // The registry is emptied first and then holds the devices of the run.
    AssignReport run(const AssignPlan& plan, const std::atomic<bool>& stop);

private:
    class Run;
    DeviceRegistry& registry_;
    AssignObserver& observer_;
};

// The state's word in a result table: "waiting", "found", "moved", "restored", "checked",
// "skipped", "failed".
const char* assignStateWord(AssignState state);

}  // namespace mvx
