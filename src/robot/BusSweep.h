// Looks at the bus code by code for the robot flows: who answers a broadcast ping, who answers
// a walk over IDs 0-253, and whose answers come back broken because two devices share one
// address. The broadcast and the walk are the fast search's own (CodeSurvey): sure, with waits
// timed from the wire and the adapter; unlike the search, nothing is probed unless asked, and a
// broken reply is reported rather than passed over, since the flows must never move a device
// that shares its address with another.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "protocol/BusConnection.h"
#include "robot/DeviceAddress.h"
#include "search/CodeSurvey.h"
#include "search/FastSearchTiming.h"

namespace mvx {

class AdapterLink;
class DeviceEntry;
class DeviceRegistry;

// What one look at a code heard.
struct CodeLook {
    int code = -1;
    bool heard = false;         // any byte at all came back
    bool sure = false;          // the broadcast was heard as long as answers could come
    bool walked = false;        // every ID was pinged
    bool complete = true;       // false when a stop cut the look short
    std::vector<int> answered;  // IDs that answered cleanly, ascending, each once
    std::vector<int> repeated;  // IDs that answered one broadcast twice (two devices)
    std::vector<int> garbled;   // IDs whose replies came back broken (two devices at once)
    std::vector<int> named;     // IDs named by broken broadcast answers, ascending, each once
    bool noise = false;         // broken bytes that no ID could be found for
    // With broken answers: how many answers the bytes heard would make, all at one address.
    int crowd = 0;
};

// Progress of a search: the code being looked at and the share of the codes done (0-100).
using SweepProgress = std::function<void(int code, int percent)>;

class BusSweep {
public:
    explicit BusSweep(DeviceRegistry& registry);
    ~BusSweep();

    // The time the devices get to answer a broadcast ping (they may space their answers out
    // by ID).
    static constexpr std::int64_t kBroadcastAnswersUs = CodeSurvey::kBroadcastAnswersUs;

    // A broadcast ping at `code`, heard for kBroadcastAnswersUs (the only bound there is) and,
    // when anything came, until the line is quiet (CodeSurvey::broadcast): silence is sure.
    // 100, 101 when the adapter failed, or 102 when the ping could not be written.
    int broadcast(int code, CodeLook& look);
    // Pings IDs 0-253 at `code` one reply window apart and credits each clean reply to its ID;
    // broken bytes are put down to the IDs pinged just before them, which are then pinged
    // alone. `stop` (may be null) is looked at before each ID. The IDs `look` holds already (a
    // broadcast's answers) get room for two answers after their ping, with `anyCrowded` every
    // ID for three (or as many as broken broadcast answers make); an address where more
    // answered an earlier look gets room for one more than then, and each of `arrivalIds`
    // (where new devices come, several at once) for kArrivalRoom. 100,
    // 101, or 102 when a ping could not be written (the look is then no answer for anyone).
    int walk(int code, const std::atomic<bool>* stop, CodeLook& look, bool anyCrowded = false,
             const std::vector<int>& arrivalIds = {});
    // The answers a walk leaves room for after the ping of an ID where new devices come.
    static constexpr int kArrivalRoom = 6;
    // Whether anything answers a ping at `address` within one reply window (a broken answer
    // counts; `broken`, when given, tells whether it was one: two devices there). 100, 101, or
    // 102 when the ping could not be written.
    int anyoneAt(const DeviceAddress& address, bool& answered, bool* broken = nullptr);
    // The broadcast at each code and, where it was heard, the walk; then every ID that
    // answered is probed into the registry (an entry appended for each, identity and record
    // read as the search does). 100 (also when stopped, `looks` then shorter or incomplete),
    // 101 or 102.
    int search(const std::vector<int>& codes, const std::atomic<bool>* stop,
               const SweepProgress& progress, std::vector<CodeLook>& looks);
    // Probes `address` into a new registry entry: 100 with `entry` set, or the probe's failure
    // with nothing kept.
    int probe(const DeviceAddress& address, DeviceEntry*& entry);
    // Sets the link to `code` with the short settle the fast search uses, so that the entry
    // operations that follow find it there and do not wait the full rate-change pause.
    int tune(int code);

private:
    // Sets the link to `code` for one look and drops stale input: the link (with `timing_`
    // made), or null when the adapter failed.
    std::shared_ptr<AdapterLink> linkAt(int code);

    DeviceRegistry& registry_;
    std::unique_ptr<FastSearchTiming> timing_;
    // Addresses where more than one device answered a look, with how many did last.
    std::map<DeviceAddress, int> crowds_;
};

}  // namespace mvx
