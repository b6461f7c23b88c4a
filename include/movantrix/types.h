// The plain values of the library: register values, addresses, how a long call is stopped,
// and what the searches, the settings transfers and the robot flows report.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

namespace movantrix {

// A register's value in its unit: a whole number (positions in steps, switches 0 or 1, signed
// speeds and loads, degrees Celsius), volts as a double, or alarm flags by name
// ("overload", "overheating"; empty for none).
using Flags = std::vector<std::string>;
using Value = std::variant<int, double, Flags>;
// Register name -> value, e.g. {"present-position": 512, "present-voltage": 12.0}.
using Values = std::map<std::string, Value>;

// Where a device answers: its baud-rate code (0-255) and its ID (0-253).
struct Address {
    int code = -1;
    int id = -1;

    bool valid() const { return code >= 0 && code <= 255 && id >= 0 && id <= 253; }
    friend bool operator==(const Address&, const Address&) = default;
};

// How the caller stops a long call (search, restore, assign, profile flows, watch): it ends
// between two steps, never in the middle of a move or a write. Either or both:
// a std::stop_token (from a std::stop_source or a std::jthread), and a predicate asked on the
// calling thread about every 20 ms while the call runs (true stops it).
struct Stop {
    std::stop_token token{};
    std::function<bool()> requested;
};

// --- searches -----------------------------------------------------------------------------

// Called on the calling thread while a search runs: the share done (0-100) and the address
// being looked at.
using SearchProgress = std::function<void(int percent, int code, int id)>;

struct ScanOptions {
    bool full = false;         // all 255 baud-rate codes, not only the nine common ones
    bool fast = true;          // the fast search (waits timed from the adapter and the answers)
    std::vector<int> codes{};  // only these codes (a sure look at each); empty: by `full`
    bool quickLook = false;    // fast search: short waits only; codes with no answer left unsure
    SearchProgress progress{};
    Stop stop{};
};

class Device;

// --- settings transfers -----------------------------------------------------------------

// One setting that differs between a device and a file.
struct SettingDifference {
    std::string name{};    // the register name ("max-torque")
    Value now{};           // on the device
    Value wanted{};        // in the file
    bool skipped = false;  // out of this model's range: reported, never written
    std::string skipReason{};
};

struct RestoreOptions {
    std::vector<Address> devices{};  // where to restore; empty: the address the file was taken at
    bool network = false;            // also the return delay and return level
    bool dryRun = false;             // tell the differences, write nothing
    bool force = false;              // write to another model too (only what fits its ranges)
    Stop stop{};                     // looked at between devices
};

// What a restore did to one device.
struct RestoreRow {
    Address at{};
    int model = 0;
    std::vector<SettingDifference> differences{};  // what differed before
    std::vector<std::string> written{};            // written and answered, in the order written
    std::string failedAt{};                 // the setting whose write failed (may have taken)
    std::vector<std::string> notWritten{};  // after the one that failed
    std::vector<std::string> notTaken{};    // written, but read back with another value
    int result = 100;                       // the first failure's result code
    std::string problem{};                  // why it did not end well, in words; empty: fine
    bool ok() const { return problem.empty(); }
};

struct RestoreReport {
    std::vector<RestoreRow> rows{};   // one per device tried, in the order given
    std::vector<Address> notTried{};  // after the adapter was lost, or after a stop
    bool dryRun = false;
    bool adapterLost = false;
    bool stopped = false;
    // Every device restored (or, for a dry run, could be).
    bool ok() const {
        if (adapterLost || stopped || !notTried.empty()) {
            return false;
        }
        for (const RestoreRow& row : rows) {
            if (!row.ok()) {
                return false;
            }
        }
        return true;
    }
};

// --- robot flows ------------------------------------------------------------------------

enum class AssignEventKind {
    Searching,     // the first search is running
    Present,       // what was on the bus before (never touched)
    Refused,       // the run does not start; nothing written
    Waiting,       // the actuator for row `index` is awaited
    StillLooking,  // every 10 s of waiting
    Trouble,       // new devices that cannot be taken now; nothing moved
    Ignored,       // a new device that is not taken
    Row,           // row `index` changed
    Finished,      // the run ended (text: the summary)
};

struct AssignRow {
    int id = -1;          // the ID this row gives
    int code = -1;        // at this baud-rate code
    std::string state{};  // "waiting", "found", "moved", "restored", "checked", "skipped", "failed"
    Address foundAt{};    // where the new actuator was found
    Address at{};         // where it answers now
    int model = 0;
    std::string modelName{};
    int firmware = 0;
    bool settingsRestored = false;
    int settingsWritten = 0;
    bool alreadyThere = false;  // skipped: a device held the address before the run
    std::string reason{};       // skipped, failed: why
    std::string line{};         // the row in words, as movantrix-cli prints it
};

struct AssignEvent {
    AssignEventKind kind = AssignEventKind::Waiting;
    int index = -1;  // the row concerned, or -1
    AssignRow row{};
    std::string text{};
};

struct AssignOptions {
    std::vector<int> codes{};    // where new actuators are looked for; empty: the nine common
    std::string settingsFile{};  // a settings file restored onto each actuator; empty: none
    bool network = false;        // with settingsFile: its return delay and level too
    int returnDelay = -1;        // 0-255 written to each actuator; -1: not
    std::function<void(const AssignEvent&)> onEvent{};  // on the calling thread
    Stop stop{};                                        // ends the run after the actuator in hand
};

struct AssignReport {
    std::vector<AssignRow> rows{};
    bool refused = false;
    bool stopped = false;
    bool adapterLost = false;
    std::string failure{};               // what ended the run early, in words
    std::vector<Address> preExisting{};  // what answered the first search
    int given = 0;                       // rows checked at their address
    std::string summary{};
    bool complete = false;  // every ID given or already there
    bool ok() const { return complete; }
};

struct ProfileOptions {
    std::vector<int> codes{};  // profileSave: codes searched; empty: by `full`
    bool full = false;
    bool network = false;  // profileApply: also the return delay and level
    bool dryRun = false;   // profileApply: tell the differences, write nothing
    SearchProgress progress{};
    Stop stop{};
};

// A device of a profile, or found by profileSave.
struct ProfileDevice {
    Address at{};
    int model = 0;
    std::string modelName{};
    int firmware = 0;
    bool hasSettings = false;
};

struct CheckRow {
    // "ok", "missing", "moved", "other model", "firmware differs", "settings differ",
    // "unexpected".
    std::string kind{};
    Address expectedAt{};  // invalid for unexpected
    Address foundAt{};     // invalid for missing
    int expectedModel = 0;
    int expectedFirmware = 0;
    int foundModel = 0;
    int foundFirmware = 0;
    std::vector<SettingDifference> settings{};  // now: on the bus, wanted: in the profile
    std::string detail{};                       // the differences in words
    bool ok() const { return kind == "ok"; }
};

struct ApplyRow {
    Address at{};
    int model = 0;
    std::vector<SettingDifference> changes{};
    bool applied = false;
    int written = 0;
    int result = 100;
    std::string problem{};  // why nothing was written, or what went wrong
};

struct AdoptReport {
    bool refused = false;  // the rule does not hold: nothing written
    std::string reason{};  // why (refused), or what failed
    Address from{};        // the newcomer
    Address to{};          // the missing device's address
    int result = 100;
    int written = 0;
    CheckRow after{};  // the joint checked at its address afterwards
    bool ok() const { return !refused && reason.empty() && after.ok(); }
};

// --- telemetry ----------------------------------------------------------------------------

// One sample of the status block. A gap (ok false) carries its time and result only.
struct Sample {
    double timeS = 0.0;  // seconds since the first sample of the watch
    bool ok = false;
    int result = 0;   // the read's result code (100 when ok)
    Values values{};  // the names watched, in their units
};

}  // namespace movantrix
