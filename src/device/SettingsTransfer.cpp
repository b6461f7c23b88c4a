#include "device/SettingsTransfer.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "device/ServoRecord.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

namespace {

// The value of one setting as the entry and its record hold it.
int heldValue(const DeviceEntry& entry, const ServoRecord& r, Setting setting) {
    switch (setting) {
        case Setting::CwAngleLimit:
            return r.cwAngleLimit();
        case Setting::CcwAngleLimit:
            return r.ccwAngleLimit();
        case Setting::TemperatureLimit:
            return r.highestLimitTemperature();
        case Setting::MinVoltage:
            return r.lowestLimitVoltage();
        case Setting::MaxVoltage:
            return r.highestLimitVoltage();
        case Setting::MaxTorque:
            return r.maxTorque();
        case Setting::AlarmLed:
            return r.alarmLed();
        case Setting::AlarmShutdown:
            return r.alarmShutdown();
        case Setting::CwComplianceMargin:
            return r.cwComplianceMargin();
        case Setting::CcwComplianceMargin:
            return r.ccwComplianceMargin();
        case Setting::CwComplianceSlope:
            return r.cwComplianceSlope();
        case Setting::CcwComplianceSlope:
            return r.ccwComplianceSlope();
        case Setting::Punch:
            return r.punch();
        case Setting::TorqueLimit:
            return r.torqueLimit();
        case Setting::ReturnDelay:
            return entry.returnDelay();
        case Setting::ReturnLevel:
            return entry.returnLevel();
        default:
            return 0;
    }
}

int positionInFile(const NamedRegister* reg) {
    const auto& regs = settingsRegisters();
    return static_cast<int>(std::find(regs.begin(), regs.end(), reg) - regs.begin());
}

// Index of the change of `setting` in `list`, or -1.
int indexOf(const std::vector<SettingChange>& list, Setting setting) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].reg->setting == setting) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Puts the upper limit of a pair first when the lower one would otherwise pass it.
void orderPair(std::vector<SettingChange>& list, Setting lower, Setting upper) {
    const int low = indexOf(list, lower);
    const int high = indexOf(list, upper);
    if (low >= 0 && high >= 0 && list[low].wanted > list[high].now) {
        std::swap(list[low], list[high]);
    }
}

const NamedRegister& registerOf(Setting setting) {
    const auto& regs = settingsRegisters();
    return **std::find_if(regs.begin(), regs.end(),
                          [setting](const NamedRegister* r) { return r->setting == setting; });
}

// "cw-angle-limit 800 (from the file)", "ccw-angle-limit 500 (the device's; the file's 4095
// is skipped: above ...)", "ccw-angle-limit 500 (the device's)".
std::string pairSideText(const NamedRegister& reg, int after, const SettingChange* change) {
    std::string text = std::string(reg.name) + " " + settingValueText(reg, after);
    if (change != nullptr && !change->skipped) {
        return text + " (from the file)";
    }
    if (change != nullptr) {
        return text + " (the device's; the file's " + settingValueText(reg, change->wanted) +
               " is skipped: " + change->skipReason + ")";
    }
    return text + " (the device's)";
}

// The refusal for one pair, or empty.
std::string crossedPair(const DeviceEntry& entry, const ServoRecord& record,
                        const std::vector<SettingChange>& changes, Setting lower, Setting upper) {
    const int low = indexOf(changes, lower);
    const int high = indexOf(changes, upper);
    const SettingChange* lowChange = low >= 0 ? &changes[low] : nullptr;
    const SettingChange* highChange = high >= 0 ? &changes[high] : nullptr;
    const bool lowWritten = lowChange != nullptr && !lowChange->skipped;
    const bool highWritten = highChange != nullptr && !highChange->skipped;
    if (!lowWritten && !highWritten) {
        return {};
    }
    const int lowAfter = lowWritten ? lowChange->wanted : heldValue(entry, record, lower);
    const int highAfter = highWritten ? highChange->wanted : heldValue(entry, record, upper);
    if (lowAfter <= highAfter) {
        return {};
    }
    return pairSideText(registerOf(lower), lowAfter, lowChange) + " would be above " +
           pairSideText(registerOf(upper), highAfter, highChange);
}

}  // namespace

std::string crossedLimits(const DeviceEntry& entry, const std::vector<SettingChange>& changes) {
    const ServoRecord* record = entry.servoRecord();
    if (record == nullptr) {
        return {};  // the setters refuse without a record
    }
    std::string why =
        crossedPair(entry, *record, changes, Setting::CwAngleLimit, Setting::CcwAngleLimit);
    if (why.empty()) {
        why = crossedPair(entry, *record, changes, Setting::MinVoltage, Setting::MaxVoltage);
    }
    return why;
}

int readDeviceSettings(DeviceEntry& entry, const std::string& takenAt, DeviceSettings& s) {
    if (entry.servoRecord() == nullptr) {
        return Busy;
    }
    std::shared_ptr<AdapterLink> link;
    int result = entry.tuneLink(link);
    if (result == Success) {
        result = readBlock(*link, static_cast<std::uint8_t>(entry.id()), 0,
                           static_cast<std::uint8_t>(kSettingsRawRegisters), s.registers.data());
    }
    if (result == Success) {
        result = entry.readIdentity();
    }
    ServoRecord* record = entry.servoRecord();  // rebuilt when the return level changed
    if (result == Success && record == nullptr) {
        result = Busy;
    }
    if (result == Success) {
        result = record->load(LoadAll);
    }
    if (result != Success) {
        return result;
    }
    s.modelNumber = entry.modelNumber();
    s.modelName = displayName(entry.modelNumber());
    s.firmwareVersion = entry.firmwareVersion();
    s.id = entry.id();
    s.baudCode = entry.baudCode();
    s.takenAt = takenAt;
    s.values.clear();
    for (const NamedRegister* reg : settingsRegisters()) {
        s.values.push_back({reg, heldValue(entry, *record, reg->setting)});
    }
    return Success;
}

std::vector<SettingChange> settingsDifferences(const DeviceSettings& now,
                                               const DeviceSettings& wanted, bool network,
                                               int targetMaxPosition) {
    std::vector<SettingChange> changes;
    for (const SettingValue& w : wanted.values) {
        const SettingValue* held = now.find(w.reg->setting);
        if ((w.reg->network && !network) || held == nullptr || held->value == w.value) {
            continue;
        }
        SettingChange change{w.reg, held->value, w.value, false, {}};
        if (w.reg->positionLimited && w.value > targetMaxPosition) {
            change.skipped = true;
            change.skipReason = "above the max position of " + std::string(now.modelName) + " (" +
                                std::to_string(targetMaxPosition) + ")";
        }
        changes.push_back(change);
    }
    return changes;
}

std::vector<SettingChange> writeOrder(const std::vector<SettingChange>& changes) {
    std::vector<SettingChange> list;
    std::copy_if(changes.begin(), changes.end(), std::back_inserter(list),
                 [](const SettingChange& c) { return !c.skipped; });
    std::stable_sort(list.begin(), list.end(), [](const SettingChange& a, const SettingChange& b) {
        return positionInFile(a.reg) < positionInFile(b.reg);
    });
    orderPair(list, Setting::CwAngleLimit, Setting::CcwAngleLimit);
    orderPair(list, Setting::MinVoltage, Setting::MaxVoltage);
    return list;
}

std::string settingNames(const std::vector<SettingChange>& changes) {
    if (changes.empty()) {
        return "none";
    }
    std::string names;
    for (const SettingChange& change : changes) {
        names += (names.empty() ? "" : ", ") + std::string(change.reg->name);
    }
    return names;
}

RestoreResult restoreSettings(DeviceRegistry& registry, DeviceEntry& entry,
                              const std::vector<SettingChange>& changes) {
    RestoreResult outcome;
    outcome.refusal = crossedLimits(entry, changes);
    if (outcome.refused()) {
        outcome.result = Busy;
        outcome.notWritten = writeOrder(changes);
        return outcome;
    }
    const std::vector<SettingChange> order = writeOrder(changes);
    for (auto it = order.begin(); it != order.end(); ++it) {
        std::string refusal;
        int result = applyNamedRegister(*it->reg, it->wanted, registry, entry, refusal);
        if (!refusal.empty()) {
            result = Busy;  // the setter refused before writing anything
        }
        if (result != Success) {
            outcome.result = result;
            outcome.failedAt = it->reg;
            outcome.notWritten.assign(it + 1, order.end());
            return outcome;
        }
        outcome.written.push_back(*it);
    }
    if (order.empty()) {
        return outcome;
    }
    // The setters keep the image in step with what they sent; only the device tells whether
    // a value took.
    DeviceSettings after;
    outcome.result = readDeviceSettings(entry, {}, after);
    if (outcome.result != Success) {
        return outcome;
    }
    for (const SettingChange& change : order) {
        const SettingValue* held = after.find(change.reg->setting);
        if (held == nullptr || held->value != change.wanted) {
            SettingChange missed = change;
            missed.now = held != nullptr ? held->value : 0;
            outcome.notTaken.push_back(missed);
        }
    }
    return outcome;
}

}  // namespace mvx
