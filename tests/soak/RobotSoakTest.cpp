// Flow soak: the fast search, restores and the robot flows (assign with newcomers that come and
// go, profile check and adopt) over buses whose devices space their broadcast answers out by
// ID, under the same random faults as the operation soak. Each scenario builds a new bus; the
// fixture (SoakFixture.h) checks every flow for unnamed moves, devices a sure search missed and
// talk-over.
//
// MVX_SOAK_FLOWS sets the number of scenarios (else MVX_SOAK_COUNT / 500), MVX_SOAK_SEED
// replays a run, MVX_SOAK_KEEP_GOING=1 plays every scenario after a failure too, MVX_SOAK_KIND
// plays one kind of scenario only (0 searches and restores, 1 assign, 2 profile) and
// MVX_SOAK_TRAFFIC=1 prints the traffic of an operation that failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "device/DeviceEntry.h"
#include "device/SettingsTransfer.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "robot/AssignFlow.h"
#include "robot/ProfileFlows.h"
#include "search/SearchEngine.h"
#include "soak/SoakFixture.h"
#include "soak/SoakSettings.h"
#include "soak/SurveyApi.h"

namespace mvx::test {
namespace {

constexpr std::int64_t kS = 1000000;
constexpr DeviceAddress kFactory{1, 1};  // where new actuators leave the factory
const std::vector<int> kActuators = {12, 28, 106};
const std::vector<int> kOthers = {13, 64};  // a sensor and an unknown model

std::vector<int> quickCodes() {
    return {kQuickSearchCodes.begin(), kQuickSearchCodes.end()};
}

class Quiet final : public AssignObserver {
public:
    void onAssignEvent(const AssignEvent&) override {}
};

class RobotSoakTest : public FlowSoakTest {
protected:
    // `n` devices at free addresses of the quick search's codes (mostly code 1), never at the
    // factory address; actuators unless `others`.
    std::vector<SimDeviceSpec> randomDevices(int n, bool others,
                                             std::vector<DeviceAddress> taken = {}) {
        std::vector<SimDeviceSpec> out;
        taken.push_back(kFactory);
        const std::vector<int> codes = quickCodes();
        while (static_cast<int>(out.size()) < n) {
            const int code = chance(0.6) ? 1 : codes[static_cast<std::size_t>(pick(0, 8))];
            const DeviceAddress at{code, pick(0, 253)};
            if (std::find(taken.begin(), taken.end(), at) != taken.end()) {
                continue;
            }
            taken.push_back(at);
            const bool other = others && chance(0.15);
            const std::vector<int>& models = other ? kOthers : kActuators;
            SimDeviceSpec device = simSpec(code, at.id, models[pick(0, models.size() - 1)], 30,
                                           chance(0.1) ? pick(0, 1) : 2);
            device.returnDelay = static_cast<std::uint8_t>(chance(0.3) ? pick(0, 250) : 250);
            out.push_back(device);
        }
        return out;
    }
    std::int64_t randomSpacing() { return chance(0.2) ? 0 : pick(50, 1000); }

    void fastSearchOp(bool full);
    void restoreOp();
    void searchAndRestore();
    void assignScenario();
    void profileScenario();

    int onlyKind_ = -1;  // MVX_SOAK_KIND: 0 searches and restores, 1 assign, 2 profile
};

void RobotSoakTest::fastSearchOp(bool full) {
    runFlow(full ? "fast full search" : "fast quick search", true, [&](FlowClaims& claims) {
        SearchEngine engine(*registry);
        codeOrder_ = full ? std::vector<int>{} : quickCodes();
        ordered_ = true;
        const int result = engine.fastSearch(full ? FullSearch : QuickSearch);
        for (const std::string& f : rig_->unaskedTraffic({}, false)) {
            ADD_FAILURE() << "a search wrote: " << f;
        }
        if (result != Success) {
            return result;
        }
        if (full) {
            for (int code = 1; code <= 255; ++code) {
                claims.searchedCodes.push_back(code);
            }
        } else {
            claims.searchedCodes = quickCodes();
        }
        claims.story = "  found:";
        for (const DeviceSummary& d : registry->snapshot()) {
            claims.story += " " + addressWords({d.baudCode, d.id}) + ";";
        }
        claims.story += "\n";
        if (const std::optional<bool> sure = searchSure(engine)) {
            claims.sure = *sure;
            claims.unsureCodes = searchUnsureCodes(engine);
            claims.story += std::string("  sure: ") + (claims.sure ? "yes" : "no") + "\n";
        } else {
            // An engine that does not say: a search through no fault at all stands for itself.
            claims.sure = !anyTouched();
        }
        return result;
    });
}

void RobotSoakTest::restoreOp() {
    std::vector<DeviceEntry*> actuators;
    for (int i = 0; i < registry->entryCount(); ++i) {
        if (registry->entryAt(i)->servoRecord() != nullptr) {
            actuators.push_back(registry->entryAt(i));
        }
    }
    if (actuators.empty()) {
        return;
    }
    DeviceEntry& e = *actuators[static_cast<std::size_t>(pick(0, actuators.size() - 1))];
    const bool network = chance(0.3);
    runFlow("restore", true, [&](FlowClaims&) {
        SimulatedDevice* device = rig_->soleDevice(e.baudCode(), e.id());
        const std::vector<DeviceImage> before = rig_->images();
        DeviceSettings now;
        if (const int read = readDeviceSettings(e, {}, now); read != Success) {
            return read;
        }
        const int maxPosition = e.servoRecord()->maxPosition();
        const DeviceSettings wanted = variedSettings(now, maxPosition, network, rng_);
        const std::vector<SettingChange> changes =
            settingsDifferences(now, wanted, network, maxPosition);
        const RestoreResult restored = restoreSettings(*registry, e, changes);

        // Every change to write is written, the one that failed or not written; a restore
        // refused (a pair of limits the device would hold crossed, a position past this
        // model's range skipped) writes nothing.
        const std::size_t due = writeOrder(changes).size();
        EXPECT_EQ(
            restored.written.size() + (restored.writeFailed() ? 1 : 0) + restored.notWritten.size(),
            due);
        EXPECT_TRUE(restored.writeFailed() || restored.refused() || restored.notWritten.empty());
        EXPECT_TRUE(!restored.refused() || restored.written.empty()) << restored.refusal;
        AllowedWrites allowed;
        RegisterValues regs;
        for (const SettingChange& c : changes) {
            if (!c.skipped) {
                allowSetting(regs, c.reg->setting, c.wanted);
            }
        }
        allow(allowed, e.id(), rig_->devicesAt(e.baudCode(), e.id()), regs);
        for (const std::string& f : rig_->unaskedChanges(before, allowed)) {
            ADD_FAILURE() << "a restore changed what it did not ask for: " << f;
        }
        for (const std::string& f : rig_->unaskedTraffic(allowed, false)) {
            ADD_FAILURE() << "a restore wrote what it did not ask for: " << f;
        }
        if (restored.result == Success && trusted(device)) {
            for (const SettingChange& c : restored.written) {
                const bool missed =
                    std::any_of(restored.notTaken.begin(), restored.notTaken.end(),
                                [&c](const SettingChange& m) { return m.reg == c.reg; });
                if (!missed && c.reg->setting != Setting::ReturnLevel) {
                    EXPECT_EQ(deviceSetting(*device, c.reg->setting), c.wanted)
                        << c.reg->name << ": restored and read back, not on the device";
                }
            }
        }
        return restored.result;
    });
}

void RobotSoakTest::searchAndRestore() {
    buildBus(randomDevices(pick(1, 8), true), randomSpacing());
    const int steps = pick(4, 10);
    for (int s = 0; s < steps && (keepGoing() || !HasFailure()); ++s) {
        if (s == 0 || chance(0.3)) {
            fastSearchOp(chance(0.1));
        } else {
            restoreOp();
        }
    }
}

void RobotSoakTest::assignScenario() {
    std::vector<SimDeviceSpec> devices = randomDevices(pick(0, 4), true);
    // Newcomers at the factory address, one after the other; some leave again, some come
    // together with the one before (two at once: nothing may move until one has gone).
    const int newcomers = pick(1, 4);
    double at = pick(1, 15);
    double last = 0;
    for (int k = 0; k < newcomers; ++k) {
        const bool together = k > 0 && chance(0.15);
        at = together ? at : at + pick(1, 20);
        const double leave = chance(0.3) ? at + pick(1, 12) : -1;
        const int model = chance(0.85) ? 28 : (chance(0.5) ? 12 : 13);
        devices.push_back(newcomer(kFactory.code, kFactory.id, at, leave, model));
        last = std::max(last, at);
    }
    std::vector<int> free;
    for (int id = 20; id < 80; ++id) {
        const bool held = std::any_of(devices.begin(), devices.end(), [id](const SimDeviceSpec& d) {
            return d.code == 1 && d.id == id;
        });
        if (!held) {
            free.push_back(id);
        }
    }
    std::shuffle(free.begin(), free.end(), rng_);
    AssignPlan plan;
    plan.ids.assign(free.begin(), free.begin() + pick(1, newcomers + 1));
    plan.codes = quickCodes();
    plan.returnDelay = chance(0.3) ? pick(0, 254) : -1;
    plan.ledOnUs = chance(0.5) ? 2 * kS : 0;
    buildBus(devices, randomSpacing());
    ordered_ = false;  // the newcomers follow the devices found first

    std::atomic<bool> stop{false};
    const std::int64_t deadline = clock.nowUs() + static_cast<std::int64_t>(last + 40) * kS;
    driver.hook = [&](const std::string&) {
        if (clock.nowUs() > deadline) {
            stop = true;
        }
        return FT_OK;
    };
    runFlow("assign", true, [&](FlowClaims& claims) {
        Quiet quiet;
        const std::vector<DeviceAddress> before = places();
        const AssignReport report = AssignFlow(*registry, quiet).run(plan, stop);
        for (const std::string& f : settledMoved(before)) {
            ADD_FAILURE() << "the assign moved a device that was there before it: " << f;
        }
        claims.adapterLost = report.adapterLost;
        claims.story = "  " + report.summary() + "\n";
        for (const AssignRow& row : report.rows) {
            claims.story += "  " + assignLine(row) + "\n";
        }
        for (const DeviceAddress& a : report.preExisting) {
            claims.story += "  on the bus before: " + addressWords(a) + "\n";
        }
        for (const AssignRow& row : report.rows) {
            if (!row.foundAt.valid()) {
                continue;
            }
            NamedMove move{row.foundAt, {row.at, row.parkedAt, {row.code, row.id}}};
            for (const std::string* text : {&row.reason, &report.failure}) {
                for (const DeviceAddress& a : addressesNamedIn(*text)) {
                    move.to.push_back(a);
                }
            }
            claims.moves.push_back(move);
            if (row.state == AssignState::Checked) {
                EXPECT_FALSE(rig_->devicesAt(row.code, row.id).empty())
                    << "ID " << row.id << " checked, no device there";
            }
        }
        return report.adapterLost ? AdapterFailure : Success;
    });
    driver.hook = nullptr;
}

void RobotSoakTest::profileScenario() {
    std::vector<SimDeviceSpec> devices = randomDevices(pick(2, 6), true);
    const std::int64_t changeAtUs = 600 * kS;
    const int variant = pick(0, 4);  // 0 as taken, 1 a joint replaced, 2 by another model,
                                     // 3 two joints gone, 4 a device added
    std::vector<std::size_t> actuators;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (std::count(kActuators.begin(), kActuators.end(), devices[i].model) != 0) {
            actuators.push_back(i);
        }
    }
    if (actuators.empty()) {
        return;
    }
    std::shuffle(actuators.begin(), actuators.end(), rng_);
    const std::size_t victim = actuators.front();
    if (variant == 1 || variant == 2 || variant == 3) {
        devices[victim].disappearAtUs = changeAtUs;
    }
    if (variant == 3 && actuators.size() > 1) {
        devices[actuators[1]].disappearAtUs = changeAtUs;
    }
    if (variant != 0) {
        const int model =
            variant == 2 ? (devices[victim].model == 28 ? 12 : 28) : devices[victim].model;
        devices.push_back(newcomer(kFactory.code, kFactory.id, 0, -1, model));
        devices.back().appearAtUs = changeAtUs;
    }
    buildBus(devices, randomSpacing());
    const std::vector<int> codes = quickCodes();
    codeOrder_ = codes;
    ordered_ = true;

    // The profile is taken before any fault: every device must be in it.
    RobotProfile profile;
    runFlow("profile survey", false, [&](FlowClaims&) {
        std::vector<FoundDevice> found;
        const int result = surveyBus(*registry, codes, {}, nullptr, {}, found);
        EXPECT_EQ(result, Success);
        std::size_t present = 0;
        for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
            present += sim->device(i).present() ? 1 : 0;
        }
        EXPECT_EQ(found.size(), present) << "a survey without faults missed a device";
        profile = profileOf(found, codes, "2026-12-10T03:00:00Z");
        return result;
    });
    // Device schedules count from the host's first write.
    const std::int64_t elapsedUs = clock.nowUs() - sim->scheduleOriginUs();
    if ((!keepGoing() && HasFailure()) || elapsedUs >= changeAtUs) {
        return;
    }
    clock.advanceUs(changeAtUs + kS - elapsedUs);

    runFlow("profile check", true, [&](FlowClaims&) {
        std::vector<FoundDevice> found;
        const int result = surveyBus(*registry, codes, profile.addresses(), nullptr, {}, found);
        for (const std::string& f : rig_->unaskedTraffic({}, false)) {
            ADD_FAILURE() << "a check wrote: " << f;
        }
        if (result == Success && variant == 0 && !anyTouched()) {
            const std::vector<CheckRow> rows = compareWithProfile(profile, found);
            EXPECT_TRUE(allOk(rows)) << "an unchanged robot did not check out";
        }
        return result;
    });

    runFlow("profile adopt", true, [&](FlowClaims& claims) {
        std::vector<FoundDevice> found;
        int result = surveyBus(*registry, codes, profile.addresses(), nullptr, {}, found);
        if (result != Success) {
            claims.adapterLost = result == AdapterFailure;
            return result;
        }
        const std::vector<DeviceAddress> before = places();
        const AdoptResult adopted = adoptJoint(*registry, profile, found);
        for (const std::string& f : settledMoved(before)) {
            ADD_FAILURE() << "the adopt moved a device of the profile: " << f;
        }
        claims.adapterLost = adopted.result == AdapterFailure;
        claims.story = "  variant " + std::to_string(variant) + ": " +
                       (adopted.refused ? "refused: "
                                        : "from " + addressWords(adopted.from) + " to " +
                                              addressWords(adopted.to) + ": ") +
                       adopted.reason + "\n";
        if (!adopted.refused && adopted.from.valid()) {
            NamedMove move{adopted.from, {adopted.to}};
            for (const DeviceAddress& a : addressesNamedIn(adopted.reason)) {
                move.to.push_back(a);
            }
            claims.moves.push_back(move);
        }
        // Under faults a survey may miss a joint that is there; then the rule held for it.
        const bool replaced = variant == 1 || (variant == 3 && actuators.size() == 1);
        if (!replaced && !adopted.refused && !anyTouched()) {
            ADD_FAILURE() << "adopted against the rule: " << adopted.reason;
        }
        return adopted.refused ? Success : adopted.result;
    });
}

// The moves a flow names are read from its words: every address, and no more.
TEST(FlowWordsTest, AddressesNamedInAFlowsWords) {
    struct Case {
        std::string text;
        std::vector<DeviceAddress> named;
    };
    const Case cases[] = {
        {"", {}},
        {"the check: corrupt reply (104)", {}},
        {"no answer at code 1 ID 60; it may be at code 1 ID 1 (where it was) or code 1 ID 60",
         {{1, 60}, {1, 1}, {1, 60}}},
        {"it may be at code 34 ID 1 (where it was), code 34 ID 253 or code 207 ID 253",
         {{34, 1}, {34, 253}, {207, 253}}},
        {"code 1 ID 30; left at code 16 ID 0", {{1, 30}, {16, 0}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(addressesNamedIn(c.text), c.named) << c.text;
    }
}

TEST_F(RobotSoakTest, FlowsUnderRandomFaults) {
    const int scenarios = scenarioCount();
    if (const char* kind = std::getenv("MVX_SOAK_KIND")) {
        onlyKind_ = std::atoi(kind);
    }
    for (int n = 0; n < scenarios && (keepGoing() || !HasFailure()); ++n) {
        const int kind = onlyKind_ >= 0 ? onlyKind_ : pick(0, 2);
        if (kind == 0) {
            searchAndRestore();
        } else if (kind == 1) {
            assignScenario();
        } else {
            profileScenario();
        }
    }
}

}  // namespace
}  // namespace mvx::test
