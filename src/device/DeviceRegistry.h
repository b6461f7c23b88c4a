// The list of devices found on the bus, with the state of a running search and of a
// firmware update. Owns the bus connection; destroying the registry closes the adapter.
//
// The search worker appends and fills entries while the GUI thread reads the list, so every
// change of the list and every query runs under one lock, and the GUI reads value snapshots.
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
    int indexOf(int code, int id) const;       // over all entries
    DeviceEntry* find(int code, int id);       // over the devices (placeholder left out)
    int deviceCount() const;                   // placeholder left out while searching
    std::vector<int> codesInUse() const;       // ascending, each once
    std::vector<int> idsAt(int code) const;    // list order
    std::vector<DeviceSummary> snapshot() const;  // the devices, list order
    int progress(int& code, int& id) const;
    void stopSearch();
    int refresh();
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
    BusConnection bus_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<DeviceEntry>> entries_;
};

}  // namespace mvx
