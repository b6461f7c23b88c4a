#include "cli/SettingsCommands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <sstream>

#include "cli/Messages.h"
#include "cli/Session.h"
#include "device/DeviceEntry.h"
#include "device/ModelCatalogue.h"
#include "device/SettingsTransfer.h"
#include "drivers/RegularFile.h"
#include "protocol/ResultCode.h"

namespace mvx::cli {

namespace {

// A decimal number within [low, high]: leading zeros are not octal here.
bool parseDecimal(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return false;
    }
    value = std::stoi(text);
    return value >= low && value <= high;
}

std::string takenNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return utcTimestamp(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

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
    result = readDeviceSettings(*entry, takenNow(), settings);
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
    if (so.dryRun) {
        return true;
    }
    const RestoreResult restored = restoreSettings(session.registry(), *entry, changes);
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
    backup->add_option("--baud", o.settings.baudText, "Baud-rate code the device answers at")
        ->required();
    backup->add_option("-o,--output", o.settings.output,
                       "Settings file to write (replaced only when complete); default stdout");

    CLI::App* restore =
        app.add_subcommand("restore", "Write a settings file's differences to actuators");
    restore->add_option("FILE", o.file, "Settings file (.json) from backup")->required();
    restore->add_option("--id", o.settings.idList, "Device IDs, comma-separated (0-253)")
        ->required();
    restore->add_option("--baud", o.settings.baudText, "Baud-rate code the devices answer at")
        ->required();
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
    if (!parseDecimal(so.baudText, 0, 255, o.baud)) {
        printError(err, "--baud: \"" + so.baudText + "\" is not a baud-rate code (0-255)");
        return false;
    }
    std::stringstream list(so.idList);
    std::string item;
    so.ids.clear();
    while (std::getline(list, item, ',')) {
        int id = 0;
        if (!parseDecimal(item, 0, 253, id)) {
            printError(err, "--id: \"" + item + "\" is not an ID (0-253)");
            return false;
        }
        if (std::find(so.ids.begin(), so.ids.end(), id) != so.ids.end()) {
            printError(err, "--id: ID " + std::to_string(id) + " is given twice");
            return false;
        }
        so.ids.push_back(id);
    }
    if (so.ids.empty() || so.idList.back() == ',') {
        printError(err, "--id: \"" + so.idList + "\" is not a list of IDs (0-253)");
        return false;
    }
    if (command == "backup") {
        if (so.ids.size() != 1) {
            printError(err, "backup: one --id at a time");
            return false;
        }
        o.id = so.ids.front();
        // A target that is not a regular file is refused before the bus is touched.
        std::string error;
        if (!so.output.empty() && !checkWriteTarget(so.output, error)) {
            printError(err, error + "; nothing written");
            return false;
        }
        return true;
    }
    std::string error;
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
