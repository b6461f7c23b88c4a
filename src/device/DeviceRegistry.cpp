#include "device/DeviceRegistry.h"

#include <algorithm>

#include "protocol/Packet.h"
#include "protocol/ResultCode.h"

namespace mvx {

DeviceRegistry::DeviceRegistry(FtDriver& driver, Clock& clock) : bus_(driver, clock) {}

DeviceRegistry::~DeviceRegistry() {
    bus_.close();
    clear();
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
        stoppedWithPlaceholder_ = false;
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

std::size_t DeviceRegistry::deviceCountLocked() const {
    if (entries_.empty()) {
        return 0;
    }
    // The last entry is the search's placeholder while a search runs, and stays so after a
    // stop until the worker removes it.
    const bool placeholderLast =
        searching.load() == 1 || (stoppedWithPlaceholder_ && placeholder_ == entries_.back().get());
    return placeholderLast ? entries_.size() - 1 : entries_.size();
}

const DeviceEntry* DeviceRegistry::findLocked(int code, int id) const {
    const std::size_t count = deviceCountLocked();
    for (std::size_t i = 0; i < count; ++i) {
        if (entries_[i]->baudCode() == code && entries_[i]->id() == id) {
            return entries_[i].get();
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
    const std::size_t count = deviceCountLocked();
    for (std::size_t i = 0; i < count; ++i) {
        codes.push_back(entries_[i]->baudCode());
    }
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    return codes;
}

std::vector<int> DeviceRegistry::idsAt(int code) const {
    std::vector<int> ids;
    std::lock_guard lock(mutex_);
    const std::size_t count = deviceCountLocked();
    for (std::size_t i = 0; i < count; ++i) {
        if (entries_[i]->baudCode() == code) {
            ids.push_back(entries_[i]->id());
        }
    }
    return ids;
}

std::vector<DeviceSummary> DeviceRegistry::snapshot() const {
    std::vector<DeviceSummary> devices;
    std::lock_guard lock(mutex_);
    const std::size_t count = deviceCountLocked();
    devices.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const DeviceEntry& entry = *entries_[i];
        devices.push_back({entry.baudCode(), entry.id(), entry.modelClass(), entry.modelNumber(),
                           entry.firmwareVersion(), entry.returnDelay(), entry.returnLevel()});
    }
    return devices;
}

int DeviceRegistry::progress(int& code, int& id) const {
    code = searchCode.load();
    id = searchId.load();
    return searchProgress.load();
}

void DeviceRegistry::stopSearch() {
    std::lock_guard lock(mutex_);
    const bool wasSearching = searching.exchange(0) == 1;
    if (wasSearching && placeholder_ != nullptr && !entries_.empty() &&
        placeholder_ == entries_.back().get()) {
        stoppedWithPlaceholder_ = true;
    }
}

int DeviceRegistry::refresh() {
    if (searching.load() == 1) {
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
        if (findLocked(newCode, newId) != nullptr) {
            return Busy;
        }
        const int from = indexOfLocked(oldCode, oldId);
        if (from < 0) {
            return Timeout;  // no such device in the list: treated like a silent device
        }
        // The entry goes before the first entry with a greater (code, ID).
        const int count = static_cast<int>(entries_.size());
        int to = count;
        for (int i = 0; i < count; ++i) {
            const int code = entries_[i]->baudCode();
            const int id = entries_[i]->id();
            if (code > newCode || (code == newCode && id > newId)) {
                to = i;
                break;
            }
        }
        moveLocked(from, to);
        const int moved = to == count ? count - 1 : (from < to ? to - 1 : to);
        entry = entries_[moved].get();
    }

    // The list is reordered before the writes; a failed write leaves the entry at the
    // address that the ID or baud change restored.
    if (newId != entry->id()) {
        const int result = entry->changeId(newId);
        if (result == AdapterFailure) {
            return result;
        }
    }
    if (newCode != entry->baudCode()) {
        int result = entry->changeBaud(newCode);
        if (result == AdapterFailure) {
            return result;
        }
        result = bus_.tune(static_cast<std::uint8_t>(entry->baudCode()));
        if (result == AdapterFailure) {
            return result;
        }
    }
    return Success;
}

void DeviceRegistry::clear() {
    std::vector<std::unique_ptr<DeviceEntry>> removed;
    std::lock_guard lock(mutex_);
    removed.swap(entries_);
    placeholder_ = nullptr;
    stoppedWithPlaceholder_ = false;
    walkPosition = 0;
}

}  // namespace mvx
