#include "buslog/BusLogStore.h"

#include <algorithm>

namespace mvx {

BusLogStore::BusLogStore(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void BusLogStore::append(BusLogEntry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entry.sequence = next_++;
    if (entries_.size() == capacity_) {
        entries_.pop_front();
    }
    entries_.push_back(entry);
}

std::vector<BusLogEntry> BusLogStore::since(std::uint64_t from, std::size_t max) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t first = next_ - entries_.size();
    const std::uint64_t start = std::max(from, first);
    std::vector<BusLogEntry> out;
    if (start >= next_) {
        return out;
    }
    const std::size_t count = std::min<std::uint64_t>(next_ - start, max);
    out.reserve(count);
    const std::size_t begin = static_cast<std::size_t>(start - first);
    for (std::size_t i = begin; i < begin + count; ++i) {
        entries_.read(i, out.emplace_back());
    }
    return out;
}

std::size_t BusLogStore::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

std::uint64_t BusLogStore::nextSequence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_;
}

std::uint64_t BusLogStore::dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return next_ - entries_.size();
}

}  // namespace mvx
