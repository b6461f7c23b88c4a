#include "sim/SimChaos.h"

#include <vector>

#include "sim/SimulatedBus.h"

namespace mvx {

namespace {

constexpr int kMaxNoiseBytes = 8;
constexpr std::int64_t kShortDelayUs = 5000;    // within every read timeout
constexpr std::int64_t kLongDelayUs = 250000;   // past every read timeout
constexpr int kMaxSilentOperations = 3;         // beyond the one it starts in
constexpr int kMaxFailingCall = 24;             // adapter faults strike at call 1-24
constexpr std::uint8_t kChaosErrorBits = 0x29;  // overload, range, input voltage

}  // namespace

SimChaos::SimChaos(std::uint32_t seed, SimChaosRates rates) : rng_(seed), rates_(rates) {}

bool SimChaos::chance(double p) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < p;
}

std::uint32_t SimChaos::next() {
    std::lock_guard lock(mutex_);
    return rng_();
}

void SimChaos::beforeOperation(SimulatedBus& bus) {
    std::vector<const SimulatedDevice*> revive;
    {
        std::lock_guard lock(mutex_);
        tampered_.clear();
        touched_.clear();
        for (auto it = silent_.begin(); it != silent_.end();) {
            if (--it->second < 0) {
                revive.push_back(it->first);
                it = silent_.erase(it);
            } else {
                tampered_.insert(it->first);
                touched_.insert(it->first);
                ++it;
            }
        }
        failAtCall_ = 0;
        struck_ = false;
        callsSinceArmed_ = 0;
        if (chance(rates_.adapterFails + rates_.adapterUnplug)) {
            unplugKind_ =
                chance(rates_.adapterUnplug / (rates_.adapterFails + rates_.adapterUnplug));
            failAtCall_ = std::uniform_int_distribution<int>(1, kMaxFailingCall)(rng_);
        }
    }
    // Outside the chaos lock: setting faults takes the bus mutex, which the bus holds while it
    // calls back into the chaos.
    for (std::size_t i = 0; i < bus.deviceCount(); ++i) {
        SimulatedDevice& device = bus.device(i);
        for (const SimulatedDevice* d : revive) {
            if (d == &device) {
                device.setFaults(SimFaults{});
            }
        }
    }
}

void SimChaos::disarmAdapter() {
    std::lock_guard lock(mutex_);
    failAtCall_ = 0;
}

bool SimChaos::adapterStruck() const {
    std::lock_guard lock(mutex_);
    return struck_;
}

bool SimChaos::unplugArmed() const {
    std::lock_guard lock(mutex_);
    return failAtCall_ != 0 && unplugKind_;
}

bool SimChaos::tampered(const SimulatedDevice* device) const {
    std::lock_guard lock(mutex_);
    return tampered_.count(device) != 0;
}

bool SimChaos::touched(const SimulatedDevice* device) const {
    std::lock_guard lock(mutex_);
    return touched_.count(device) != 0;
}

void SimChaos::calm(SimulatedBus& bus) {
    {
        std::lock_guard lock(mutex_);
        silent_.clear();
        tampered_.clear();
        touched_.clear();
        failAtCall_ = 0;
    }
    for (std::size_t i = 0; i < bus.deviceCount(); ++i) {
        bus.device(i).setFaults(SimFaults{});
    }
}

SimChaosCounts SimChaos::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

void SimChaos::beforePacket(const SimulatedDevice& device, int packetsHeard, SimFaults& faults) {
    std::lock_guard lock(mutex_);
    ++counts_.packets;
    faults = SimFaults{};
    if (chance(rates_.goSilent)) {
        // Deaf and mute from this packet on (this one is neither applied nor answered).
        ++counts_.silenced;
        faults.dropReply = true;
        faults.ignoreWrites = true;
        faults.silentAfterPackets = packetsHeard;
        silent_[&device] = std::uniform_int_distribution<int>(0, kMaxSilentOperations)(rng_);
        tampered_.insert(&device);
        touched_.insert(&device);
        return;
    }
    if (chance(rates_.dropReply)) {
        ++counts_.dropped;
        faults.dropReply = true;
    }
    if (chance(rates_.truncateReply)) {
        ++counts_.truncated;
        faults.truncateReply = true;
    }
    if (chance(rates_.corruptChecksum)) {
        ++counts_.corrupted;
        faults.corruptChecksum = true;
    }
    if (chance(rates_.noise)) {
        ++counts_.noisy;
        faults.noiseBytes = std::uniform_int_distribution<int>(1, kMaxNoiseBytes)(rng_);
    }
    if (chance(rates_.delayReply)) {
        ++counts_.delayed;
        faults.extraDelayUs = chance(0.5) ? kLongDelayUs : kShortDelayUs;
    }
    if (chance(rates_.ignoreWrite)) {
        ++counts_.ignored;
        faults.ignoreWrites = true;
        tampered_.insert(&device);
    }
    if (chance(rates_.errorBits)) {
        ++counts_.errorBits;
        faults.errorBits = kChaosErrorBits;
    }
    const SimFaults none;
    if (faults.dropReply || faults.truncateReply || faults.corruptChecksum ||
        faults.noiseBytes != none.noiseBytes || faults.extraDelayUs != none.extraDelayUs ||
        faults.ignoreWrites || faults.errorBits != none.errorBits) {
        touched_.insert(&device);
    }
}

bool SimChaos::adapterCall(bool& unplug) {
    std::lock_guard lock(mutex_);
    unplug = false;
    if (failAtCall_ == 0) {
        return true;
    }
    if (!struck_ && ++callsSinceArmed_ < failAtCall_) {
        return true;
    }
    if (!struck_) {
        struck_ = true;
        ++(unplugKind_ ? counts_.unplugs : counts_.adapterFailures);
    }
    unplug = unplugKind_;
    return false;
}

}  // namespace mvx
