// The list of devices found on the bus, with the state of a running search and of a
// firmware update. Owns the bus connection; destroying the registry closes the adapter.
//
// One thread uses the registry, its entries and the bus at a time (the command line's, or the
// desktop program's bus executor). While a search runs there, another thread may read its
// progress atomics, stop it and take value snapshots of the list: every change of the list and
// every query runs under one lock. While a search worker is active (from beginSearch until
// endSearch, which outlasts the searching flag after a stop) the list holds the placeholder the
// worker fills for each probed address; the queries over devices leave it out, and search,
// refresh and clear are refused with 105. Entry pointers handed out stay valid until that entry
// is removed; entry fields of devices change only on the registry's own thread while no search
// runs.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "device/DeviceEntry.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UpdateList.h"
#include "protocol/BusConnection.h"

namespace mvx {

// A value copy of one entry, for readers on another thread.
struct DeviceSummary {
    int baudCode = -1;
    int id = -1;
    ModelClass modelClass = UnknownModel;
    int modelNumber = 0;
    int firmwareVersion = 0;
    int returnDelay = 0;
    int returnLevel = -1;
    bool hasRecord = false;  // the entry holds a servo record
    int maxPosition = 0;     // the record's, 0 without one

    bool operator==(const DeviceSummary&) const = default;
};

// The summary of `entry` as it is now.
DeviceSummary summaryOf(const DeviceEntry& entry);

class DeviceRegistry {
public:
    DeviceRegistry(FtDriver& driver, Clock& clock);
    ~DeviceRegistry();

    BusConnection& bus() { return bus_; }

    // List operations (indices from 0; out of range gives null or false).
    DeviceEntry* appendPlaceholder();
    bool removeLast();
    bool removeAt(int index);
    DeviceEntry* entryAt(int index);
    int entryCount() const;  // including the placeholder
    void move(int from, int to);
    void moveToEnd(int from);
    int indexOf(int code, int id) const;          // over all entries
    DeviceEntry* find(int code, int id);          // over the devices (placeholder left out)
    int deviceCount() const;                      // placeholder left out while searching
    std::vector<int> codesInUse() const;          // ascending, each once
    std::vector<int> idsAt(int code) const;       // list order
    std::vector<DeviceSummary> snapshot() const;  // the devices, list order
    int progress(int& code, int& id) const;

    // The search worker's side. beginSearch claims the worker slot, sets the progress to 0
    // and the searching flag, empties the list and appends the first placeholder, all in one step;
    // null (nothing changed) when a worker is still active or the flag is set. endSearch removes
    // that worker's current placeholder (by pointer, wherever it is) and releases the slot.
    DeviceEntry* beginSearch();
    void endSearch(const DeviceEntry* placeholder);
    // True from beginSearch until endSearch, also after a stop while the worker winds down.
    // The GUI waits for false before it offers search, refresh or clear again.
    bool searchWorkerActive() const { return searchWorker_.load(); }
    // Clears the searching flag. The placeholder stays left out of the device queries until
    // the worker removes it, since the worker may still be filling it.
    void stopSearch();
    // Pings every entry and drops the silent ones; 105 while a search worker is active.
    int refresh();
    // Writes ID and baud rate, then moves the entry to its place in (code, ID) order. 105
    // when another device holds an address the device passes through (addressesOnTheWay;
    // nothing written); 103 when the old address is not registered.
    // A failed write returns its result; the entry then takes the address at which the device
    // answers (new, the new ID at the old code, old), or keeps the old one when none answers.
    // An adapter lost while asking is 101.
    int changeAddress(int oldCode, int oldId, int newCode, int newId);
    // The addresses (code, ID) a device answers at on its way from the old address to the new
    // one, in order: the ID is written first, at the old code (so the new ID at the old code
    // comes first when both change), then the baud rate; the last is the new address. A second
    // device at any of them would answer together with the moved one. Empty when nothing
    // changes; the old address is never among them.
    static std::vector<std::pair<int, int>> addressesOnTheWay(int oldCode, int oldId, int newCode,
                                                              int newId);
    // Empties the list: 100, or 105 (nothing changed) while a search worker is active.
    int clear();

    // Search state, written by the search and read by any thread.
    std::atomic<int> searchProgress{0};
    std::atomic<int> searching{0};
    std::atomic<int> searchCode{0};
    std::atomic<int> searchId{0};

    // Firmware update state.
    int walkPosition = 0;
    FirmwareImage firmware;
    UpdateList updates;

private:
    // Whether the entry is the active worker's placeholder (lock held).
    bool isPlaceholderLocked(const DeviceEntry* entry) const;
    // Whether search, refresh and clear must be refused.
    bool busy() const { return searchWorker_.load() || searching.load() != 0; }
    // Number of entries that are devices (lock held).
    std::size_t deviceCountLocked() const;
    const DeviceEntry* findLocked(int code, int id) const;
    int indexOfLocked(int code, int id) const;
    void moveLocked(int from, int to);
    void forgetPlaceholder(const DeviceEntry* removed);
    // Moves `entry` before the first other entry with a greater (code, ID) (lock held).
    void placeInOrderLocked(const DeviceEntry* entry);
    // Empties the list into `removed` (lock held; the entries die outside the lock).
    void clearLocked(std::vector<std::unique_ptr<DeviceEntry>>& removed);
    // Tunes to `code` and pings `id` directly: the ping's result, 101 without an adapter.
    int pingAt(int code, int id);

    BusConnection bus_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<DeviceEntry>> entries_;
    // The entry last appended by appendPlaceholder while it is in the list; while a worker is
    // active it is that worker's placeholder. Written under the lock; the flag is atomic so
    // the GUI can poll it without taking the lock.
    const DeviceEntry* placeholder_ = nullptr;
    std::atomic<bool> searchWorker_{false};
};

}  // namespace mvx
