#include "cli/SettingsCommands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <sstream>

#include "cli/DecimalOption.h"
#include "cli/Messages.h"
#include "cli/Session.h"
#include "device/DeviceEntry.h"
#include "device/ModelCatalogue.h"
#include "device/SettingsTransfer.h"
#include "drivers/RegularFile.h"
#include "protocol/ResultCode.h"
#include "robot/IdList.h"

namespace mvx::cli {

namespace {

std::string modelText(int modelNumber) {
    return std::string(displayName(modelNumber)) + " (" + std::to_string(modelNumber) + ")";
}

std::string noRecordText(const DeviceEntry& entry) {
    return std::string("the device has no servo registers (") + classText(entry.modelClass()) +
           " " + displayName(entry.modelNumber()) + ", return level " +
           std::to_string(entry.returnLevel()) + ")";
}

int backupCommand(CommandContext& context) {
    const CliOptions& o = context.options;
    std::unique_ptr<Session> session;
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    DeviceEntry* entry = nullptr;
    int result = session->probe(o.baud, o.id, entry);
    if (result != Success) {
        printError(context.err,
                   "no device found at " + addressText(o.baud, o.id) + ": " + resultWords(result));
        return kExitFailed;
    }
    if (entry->servoRecord() == nullptr) {
        printError(context.err, addressText(o.baud, o.id) + ": " + noRecordText(*entry));
        return kExitFailed;
    }
    DeviceSettings settings;
    result = readDeviceSettings(*entry, utcTimestampNow(), settings);
    if (result != Success) {
        printError(context.err, addressText(o.baud, o.id) + ": " + resultWords(result));
        return kExitFailed;
    }
    const std::string text = settingsJsonText(settings);
    if (o.settings.output.empty()) {
        context.out << text;
        return kExitOk;
    }
    std::string error;
    if (!writeFileAtomically(o.settings.output, text, error)) {
        printError(context.err, error);
        return kExitFailed;
    }
    context.out << addressText(o.baud, o.id) << ": settings saved to " << o.settings.output << '\n';
    return kExitOk;
}

// What a restore that failed left on the device: what was written before the failure, the
// setting that failed (its write may have taken: a lost reply does not tell) and what was not
// written; after a failed read-back, that nothing written was checked.
void printPartialRestore(std::ostream& out, const std::string& prefix,
                         const RestoreResult& restored) {
    if (restored.readBackFailed()) {
        out << prefix << "written, not checked: " << settingNames(restored.written) << '\n';
        return;
    }
    out << prefix << "written: " << settingNames(restored.written) << '\n'
        << prefix << "failed: " << restored.failedAt->name << " (may have taken)\n"
        << prefix << "not written: " << settingNames(restored.notWritten) << '\n';
}

// Restores the file onto the device at (code, id); true when it ended without failure.
bool restoreOne(CommandContext& context, Session& session, int id, bool& adapterLost) {
    const CliOptions& o = context.options;
    const SettingsOptions& so = o.settings;
    const DeviceSettings& file = so.file;
    const std::string where = addressText(o.baud, id);
    const std::string prefix = "ID " + std::to_string(id) + ": ";
    DeviceEntry* entry = nullptr;
    int result = session.probe(o.baud, id, entry);
    if (result != Success) {
        printError(context.err, "no device found at " + where + ": " + resultWords(result));
        adapterLost = result == AdapterFailure;
        return false;
    }
    if (entry->servoRecord() == nullptr) {
        printError(context.err, where + ": " + noRecordText(*entry) + "; nothing written");
        return false;
    }
    if (entry->modelNumber() != file.modelNumber) {
        if (!so.force) {
            printError(context.err, where + ": the device is " + modelText(entry->modelNumber()) +
                                        ", the file holds settings of " +
                                        modelText(file.modelNumber) +
                                        "; nothing written (--force writes what fits)");
            return false;
        }
        printWarning(context.err, where + ": writing settings of " + modelText(file.modelNumber) +
                                      " to " + modelText(entry->modelNumber()));
    }
    DeviceSettings now;
    result = readDeviceSettings(*entry, {}, now);
    if (result != Success) {
        printError(context.err, where + ": " + resultWords(result));
        adapterLost = result == AdapterFailure;
        return false;
    }
    const std::vector<SettingChange> changes =
        settingsDifferences(now, file, so.network, entry->servoRecord()->maxPosition());
    for (const SettingChange& c : changes) {
        if (c.skipped) {
            printWarning(context.err, prefix + c.reg->name + " " +
                                          settingValueText(*c.reg, c.wanted) +
                                          " skipped: " + c.skipReason);
            continue;
        }
        context.out << prefix << c.reg->name << ' ' << settingValueText(*c.reg, c.now) << " -> "
                    << settingValueText(*c.reg, c.wanted) << '\n';
    }
    const auto toWrite = writeOrder(changes);
    if (toWrite.empty()) {
        context.out << prefix << "nothing to restore\n";
        return true;
    }
    // Another model's file can leave a pair of limits crossed once a part of it is skipped:
    // refused whole, a dry run included, before anything is written.
    if (const std::string crossed = crossedLimits(*entry, changes); !crossed.empty()) {
        printError(context.err, where + ": restore refused: " + crossed + "; nothing written");
        return false;
    }
    if (so.dryRun) {
        return true;
    }
    const RestoreResult restored = restoreSettings(session.registry(), *entry, changes);
    if (restored.refused()) {
        printError(context.err,
                   where + ": restore refused: " + restored.refusal + "; nothing written");
        return false;
    }
    if (restored.result != Success) {
        printError(context.err,
                   where + ": " +
                       (restored.writeFailed() ? std::string(restored.failedAt->name) + ": "
                                               : std::string("read-back: ")) +
                       resultWords(restored.result));
        printPartialRestore(context.out, prefix, restored);
        adapterLost = restored.result == AdapterFailure;
        return false;
    }
    for (const SettingChange& c : restored.notTaken) {
        printError(context.err, where + ": " + c.reg->name + " did not take: wrote " +
                                    settingValueText(*c.reg, c.wanted) + ", the device holds " +
                                    settingValueText(*c.reg, c.now));
    }
    if (!restored.notTaken.empty()) {
        return false;
    }
    context.out << prefix << "restored " << restored.written.size()
                << (restored.written.size() == 1 ? " setting\n" : " settings\n");
    return true;
}

int restoreCommand(CommandContext& context) {
    std::unique_ptr<Session> session;
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    bool allRestored = true;
    const std::vector<int>& ids = context.options.settings.ids;
    for (auto it = ids.begin(); it != ids.end(); ++it) {
        bool adapterLost = false;
        allRestored = restoreOne(context, *session, *it, adapterLost) && allRestored;
        if (adapterLost) {
            // The rest cannot be reached either.
            for (auto rest = it + 1; rest != ids.end(); ++rest) {
                context.out << "ID " << *rest << ": not tried (adapter lost)\n";
            }
            break;
        }
    }
    return allRestored ? kExitOk : kExitFailed;
}

}  // namespace

void addSettingsCommands(CLI::App& app, CliOptions& o) {
    CLI::App* backup = app.add_subcommand("backup", "Save an actuator's settings to a file");
    backup->add_option("--id", o.settings.idList, "Device ID (0-253)")->required();
    backup->add_option("--baud", o.baud, "Baud-rate code the device answers at")
        ->required()
        ->transform(decimalIn(0, 255));
    backup->add_option("-o,--output", o.settings.output,
                       "Settings file to write (replaced only when complete); default stdout");

    CLI::App* restore =
        app.add_subcommand("restore", "Write a settings file's differences to actuators");
    restore->add_option("FILE", o.file, "Settings file (.json) from backup")->required();
    restore->add_option("--id", o.settings.idList, "Device IDs, e.g. 1,3 or 1-4 (0-253)")
        ->required();
    restore->add_option("--baud", o.baud, "Baud-rate code the devices answer at")
        ->required()
        ->transform(decimalIn(0, 255));
    restore->add_flag("--dry-run", o.settings.dryRun, "Print the differences, write nothing");
    restore->add_flag("--network", o.settings.network, "Also restore return delay and level");
    restore->add_flag("--force", o.settings.force,
                      "Write to another model too (only what fits its ranges)");
}

bool isSettingsCommand(const std::string& command) {
    return command == "backup" || command == "restore";
}

bool validateSettingsCommand(const std::string& command, CliOptions& o, std::ostream& err) {
    SettingsOptions& so = o.settings;
    std::string error;
    if (!parseNumberList(so.idList, 0, 253, "ID", so.ids, error)) {
        printError(err, "--id: " + error);
        return false;
    }
    if (command == "backup") {
        if (so.ids.size() != 1) {
            printError(err, "backup: one --id at a time");
            return false;
        }
        o.id = so.ids.front();
        // A target that is not a regular file is refused before the bus is touched.
        if (!so.output.empty() && !checkWriteTarget(so.output, error)) {
            printError(err, error + "; nothing written");
            return false;
        }
        return true;
    }
    if (!readSettingsFile(o.file, so.file, error)) {
        printError(err, error);
        return false;
    }
    return true;
}

int runSettingsCommand(const std::string& command, CommandContext& context) {
    return command == "backup" ? backupCommand(context) : restoreCommand(context);
}

}  // namespace mvx::cli
