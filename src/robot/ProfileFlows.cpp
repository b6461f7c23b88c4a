#include "robot/ProfileFlows.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "protocol/ResultCode.h"
#include "robot/RestoreWords.h"
#include "robot/SafeMove.h"
#include "robot/SureSurvey.h"

namespace mvx {

namespace {

std::string addressList(const std::vector<DeviceAddress>& addresses) {
    std::string text;
    for (const DeviceAddress& a : addresses) {
        text += (text.empty() ? "" : ", ") + addressWords(a);
    }
    return text;
}

const FoundDevice* foundAt(const std::vector<FoundDevice>& found, const DeviceAddress& at) {
    for (const FoundDevice& f : found) {
        if (f.at == at) {
            return &f;
        }
    }
    return nullptr;
}

// Reads the device behind `entry` as a survey does.
int readFound(BusSweep& sweep, DeviceEntry& entry, FoundDevice& f) {
    f = FoundDevice{};
    f.at = addressOf(entry);
    if (entry.servoRecord() != nullptr) {
        if (sweep.tune(f.at.code) != Success) {
            return AdapterFailure;
        }
        f.settingsResult = readDeviceSettings(entry, {}, f.settings);
        if (f.settingsResult == AdapterFailure) {
            return AdapterFailure;
        }
        f.settingsRead = f.settingsResult == Success;
    }
    f.modelClass = entry.modelClass();
    f.modelNumber = entry.modelNumber();
    f.firmwareVersion = entry.firmwareVersion();
    f.returnLevel = entry.returnLevel();
    return Success;
}

}  // namespace

int surveyBus(DeviceRegistry& registry, const std::vector<int>& codes,
              const std::vector<DeviceAddress>& expected, const std::atomic<bool>* stop,
              const SweepProgress& progress, std::vector<FoundDevice>& found) {
    found.clear();
    if (!registry.bus().link()) {
        return AdapterFailure;
    }
    if (registry.clear() != Success) {
        return Busy;
    }
    BusSweep sweep(registry);
    BusSurvey survey;
    const int result = sureSearch(sweep, registry, codes, expected, stop, progress, survey);
    if (result != Success) {
        return result;
    }
    for (const DeviceSummary& d : registry.snapshot()) {
        if (stop != nullptr && stop->load()) {
            break;
        }
        DeviceEntry* entry = registry.find(d.baudCode, d.id);
        FoundDevice f;
        if (entry == nullptr) {
            continue;
        }
        if (readFound(sweep, *entry, f) != Success) {
            return AdapterFailure;
        }
        found.push_back(std::move(f));
    }
    return Success;
}

RobotProfile profileOf(const std::vector<FoundDevice>& found, const std::vector<int>& codes,
                       const std::string& takenAt) {
    RobotProfile profile;
    profile.takenAt = takenAt;
    profile.codes = codes;
    for (const FoundDevice& f : found) {
        ProfileDevice d;
        d.at = f.at;
        d.modelNumber = f.modelNumber;
        d.firmwareVersion = f.firmwareVersion;
        if (f.settingsRead) {
            d.settings = f.settings;
            d.settings->takenAt = takenAt;
        }
        profile.devices.push_back(std::move(d));
    }
    return profile;
}

int applyProfile(DeviceRegistry& registry, const RobotProfile& profile,
                 const std::vector<FoundDevice>& found, bool network, bool dryRun,
                 const std::atomic<bool>* stop, std::vector<ApplyRow>& rows) {
    rows.clear();
    BusSweep sweep(registry);
    for (const ProfileDevice& e : profile.devices) {
        if (!e.settings) {
            continue;  // nothing to write to a sensor or a device that does not answer reads
        }
        if (stop != nullptr && stop->load()) {
            break;
        }
        ApplyRow row;
        row.at = e.at;
        row.modelNumber = e.modelNumber;
        const FoundDevice* f = foundAt(found, e.at);
        DeviceEntry* entry = registry.find(e.at.code, e.at.id);
        if (f == nullptr || entry == nullptr) {
            row.problem = "missing: nothing answers there; nothing written";
        } else if (f->modelNumber != e.modelNumber) {
            row.problem = "the device there is " + modelWords(f->modelNumber) +
                          ", the profile holds settings of " + modelWords(e.modelNumber) +
                          "; nothing written";
        } else if (!f->settingsRead) {
            row.problem = "its settings could not be read (" + resultWords(f->settingsResult) +
                          "); nothing written";
        }
        if (!row.problem.empty()) {
            rows.push_back(std::move(row));
            continue;
        }
        row.changes = settingsDifferences(f->settings, *e.settings, network,
                                          entry->servoRecord() != nullptr
                                              ? entry->servoRecord()->maxPosition()
                                              : maxPositionOf(e.modelNumber));
        if (dryRun || writeOrder(row.changes).empty()) {
            rows.push_back(std::move(row));
            continue;
        }
        if (sweep.tune(e.at.code) != Success) {
            return AdapterFailure;
        }
        const RestoreResult restored = restoreSettings(registry, *entry, row.changes);
        row.written = static_cast<int>(restored.written.size());
        row.result = restored.result;
        if (restored.result != Success) {
            row.problem = restoreFailureWords(restored);
        } else if (!restored.notTaken.empty()) {
            row.problem = notTakenWords(restored.notTaken.front());
        }
        row.applied = row.problem.empty();
        const int result = row.result;
        rows.push_back(std::move(row));
        if (result == AdapterFailure) {
            return AdapterFailure;
        }
    }
    return Success;
}

AdoptResult adoptPlan(const RobotProfile& profile, const std::vector<FoundDevice>& found) {
    AdoptResult out;
    std::vector<const ProfileDevice*> missing;
    std::vector<const FoundDevice*> newcomers;
    for (const ProfileDevice& e : profile.devices) {
        if (foundAt(found, e.at) == nullptr) {
            missing.push_back(&e);
        }
    }
    for (const FoundDevice& f : found) {
        if (profile.find(f.at) == nullptr) {
            newcomers.push_back(&f);
        }
    }
    auto refuse = [&out](std::string why) {
        out.refused = true;
        out.reason = std::move(why) + "; nothing written";
        return out;
    };
    std::vector<DeviceAddress> missingAt;
    std::vector<DeviceAddress> newAt;
    for (const ProfileDevice* e : missing) {
        missingAt.push_back(e->at);
    }
    for (const FoundDevice* f : newcomers) {
        newAt.push_back(f->at);
    }
    if (missing.empty()) {
        return refuse("no device of the profile is missing");
    }
    if (missing.size() > 1) {
        return refuse(std::to_string(missing.size()) + " devices of the profile are missing (" +
                      addressList(missingAt) + "): a newcomer takes the place of one only");
    }
    const ProfileDevice& joint = *missing.front();
    out.to = joint.at;
    if (newcomers.empty()) {
        return refuse("no device on the bus that is not in the profile, to take the place of " +
                      addressWords(joint.at));
    }
    if (newcomers.size() > 1) {
        return refuse(std::to_string(newcomers.size()) +
                      " devices on the bus are not in the profile (" + addressList(newAt) +
                      "): connect only the one that takes the place of " + addressWords(joint.at));
    }
    const FoundDevice& newcomer = *newcomers.front();
    out.from = newcomer.at;
    if (newcomer.modelNumber != joint.modelNumber) {
        return refuse("the newcomer at " + addressWords(newcomer.at) + " is " +
                      modelWords(newcomer.modelNumber) + ", the missing device at " +
                      addressWords(joint.at) + " was " + modelWords(joint.modelNumber));
    }
    if (joint.settings && !newcomer.settingsRead) {
        return refuse("the newcomer at " + addressWords(newcomer.at) +
                      " does not answer reads: its settings cannot be written");
    }
    return out;
}

AdoptResult adoptJoint(DeviceRegistry& registry, const RobotProfile& profile,
                       const std::vector<FoundDevice>& found) {
    AdoptResult out = adoptPlan(profile, found);
    if (out.refused) {
        return out;
    }
    auto refuse = [&out](std::string why) {
        out.refused = true;
        out.reason = std::move(why) + "; nothing written";
        return out;
    };
    const ProfileDevice& joint = *profile.find(out.to);
    const DeviceAddress newcomerAt = out.from;
    DeviceEntry* entry = registry.find(newcomerAt.code, newcomerAt.id);
    if (entry == nullptr) {
        return refuse("the newcomer at " + addressWords(newcomerAt) + " is not registered");
    }

    BusSweep sweep(registry);
    SafeMove move(registry, sweep);
    MoveOutcome moved;
    out.result = move.run(*entry, joint.at, moved);
    // Listed where the address the registry now has for it belongs, the move whole or not.
    keepListOrder(registry, profile.codes, {entry->baudCode(), entry->id()});
    if (out.result == Success && moved.targetTaken) {
        return refuse(addressWords(joint.at) + " is " + moved.holder);
    }
    if (out.result == Busy) {
        return refuse("no way from " + addressWords(newcomerAt) + " to " + addressWords(joint.at) +
                      " through free addresses");
    }
    if (out.result != Success && moved.steps.empty()) {
        out.reason = "the move: " + resultWords(out.result) +
                     " before anything was written; it stays at " + addressWords(newcomerAt);
        return out;
    }
    if (out.result != Success) {
        // Every place it may answer at, the ones on its way included.
        out.reason = "the move: " + resultWords(out.result) + "; it may be at " +
                     mayBeAtWords(newcomerAt, moved.steps);
        return out;
    }
    if (joint.settings) {
        DeviceSettings now;
        out.result = readDeviceSettings(*entry, {}, now);
        if (out.result != Success) {
            out.reason = "reading its settings at " + addressWords(joint.at) + ": " +
                         resultWords(out.result) + "; it may be at " +
                         mayBeAtWords(newcomerAt, moved.steps);
            return out;
        }
        const std::vector<SettingChange> changes =
            settingsDifferences(now, *joint.settings, true, entry->servoRecord()->maxPosition());
        const RestoreResult restored = restoreSettings(registry, *entry, changes);
        out.written = static_cast<int>(restored.written.size());
        out.result = restored.result;
        if (restored.result != Success) {
            out.reason = restoreFailureWords(restored);
            return out;
        }
    }
    FoundDevice after;
    out.result = readFound(sweep, *entry, after);
    if (out.result == Success && entry->servoRecord() != nullptr && !after.settingsRead) {
        out.result = after.settingsResult;
    }
    if (out.result != Success) {
        // A write acknowledged but not taken leaves it elsewhere: every place it may answer at.
        out.reason = "the check at " + addressWords(joint.at) + ": " + resultWords(out.result) +
                     "; it may be at " + mayBeAtWords(newcomerAt, moved.steps);
        return out;
    }
    // Read back at its new place: its ID and baud-rate registers must say so.
    if (after.settingsRead && (after.settings.registers[3] != joint.at.id ||
                               after.settings.registers[4] != joint.at.code)) {
        out.result = Timeout;  // as a read-back that did not match
        out.reason = "the check at " + addressWords(joint.at) + ": it holds ID " +
                     std::to_string(after.settings.registers[3]) + " and code " +
                     std::to_string(after.settings.registers[4]) + "; it may be at " +
                     mayBeAtWords(newcomerAt, moved.steps);
        return out;
    }
    RobotProfile one;
    one.codes = profile.codes;
    one.devices = {joint};
    out.after = compareWithProfile(one, {after}).front();
    return out;
}

}  // namespace mvx
