// The list of devices found on the bus, with the state of a running search and of a
// firmware update. Owns the bus connection; destroying the registry closes the adapter.
//
// The search worker appends and fills entries while the GUI thread reads the list, so every
// change of the list and every query runs under one lock, and the GUI reads value snapshots.
// While a search runs the last entry is the placeholder the worker fills for each probed
// address; the queries over devices leave it out. Entry pointers handed out stay valid until
// that entry is removed; entry fields of devices change only on the GUI thread while no
// search runs.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
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
};

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
    // Clears the searching flag. The placeholder stays left out of the device queries until
    // the worker removes it, since the worker may still be filling it.
    void stopSearch();
    int refresh();
    // Moves the entry to its place in (code, ID) order, then writes ID and baud rate. 105
    // onto an occupied address (nothing written); 103 when the old address is not registered.
    int changeAddress(int oldCode, int oldId, int newCode, int newId);
    void clear();

    // Search state, written by the search worker and read by the GUI thread.
    std::atomic<int> searchProgress{0};
    std::atomic<int> searching{0};
    std::atomic<int> searchCode{0};
    std::atomic<int> searchId{0};

    // Firmware update state.
    int walkPosition = 0;
    FirmwareImage firmware;
    UpdateList updates;

private:
    // Number of entries that are devices (lock held).
    std::size_t deviceCountLocked() const;
    const DeviceEntry* findLocked(int code, int id) const;
    int indexOfLocked(int code, int id) const;
    void moveLocked(int from, int to);
    void forgetPlaceholder(const DeviceEntry* removed);

    BusConnection bus_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<DeviceEntry>> entries_;
    // The entry last appended by appendPlaceholder while it is in the list, and whether a
    // stop came while it was the search's placeholder.
    const DeviceEntry* placeholder_ = nullptr;
    bool stoppedWithPlaceholder_ = false;
};

}  // namespace mvx
