#include "device/DeviceRegistry.h"

#include <algorithm>

#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

DeviceSummary summaryOf(const DeviceEntry& entry) {
    const ServoRecord* record = entry.servoRecord();
    return {entry.baudCode(),
            entry.id(),
            entry.modelClass(),
            entry.modelNumber(),
            entry.firmwareVersion(),
            entry.returnDelay(),
            entry.returnLevel(),
            record != nullptr,
            record != nullptr ? record->maxPosition() : 0};
}

DeviceRegistry::DeviceRegistry(FtDriver& driver, Clock& clock) : bus_(driver, clock) {}

DeviceRegistry::~DeviceRegistry() {
    bus_.close();
    std::vector<std::unique_ptr<DeviceEntry>> removed;
    std::lock_guard lock(mutex_);
    clearLocked(removed);
}

DeviceEntry* DeviceRegistry::appendPlaceholder() {
    auto entry = std::make_unique<DeviceEntry>(bus_);
    DeviceEntry* raw = entry.get();
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    placeholder_ = raw;
    return raw;
}

void DeviceRegistry::forgetPlaceholder(const DeviceEntry* removed) {
    if (removed == placeholder_) {
        placeholder_ = nullptr;
    }
}

bool DeviceRegistry::removeLast() {
    std::unique_ptr<DeviceEntry> removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    if (entries_.empty()) {
        return false;
    }
    removed = std::move(entries_.back());
    entries_.pop_back();
    forgetPlaceholder(removed.get());
    return true;
}

bool DeviceRegistry::removeAt(int index) {
    std::unique_ptr<DeviceEntry> removed;
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(entries_.size())) {
        return false;
    }
    removed = std::move(entries_[index]);
    entries_.erase(entries_.begin() + index);
    forgetPlaceholder(removed.get());
    return true;
}

DeviceEntry* DeviceRegistry::entryAt(int index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<int>(entries_.size())) {
        return nullptr;
    }
    return entries_[index].get();
}

int DeviceRegistry::entryCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(entries_.size());
}

void DeviceRegistry::moveLocked(int from, int to) {
    const int count = static_cast<int>(entries_.size());
    if (from < 0 || from >= count || to < 0 || to > count || from == to) {
        return;
    }
    auto entry = std::move(entries_[from]);
    entries_.erase(entries_.begin() + from);
    // `to` named a position in the list before the removal.
    const int target = to > from ? to - 1 : to;
    entries_.insert(entries_.begin() + target, std::move(entry));
}

void DeviceRegistry::move(int from, int to) {
    std::lock_guard lock(mutex_);
    moveLocked(from, to);
}

void DeviceRegistry::moveToEnd(int from) {
    std::lock_guard lock(mutex_);
    moveLocked(from, static_cast<int>(entries_.size()));
}

int DeviceRegistry::indexOfLocked(int code, int id) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i]->baudCode() == code && entries_[i]->id() == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int DeviceRegistry::indexOf(int code, int id) const {
    std::lock_guard lock(mutex_);
    return indexOfLocked(code, id);
}

bool DeviceRegistry::isPlaceholderLocked(const DeviceEntry* entry) const {
    return searchWorker_.load() && entry == placeholder_;
}

std::size_t DeviceRegistry::deviceCountLocked() const {
    // The worker's placeholder stays out for as long as the worker is active, also after a
    // stop cleared the searching flag: the worker may still be filling it.
    const bool hidden = searchWorker_.load() && placeholder_ != nullptr;
    return hidden ? entries_.size() - 1 : entries_.size();
}

const DeviceEntry* DeviceRegistry::findLocked(int code, int id) const {
    for (const auto& entry : entries_) {
        if (!isPlaceholderLocked(entry.get()) && entry->baudCode() == code && entry->id() == id) {
            return entry.get();
        }
    }
    return nullptr;
}

DeviceEntry* DeviceRegistry::find(int code, int id) {
    std::lock_guard lock(mutex_);
    return const_cast<DeviceEntry*>(findLocked(code, id));
}

int DeviceRegistry::deviceCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(deviceCountLocked());
}

std::vector<int> DeviceRegistry::codesInUse() const {
    std::vector<int> codes;
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (!isPlaceholderLocked(entry.get())) {
            codes.push_back(entry->baudCode());
        }
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

std::vector<int> DeviceRegistry::idsAt(int code) const {
    std::vector<int> ids;
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        if (!isPlaceholderLocked(entry.get()) && entry->baudCode() == code) {
            ids.push_back(entry->id());
        }
    }
    return ids;
}

std::vector<DeviceSummary> DeviceRegistry::snapshot() const {
    std::vector<DeviceSummary> devices;
    std::lock_guard lock(mutex_);
    devices.reserve(deviceCountLocked());
    for (const auto& e : entries_) {
        if (isPlaceholderLocked(e.get())) {
            continue;
        }
        devices.push_back(summaryOf(*e));
    }
    return devices;
}

int DeviceRegistry::progress(int& code, int& id) const {
    code = searchCode.load();
    id = searchId.load();
    return searchProgress.load();
}

DeviceEntry* DeviceRegistry::beginSearch() {
    auto entry = std::make_unique<DeviceEntry>(bus_);
    DeviceEntry* raw = entry.get();
    std::vector<std::unique_ptr<DeviceEntry>> removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    if (busy()) {
        return nullptr;
    }
    // Claimed, emptied and given its placeholder in one step: a stop cannot land before the
    // placeholder exists, and nobody sees the placeholder as a device.
    searchProgress = 0;
    searchWorker_ = true;
    searching = 1;
    clearLocked(removed);
    entries_.push_back(std::move(entry));
    placeholder_ = raw;
    return raw;
}

void DeviceRegistry::endSearch(const DeviceEntry* placeholder) {
    std::unique_ptr<DeviceEntry> removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [placeholder](const auto& e) { return e.get() == placeholder; });
    if (it != entries_.end()) {
        removed = std::move(*it);
        entries_.erase(it);
        forgetPlaceholder(placeholder);
    }
    searching = 0;
    searchWorker_ = false;
}

void DeviceRegistry::stopSearch() {
    searching = 0;
}

int DeviceRegistry::refresh() {
    if (busy()) {
        return Busy;
    }
    int index = 0;
    for (;;) {
        DeviceEntry* entry = entryAt(index);
        if (entry == nullptr) {
            return Success;
        }
        const int result = entry->ping();
        if (result == AdapterFailure) {
            return result;
        }
        if (result == Success) {
            ++index;
        } else {
            removeAt(index);  // the next entry moves up to this index
        }
    }
}

void DeviceRegistry::placeInOrderLocked(const DeviceEntry* entry) {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [entry](const auto& e) { return e.get() == entry; });
    if (it == entries_.end()) {
        return;
    }
    std::unique_ptr<DeviceEntry> moving = std::move(*it);
    entries_.erase(it);
    const int code = moving->baudCode();
    const int id = moving->id();
    const auto to = std::find_if(entries_.begin(), entries_.end(), [code, id](const auto& e) {
        return e->baudCode() > code || (e->baudCode() == code && e->id() > id);
    });
    entries_.insert(to, std::move(moving));
}

int DeviceRegistry::pingAt(int code, int id) {
    const int tuned = bus_.tune(static_cast<std::uint8_t>(code));
    if (tuned != Success) {
        return tuned;
    }
    const std::shared_ptr<AdapterLink> link = bus_.link();
    return link ? mvx::ping(*link, static_cast<std::uint8_t>(id)) : AdapterFailure;
}

std::vector<std::pair<int, int>> DeviceRegistry::addressesOnTheWay(int oldCode, int oldId,
                                                                   int newCode, int newId) {
    std::vector<std::pair<int, int>> way;
    if (newId != oldId) {
        way.emplace_back(oldCode, newId);
    }
    if (newCode != oldCode) {
        way.emplace_back(newCode, newId);
    }
    return way;
}

int DeviceRegistry::changeAddress(int oldCode, int oldId, int newCode, int newId) {
    if (newCode == oldCode && newId == oldId) {
        return Success;
    }
    if (newCode < 0 || newCode > 255 || newId < 0 || newId >= kBroadcastId) {
        return Busy;  // not an address a device can take: refused, nothing written
    }
    DeviceEntry* entry = nullptr;
    {
        std::lock_guard lock(mutex_);
        entry = const_cast<DeviceEntry*>(findLocked(oldCode, oldId));
        // Not only the new address: after the ID write the device answers at the new ID at the
        // old code, and a device already there would take the baud write with it.
        for (const auto& [code, id] : addressesOnTheWay(oldCode, oldId, newCode, newId)) {
            const DeviceEntry* holder = findLocked(code, id);
            if (holder != nullptr && holder != entry) {
                return Busy;
            }
        }
        if (entry == nullptr) {
            return Timeout;  // no such device in the list: treated like a silent device
        }
    }

    // The ID first (at the old code), then the baud rate. A failed write may still have
    // taken effect, or the device may have ignored it: ask the device where it is now.
    int failure = Success;
    if (newId != entry->id()) {
        failure = entry->changeId(newId);
    }
    if (failure == Success && newCode != entry->baudCode()) {
        failure = entry->changeBaud(newCode);
    }
    if (failure == Success) {
        failure = bus_.tune(static_cast<std::uint8_t>(entry->baudCode()));
    } else {
        bus_.clock().sleepMs(kSettlingWaitMs);  // a write that took effect needs its time
        // The new address, the new ID at the old code (the ID write went through, the baud
        // write not), the old address; each asked once. Nobody answering: the old address.
        std::vector<std::pair<int, int>> candidates;
        for (const std::pair<int, int>& address :
             {std::pair{newCode, newId}, std::pair{oldCode, newId}, std::pair{oldCode, oldId}}) {
            if (std::find(candidates.begin(), candidates.end(), address) == candidates.end()) {
                candidates.push_back(address);
            }
        }
        std::pair<int, int> found = {oldCode, oldId};
        for (const auto& [code, id] : candidates) {
            const int pinged = pingAt(code, id);
            if (pinged == AdapterFailure) {
                failure = pinged;  // nobody can be asked any more: the adapter is gone
                break;
            }
            if (pinged == Success) {
                found = {code, id};
                break;
            }
        }
        entry->baudCode_ = found.first;
        entry->id_ = found.second;
    }
    std::lock_guard lock(mutex_);
    placeInOrderLocked(entry);
    return failure;
}

void DeviceRegistry::clearLocked(std::vector<std::unique_ptr<DeviceEntry>>& removed) {
    removed.swap(entries_);
    placeholder_ = nullptr;
    walkPosition = 0;
}

int DeviceRegistry::clear() {
    std::vector<std::unique_ptr<DeviceEntry>> removed;  // destroyed outside the lock
    std::lock_guard lock(mutex_);
    if (busy()) {
        return Busy;
    }
    clearLocked(removed);
    return Success;
}

}  // namespace mvx
