// The flow soak's fixture: a bus of random devices, some coming and going on a schedule, on the
// spaced-answer model, with seeded faults, and the checks every flow operation gets:
// - nothing moved (ID or baud rate changed) that the flow did not name as moved or as where a
//   device may be, nor onto the address of another device (unless faults silenced one);
// - a fast search that calls itself sure found every device that was there and answering
//   throughout (faults aside);
// - the host never sent while an answer was due (talk-over);
// plus the result code's range, the registry's shape and the adapter fault's report.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "robot/DeviceAddress.h"
#include "sim/SimChaos.h"
#include "soak/SoakRig.h"
#include "support/SimRegistry.h"

namespace mvx::test {

// A move a flow reported: the device found at `from` may now answer at any of `to`.
struct NamedMove {
    DeviceAddress from;
    std::vector<DeviceAddress> to;
};

// Every "code N ID M" a flow's words name.
std::vector<DeviceAddress> addressesNamedIn(const std::string& text);

// What one flow operation tells the checks after it.
struct FlowClaims {
    std::vector<NamedMove> moves;
    bool adapterLost = false;  // the flow reported a lost adapter (101)
    // A fast search's claim: the codes it searched and whether it called itself sure (set
    // only by a search that succeeded), with the codes it was not sure of.
    std::vector<int> searchedCodes;
    bool sure = false;
    std::vector<int> unsureCodes;
    std::string story;  // what the flow reported, printed when a check fails
};

class FlowSoakTest : public SimRegistryTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new bus with these devices and this broadcast spacing, the chaos attached.
    void buildBus(std::vector<SimDeviceSpec> devices, std::int64_t spacingUs);
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    // The number of scenarios a run plays (MVX_SOAK_FLOWS, else a share of MVX_SOAK_COUNT).
    static int scenarioCount();
    // Whether the run goes on after a failure (MVX_SOAK_KEEP_GOING=1), to see them all.
    static bool keepGoing();

    // Runs `body` as one operation with every check around it. The body returns the flow's
    // result code and fills in the claims the checks hold it to.
    void runFlow(const std::string& name, bool chaotic,
                 const std::function<int(FlowClaims&)>& body);

    // The devices the host may have written to in this operation without effect.
    bool trusted(SimulatedDevice* device) { return rig_->trusted(device); }

    std::uint32_t seed_ = 0;
    std::mt19937 rng_;
    std::unique_ptr<SimChaos> chaos_;
    std::unique_ptr<SoakRig> rig_;
    std::vector<SimDeviceSpec> specs_;  // the bus's devices, in the bus's order
    std::vector<int> codeOrder_;        // the order of codes the registry's list follows
    bool ordered_ = true;               // whether it follows it (else only no duplicates)
    std::int64_t spacingUs_ = 0;        // the bus's broadcast spacing
    int scenario_ = 0;                  // buses built
    int operations_ = 0;
    std::map<std::string, std::pair<int, int>> tally_;  // name -> runs, successes
    // Whether the chaos touched any device in this operation or the one before.
    bool anyTouched();
    // Where each device of the bus is set to answer, in the bus's order.
    std::vector<DeviceAddress> places();
    // Devices moved since `before` that were on the bus from the start (not newcomers).
    std::vector<std::string> settledMoved(const std::vector<DeviceAddress>& before);

private:
    std::vector<std::string> unnamedMoves(const std::vector<DeviceAddress>& before,
                                          const FlowClaims& claims);
    std::vector<std::string> missedBySureSearch(const FlowClaims& claims,
                                                const std::vector<bool>& presentBefore,
                                                std::int64_t startUs);
    std::vector<std::string> talkOver(const std::vector<DeviceAddress>& before);
    std::set<int> touchedIds();

    // IDs of devices the chaos touched in the operation before (late replies of theirs may
    // still come).
    std::set<int> touchedBefore_;
};

}  // namespace mvx::test
