// Which bus log entries the Bus Log window shows: by device ID, baud-rate code, instruction and
// "errors only". A reply goes with the instruction it answers: with an instruction chosen, a
// device packet is shown when the host packet before it was. Link events are shown only while
// no filter is set.
#pragma once

#include "buslog/BusLogEntry.h"

namespace mvx::gui {

// What the filter carries from one entry to the next, in log order: the last host packet.
struct BusLogFollow {
    bool hostShown = true;  // it matched the instruction
    int hostId = -1;        // the ID it was sent to
};

struct BusLogFilter {
    int id = -1;           // -1: any
    int code = -1;         // -1: any
    int instruction = -1;  // -1: any
    bool errorsOnly = false;

    bool any() const { return id >= 0 || code >= 0 || instruction >= 0 || errorsOnly; }
    // Whether `entry` is shown; `follow` starts default for the first entry.
    bool accepts(const BusLogEntry& entry, BusLogFollow& follow) const;
};

// Whether `entry` tells of a failure: a refused or missing reply, a short write, or a status
// with error bits.
bool isError(const BusLogEntry& entry);

}  // namespace mvx::gui
