#include "gui/dialogs/SettingsCommands.h"

#include <QFile>
#include <QStringList>

#include <chrono>

#include "device/DeviceEntry.h"
#include "device/SettingsTransfer.h"
#include "drivers/RegularFile.h"
#include "gui/app/ManagerApp.h"
#include "gui/dialogs/SettingsDifferencesDialog.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/ResultCode.h"

namespace mvx::gui {

namespace {

const QString kFilter = QStringLiteral("Movantrix Settings (*.json)");
const QString kSuffix = QStringLiteral("json");
const QString kSaveFailed = QStringLiteral("Can not save the settings file!\n\n%1");
const QString kLoadRefused = QStringLiteral("Can not load the settings file!\n\n%1");
const QString kOtherModel = QStringLiteral(
    "The settings file is for %1 (model %2), the selected movantrix is %3 (model %4).\n\n"
    "Nothing was written.");
const QString kNoDifferences =
    QStringLiteral("The movantrix already holds the settings of this file.");
const QString kReadFailed = QStringLiteral("Can not read the settings of the movantrix (%1).");
const QString kWriteFailed = QStringLiteral(
    "Writing %1 failed (%2); the movantrix may or may not hold its new value.\n\n"
    "Written: %3\nNot written: %4");
const QString kReadBackFailed = QStringLiteral(
    "The settings were written, but reading them back failed (%1).\n\n"
    "Written, not checked: %2");
const QString kNotTaken = QStringLiteral("These settings did not take:\n\n%1");

DeviceEntry* selectedActuator(ManagerApp& app, const DeviceSheet& sheet) {
    DeviceEntry* entry = app.registry().find(sheet.currentBaud(), sheet.currentId());
    if (entry == nullptr || entry->servoRecord() == nullptr || entry->returnLevel() < 1) {
        return nullptr;
    }
    return entry;
}

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString resultWords(int result) {
    return QStringLiteral("%1, %2").arg(QString::fromLatin1(resultText(result))).arg(result);
}

std::string takenNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return utcTimestamp(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

// Reads the device's settings; on failure reports it and returns false.
bool readSettings(ManagerApp& app, DeviceEntry& entry, const std::string& takenAt,
                  DeviceSettings& settings, QWidget* parent) {
    const int result = readDeviceSettings(entry, takenAt, settings);
    if (result == Success) {
        return true;
    }
    if (!app.shell().reportBusFailure(result)) {
        app.operations().message(parent, kReadFailed.arg(resultWords(result)));
    }
    return false;
}

QString names(const std::vector<SettingChange>& changes) {
    return QString::fromStdString(settingNames(changes));
}

// A restore that failed: what was written before the failure, and what was not.
QString partialRestoreText(const RestoreResult& restored) {
    if (restored.readBackFailed()) {
        return kReadBackFailed.arg(resultWords(restored.result), names(restored.written));
    }
    return kWriteFailed.arg(QString::fromLatin1(restored.failedAt->name),
                            resultWords(restored.result), names(restored.written),
                            names(restored.notWritten));
}

}  // namespace

bool settingsCommandsEnabled(ManagerApp& app, const DeviceSheet& sheet) {
    return app.bus().isOpen() && app.busBusy == 0 && !app.registry().searchWorkerActive() &&
           selectedActuator(app, sheet) != nullptr;
}

void saveSettings(ManagerApp& app, DeviceSheet& sheet, QWidget* parent) {
    DeviceEntry* entry = selectedActuator(app, sheet);
    if (entry == nullptr) {
        return;
    }
    BusBusyScope busy(app);
    const QString path = app.operations().saveFileName(parent, kFilter, kSuffix);
    if (path.isEmpty()) {
        return;
    }
    DeviceSettings settings;
    if (!readSettings(app, *entry, takenNow(), settings, parent)) {
        return;
    }
    std::string error;
    if (!writeFileAtomically(localPath(path), settingsJsonText(settings), error)) {
        app.operations().message(parent, kSaveFailed.arg(QString::fromStdString(error)));
    }
}

void loadSettings(ManagerApp& app, DeviceSheet& sheet, QWidget* parent) {
    DeviceEntry* entry = selectedActuator(app, sheet);
    if (entry == nullptr) {
        return;
    }
    BusBusyScope busy(app);
    GuiOperations& ops = app.operations();
    const QString path = ops.openFileName(parent, kFilter, kSuffix);
    if (path.isEmpty()) {
        return;
    }
    DeviceSettings file;
    std::string error;
    if (!readSettingsFile(localPath(path), file, error)) {
        ops.message(parent, kLoadRefused.arg(QString::fromStdString(error)));
        return;
    }
    if (file.modelNumber != entry->modelNumber()) {
        ops.message(parent, kOtherModel.arg(QString::fromStdString(file.modelName))
                                .arg(file.modelNumber)
                                .arg(QString::fromLatin1(displayName(entry->modelNumber())))
                                .arg(entry->modelNumber()));
        return;
    }
    DeviceSettings now;
    if (!readSettings(app, *entry, {}, now, parent)) {
        return;
    }
    const std::vector<SettingChange> changes =
        settingsDifferences(now, file, true, entry->servoRecord()->maxPosition());
    if (changes.empty()) {
        ops.message(parent, kNoDifferences);
        return;
    }
    SettingsDifferencesDialog dialog(path, changes, parent);
    if (ops.runDialog(dialog) != QDialog::Accepted) {
        return;
    }
    const RestoreResult restored = restoreSettings(app.registry(), *entry, dialog.chosenChanges());
    if (restored.result != Success) {
        // What the movantrix holds now, before the common report closes the connection or
        // rebuilds the list.
        ops.message(parent, partialRestoreText(restored));
        if (app.shell().reportBusFailure(restored.result)) {
            return;
        }
    } else if (!restored.notTaken.empty()) {
        QStringList lines;
        for (const SettingChange& c : restored.notTaken) {
            lines << QStringLiteral("%1: wrote %2, the movantrix holds %3")
                         .arg(QString::fromLatin1(c.reg->name),
                              QString::fromStdString(settingValueText(*c.reg, c.wanted)),
                              QString::fromStdString(settingValueText(*c.reg, c.now)));
        }
        ops.message(parent, kNotTaken.arg(lines.join(QLatin1Char('\n'))));
    }
    sheet.showDevice(sheet.currentBaud(), sheet.currentId());
}

}  // namespace mvx::gui
