// Seeded random faults for a simulated bus, for soak runs. Once attached (SimulatedBus::
// setChaos), it picks the faults of the device that handles a packet just before it handles
// it (dropped, truncated, corrupted or delayed reply, noise in front of it, a write the device
// ignores, error bits, or the device going deaf and mute for a few operations), and decides
// for every driver call whether the adapter fails or vanishes (armed by beforeOperation).
//
// The same seed and the same sequence of bus traffic give the same faults. beforePacket and
// adapterCall run with the bus mutex held and touch only the chaos's own state and the fault
// set they are handed; everything else is called between operations.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "sim/SimFaults.h"

namespace mvx {

class SimulatedBus;
class SimulatedDevice;

// Probabilities (0-1) of each fault: per packet a device handles, per operation for the
// adapter. The defaults let most operations through and make some of them fail.
struct SimChaosRates {
    double dropReply = 0.015;
    double truncateReply = 0.01;
    double corruptChecksum = 0.01;
    double noise = 0.01;
    double delayReply = 0.015;  // half of them past any read timeout
    double ignoreWrite = 0.01;
    double errorBits = 0.01;
    double goSilent = 0.003;      // deaf and mute for the rest of this and 0-3 more operations
    double adapterFails = 0.02;   // from a random driver call of the operation on
    double adapterUnplug = 0.01;  // likewise, and the adapter is gone until replugged
};

// How many faults were injected, by kind.
struct SimChaosCounts {
    long packets = 0;  // packets seen
    long dropped = 0;
    long truncated = 0;
    long corrupted = 0;
    long noisy = 0;
    long delayed = 0;
    long ignored = 0;
    long errorBits = 0;
    long silenced = 0;
    long adapterFailures = 0;
    long unplugs = 0;
    long total() const {
        return dropped + truncated + corrupted + noisy + delayed + ignored + errorBits + silenced +
               adapterFailures + unplugs;
    }
};

class SimChaos {
public:
    explicit SimChaos(std::uint32_t seed, SimChaosRates rates = {});

    // Between operations: brings devices whose silence is over back (clearing their own
    // faults), forgets which devices were tampered with, and may arm an adapter failure or
    // unplug at a random driver call of the coming operation.
    void beforeOperation(SimulatedBus& bus);
    // Disarms the adapter fault (the caller replugs the adapter if it wants it back).
    void disarmAdapter();
    // Whether the armed adapter fault has struck since beforeOperation.
    bool adapterStruck() const;
    bool unplugArmed() const;
    // Devices that ignored a write or were deaf at some point since beforeOperation: what the
    // host believes it wrote there may not have arrived.
    bool tampered(const SimulatedDevice* device) const;
    // Devices given any fault (or deaf) at some point since beforeOperation: what the host
    // heard from them, or did not hear, may be the fault's doing.
    bool touched(const SimulatedDevice* device) const;
    // Makes every device reliable again and disarms the adapter (end of a run).
    void calm(SimulatedBus& bus);

    SimChaosCounts counts() const;
    // A random number for the caller's own choices, from the same generator.
    std::uint32_t next();

    // --- Called by the bus with its mutex held ---
    // Picks the faults for the packet `device` is about to handle (its `packetsHeard`-th).
    void beforePacket(const SimulatedDevice& device, int packetsHeard, SimFaults& faults);
    // One driver call: false when it must fail; `unplug` is set when the adapter vanishes.
    bool adapterCall(bool& unplug);

private:
    bool chance(double p);

    mutable std::mutex mutex_;
    std::mt19937 rng_;
    SimChaosRates rates_;
    SimChaosCounts counts_;
    std::map<const SimulatedDevice*, int> silent_;  // device -> operations left deaf
    std::set<const SimulatedDevice*> tampered_;
    std::set<const SimulatedDevice*> touched_;
    int failAtCall_ = 0;  // 0: no adapter fault armed
    bool unplugKind_ = false;
    int callsSinceArmed_ = 0;
    bool struck_ = false;
};

}  // namespace mvx
