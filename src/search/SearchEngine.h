// Finds every device on the bus: per baud-rate code a broadcast ping, and where someone
// answers a walk over IDs 0-253. Runs on the thread that owns the bus (the desktop program's
// bus executor, as one long job); publishes its progress through the registry and stops when
// the registry's searching flag is cleared.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace mvx {

class AdapterLink;
class DeviceEntry;
class DeviceRegistry;
struct DeviceSummary;

// Told of a search's course, on the search's thread.
class SearchObserver {
public:
    virtual ~SearchObserver() = default;
    // A device was found and its record read; it stands in the list where the standard search
    // would list it.
    virtual void deviceFound(const DeviceSummary& device) = 0;
    // Nothing answered the broadcast at `code` within the short wait, and the search listens on
    // for the rest of the 500 ms to be sure: the `ordinal`th (from 1) of the `total` codes the
    // search visits.
    virtual void makingSure(int code, int ordinal, int total) = 0;
};

struct FastSearchOptions {
    // The short waits only: a code where nothing answered within the first byte's time is
    // passed as silent without being made sure (unsureCodes()).
    bool quickLook = false;
    SearchObserver* observer = nullptr;  // may be null
    // Looked at beside the registry's searching flag: set, it stops the search as Stop does
    // (a program's Ctrl+C). May be null.
    const std::atomic<bool>* stop = nullptr;
};

enum SearchMode : int {
    QuickSearch = 1,
    FullSearch = 2,
};

class SearchEngine {
public:
    explicit SearchEngine(DeviceRegistry& registry) : registry_(registry) {}
    // 100 when the search ran to its end or was stopped; 101 on adapter failure; 105 when a
    // search worker is still active (also one that was stopped and is winding down); a failure of a
    // baud change or the broadcast send as it is. Mode 2 walks every code from 1 to 255; any other
    // mode the nine common codes.
    int search(int mode);
    // The same search with waits timed from the wire and the adapter instead of fixed pauses
    // (CodeSurvey): the same devices in the same order with the same records, the same results,
    // stop and progress, in a fraction of the time. Sure unless `options.quickLook` says
    // otherwise; a full search visits the common codes first (FastSearch.cpp tells how).
    int fastSearch(int mode, const FastSearchOptions& options = {});
    // Whether the last search made sure of every code it was to visit: each heard for the
    // whole time answers to its broadcast could come. False after a stop, an early end or a
    // quick look that passed codes as silent.
    bool lastSearchSure() const { return unsure_.empty(); }
    // The codes the last search did not make sure of, ascending.
    const std::vector<int>& unsureCodes() const { return unsure_; }

private:
    // The start both searches share: the bus's link, the worker slot claimed with the list
    // emptied and the placeholder appended, and the codes `mode` walks. 100 when the search may
    // run; 101 without a link, 105 when a search worker is still active.
    int beginSearch(int mode, std::shared_ptr<AdapterLink>& link, DeviceEntry*& placeholder,
                    std::span<const std::uint8_t>& codes);
    // The end both share, early or not: the worker removes its own placeholder (by pointer) and
    // releases the registry; on 100 the progress then reaches 100, so whoever sees 100 also sees
    // the final device list, while an early end leaves it at its value. `result` back.
    int endSearch(DeviceEntry* placeholder, int result);
    // The broadcast step both share, once the link runs at `code`: the position shows the
    // broadcast ID at `code`, stale input is dropped and the broadcast ping goes out. The send's
    // result.
    int broadcastAt(AdapterLink& link, std::uint8_t code);
    // Reads the identity of the device that answered its ping at (code, id) into the
    // placeholder, a second time when the first read came back corrupt. On 100 the placeholder
    // has become that device and `placeholder` is the new one appended after it. The probe's
    // result.
    int probeAnswered(DeviceEntry*& placeholder, int code, int id);
    // The visit of `code` made sure of it.
    void markSure(int code);
    // Tunes the bus to `code` and pings `id` with the timed read, as an entry's ping does.
    int pingAt(int code, int id);

    DeviceRegistry& registry_;
    std::vector<int> unsure_;
};

}  // namespace mvx
