// Bus::backup and Bus::restore: an actuator's settings to a file and a file's settings back
// onto devices, as movantrix-cli backup and restore do them.
#include <stdexcept>

#include "device/DeviceEntry.h"
#include "device/ModelCatalogue.h"
#include "device/SettingsTransfer.h"
#include "drivers/RegularFile.h"
#include "facade/BusState.h"
#include "facade/FacadeErrors.h"
#include "facade/FlowValues.h"
#include "facade/LongCall.h"
#include "movantrix/bus.h"
#include "protocol/ResultCode.h"

namespace movantrix {

namespace {

std::string modelText(int modelNumber) {
    return std::string(mvx::displayName(modelNumber)) + " (" + std::to_string(modelNumber) + ")";
}

std::string noRecordText(const mvx::DeviceEntry& entry) {
    return std::string("the device has no servo registers (") + mvx::classText(entry.modelClass()) +
           " " + mvx::displayName(entry.modelNumber()) + ", return level " +
           std::to_string(entry.returnLevel()) + ")";
}

// Restores `file` onto the device at `at` (the bus's lock held, on the work's thread).
RestoreRow restoreOne(detail::BusState& state, const mvx::DeviceSettings& file, const Address& at,
                      const RestoreOptions& options) {
    RestoreRow row;
    row.at = at;
    mvx::DeviceRegistry& registry = state.registry();
    mvx::DeviceEntry* entry = registry.find(at.code, at.id);
    int result = mvx::Success;
    if (entry == nullptr) {
        entry = registry.appendPlaceholder();
        result = entry->probe(at.code, at.id);
        if (result != mvx::Success) {
            registry.removeLast();
            row.result = result;
            row.problem = "no device found: " + detail::resultWords(result);
            return row;
        }
    }
    row.model = entry->modelNumber();
    if (entry->servoRecord() == nullptr) {
        row.problem = noRecordText(*entry) + "; nothing written";
        return row;
    }
    if (entry->modelNumber() != file.modelNumber && !options.force) {
        row.problem = "the device is " + modelText(entry->modelNumber()) +
                      ", the file holds settings of " + modelText(file.modelNumber) +
                      "; nothing written (force writes what fits)";
        return row;
    }
    mvx::DeviceSettings now;
    result = mvx::readDeviceSettings(*entry, {}, now);
    if (result != mvx::Success) {
        row.result = result;
        row.problem = detail::resultWords(result);
        return row;
    }
    const std::vector<mvx::SettingChange> changes =
        mvx::settingsDifferences(now, file, options.network, entry->servoRecord()->maxPosition());
    row.differences = detail::differencesOf(changes);
    if (mvx::writeOrder(changes).empty()) {
        return row;
    }
    if (const std::string crossed = mvx::crossedLimits(*entry, changes); !crossed.empty()) {
        row.result = mvx::Busy;
        row.problem = "restore refused: " + crossed + "; nothing written";
        return row;
    }
    if (options.dryRun) {
        return row;
    }
    const mvx::RestoreResult restored = mvx::restoreSettings(registry, *entry, changes);
    row.written = detail::namesOf(restored.written);
    row.notWritten = detail::namesOf(restored.notWritten);
    row.notTaken = detail::namesOf(restored.notTaken);
    row.failedAt = restored.failedAt != nullptr ? restored.failedAt->name : "";
    row.result = restored.result;
    if (restored.refused()) {
        row.problem = "restore refused: " + restored.refusal + "; nothing written";
    } else if (restored.result != mvx::Success) {
        row.problem = (restored.writeFailed() ? row.failedAt + ": " : std::string("read-back: ")) +
                      detail::resultWords(restored.result);
    } else if (!restored.notTaken.empty()) {
        row.problem = "did not take: " + mvx::settingNames(restored.notTaken);
    }
    return row;
}

}  // namespace

void Bus::backup(const Device& device, const std::string& path) {
    std::string error;
    if (!mvx::checkWriteTarget(path, error)) {
        throw std::invalid_argument(error + "; nothing written");
    }
    if (!state_ || device.state_ != state_) {
        throw std::invalid_argument("the device is not on this bus");
    }
    detail::BusState& state = *state_;
    const detail::BusLock lock(state);
    mvx::DeviceEntry& entry = state.entry(device.code(), device.id());
    const std::string where = detail::whereText(device.code(), device.id());
    if (entry.servoRecord() == nullptr) {
        detail::refuse(where, noRecordText(entry));
    }
    mvx::DeviceSettings settings;
    detail::check(mvx::readDeviceSettings(entry, mvx::utcTimestampNow(), settings), where);
    if (!mvx::writeFileAtomically(path, mvx::settingsJsonText(settings), error)) {
        throw std::runtime_error(error);
    }
}

RestoreReport Bus::restore(const std::string& path, const RestoreOptions& options) {
    mvx::DeviceSettings file;
    std::string error;
    if (!mvx::readSettingsFile(path, file, error)) {
        throw std::invalid_argument(error);
    }
    std::vector<Address> targets = options.devices;
    if (targets.empty()) {
        targets.push_back({file.baudCode, file.id});
    }
    for (const Address& at : targets) {
        detail::checkAddress(at.code, at.id);
    }
    if (!state_) {
        throw std::logic_error("this Bus was moved from");
    }
    detail::BusState& state = *state_;
    const detail::BusLock lock(state);
    state.registry();  // AdapterLost once closed
    RestoreReport report;
    report.dryRun = options.dryRun;
    detail::LongCall call(options.stop);
    call.run([&] {
        for (std::size_t k = 0; k < targets.size(); ++k) {
            if (call.stopped() || report.adapterLost) {
                report.stopped = !report.adapterLost;
                report.notTried.assign(targets.begin() + static_cast<long>(k), targets.end());
                return;
            }
            report.rows.push_back(restoreOne(state, file, targets[k], options));
            report.adapterLost = report.rows.back().result == mvx::AdapterFailure;
        }
    });
    return report;
}

}  // namespace movantrix
