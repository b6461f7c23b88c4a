#include "gui/dialogs/SettingsCommands.h"

#include <QFile>
#include <QStringList>

#include <chrono>

#include "device/DeviceEntry.h"
#include "device/SettingsTransfer.h"
#include "drivers/RegularFile.h"
#include "gui/app/LocalPath.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/dialogs/SettingsDifferencesDialog.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/ResultCode.h"

namespace mvx::gui {

namespace {

const QString kSettingsSaveFailed = QStringLiteral("Can not save the settings file!\n\n%1");
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
const QString kRestoreRefused = QStringLiteral(
    "The settings were not loaded: %1.\n\n"
    "The movantrix would hold crossed limits. Nothing was written.");
const QString kNotTaken = QStringLiteral("These settings did not take:\n\n%1");

const DeviceSummary* selectedActuator(const ManagerApp& app, const DeviceSheet& sheet) {
    const DeviceSummary* device = app.findDevice(sheet.currentBaud(), sheet.currentId());
    if (device == nullptr || !device->hasRecord || device->returnLevel < 1) {
        return nullptr;
    }
    return device;
}

// A device's settings as a job read them; `registered` false when the device has gone.
struct SettingsRead {
    bool registered = false;
    int result = 0;
    DeviceSettings settings;
    // Load Settings: the differences from the file's settings.
    std::vector<SettingChange> changes;

    static SettingsRead jobFailed() {
        SettingsRead failed;
        failed.registered = true;
        failed.result = AdapterFailure;
        return failed;
    }
};

// Inside a job: the settings of the device at (code, id).
SettingsRead readSettingsOf(DeviceRegistry& registry, int code, int id,
                            const std::string& takenAt) {
    SettingsRead read;
    DeviceEntry* entry = registry.find(code, id);
    read.registered = entry != nullptr;
    if (entry != nullptr) {
        read.result = readDeviceSettings(*entry, takenAt, read.settings);
    }
    return read;
}

// A failed read: reported the common way against the device read (code, id), whichever the
// sheet shows by now, or said in its own message. False when the read failed.
bool readSucceeded(ManagerApp& app, const SettingsRead& read, int code, int id, QWidget* parent) {
    if (!read.registered) {
        return false;  // gone from the registry: nothing to read
    }
    if (read.result == Success) {
        return true;
    }
    if (!app.shell().reportDeviceFailure(read.result, code, id)) {
        app.operations().message(parent, kReadFailed.arg(texts::resultWords(read.result)));
    }
    return false;
}

QString names(const std::vector<SettingChange>& changes) {
    return QString::fromStdString(settingNames(changes));
}

// A restore that failed: what was written before the failure, and what was not.
QString partialRestoreText(const RestoreResult& restored) {
    if (restored.readBackFailed()) {
        return kReadBackFailed.arg(texts::resultWords(restored.result), names(restored.written));
    }
    return kWriteFailed.arg(QString::fromLatin1(restored.failedAt->name),
                            texts::resultWords(restored.result), names(restored.written),
                            names(restored.notWritten));
}

// What restoring the chosen changes did, and the device list after it.
struct Restored {
    bool registered = false;
    RestoreResult result;
    std::vector<DeviceSummary> devices;
    bool threw = false;  // the job ended without a word of what it wrote

    static Restored jobFailed() {
        Restored failed;
        failed.registered = true;
        failed.result.result = AdapterFailure;
        failed.threw = true;
        return failed;
    }
};

// The end of Load Settings once the chosen changes are written to the device at (code, id).
void restored(ManagerApp& app, DeviceSheet& sheet, QWidget* parent, int code, int id,
              const Restored& done) {
    GuiOperations& ops = app.operations();
    if (done.threw) {
        app.shell().reportDeviceFailure(done.result.result, code, id);
        return;
    }
    app.setDevices(done.devices);
    if (!done.registered) {
        return;
    }
    const RestoreResult& restored = done.result;
    if (restored.refused()) {
        ops.message(parent, kRestoreRefused.arg(QString::fromStdString(restored.refusal)));
        return;
    }
    if (restored.result != Success) {
        // What the movantrix holds now, before the common report closes the connection or
        // rebuilds the list.
        ops.message(parent, partialRestoreText(restored));
        if (app.shell().reportDeviceFailure(restored.result, code, id)) {
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

}  // namespace

bool settingsCommandsEnabled(const ManagerApp& app, const DeviceSheet& sheet) {
    return app.adapterOpen() && app.busBusy == 0 && selectedActuator(app, sheet) != nullptr;
}

void saveSettings(ManagerApp& app, DeviceSheet& sheet, QWidget* parent) {
    if (selectedActuator(app, sheet) == nullptr) {
        return;
    }
    auto busy = std::make_shared<BusBusyScope>(app);
    const QString path =
        app.operations().saveFileName(parent, texts::kSettingsFilter, texts::kJsonSuffix);
    if (path.isEmpty()) {
        return;
    }
    DeviceRegistry& registry = app.registry();
    const int code = sheet.currentBaud();
    const int id = sheet.currentId();
    const std::string takenAt = utcTimestampNow();
    app.jobs().command(
        parent,
        [&registry, code, id, takenAt] { return readSettingsOf(registry, code, id, takenAt); },
        [&app, parent, path, code, id, busy](const SettingsRead& read) {
            if (!readSucceeded(app, read, code, id, parent)) {
                return;
            }
            std::string error;
            if (!writeFileAtomically(localPath(path), settingsJsonText(read.settings), error)) {
                app.operations().message(parent,
                                         kSettingsSaveFailed.arg(QString::fromStdString(error)));
            }
        });
}

void loadSettings(ManagerApp& app, DeviceSheet& sheet, QWidget* parent) {
    const DeviceSummary* device = selectedActuator(app, sheet);
    if (device == nullptr) {
        return;
    }
    const int modelNumber = device->modelNumber;
    const int maxPosition = device->maxPosition;
    auto busy = std::make_shared<BusBusyScope>(app);
    GuiOperations& ops = app.operations();
    const QString path = ops.openFileName(parent, texts::kSettingsFilter, texts::kJsonSuffix);
    if (path.isEmpty()) {
        return;
    }
    DeviceSettings file;
    std::string error;
    if (!readSettingsFile(localPath(path), file, error)) {
        ops.message(parent, texts::kSettingsLoadRefused.arg(QString::fromStdString(error)));
        return;
    }
    if (file.modelNumber != modelNumber) {
        ops.message(parent, kOtherModel.arg(QString::fromStdString(file.modelName))
                                .arg(file.modelNumber)
                                .arg(QString::fromLatin1(displayName(modelNumber)))
                                .arg(modelNumber));
        return;
    }
    DeviceRegistry& registry = app.registry();
    const int code = sheet.currentBaud();
    const int id = sheet.currentId();
    app.jobs().command(
        parent,
        [&registry, code, id, file, maxPosition] {
            SettingsRead read = readSettingsOf(registry, code, id, {});
            if (read.registered && read.result == Success) {
                read.changes = settingsDifferences(read.settings, file, true, maxPosition);
            }
            return read;
        },
        [&app, &sheet, &registry, parent, path, code, id, busy](const SettingsRead& read) {
            GuiOperations& ops = app.operations();
            if (!readSucceeded(app, read, code, id, parent)) {
                return;
            }
            if (read.changes.empty()) {
                ops.message(parent, kNoDifferences);
                return;
            }
            SettingsDifferencesDialog dialog(path, read.changes, parent);
            if (ops.runDialog(dialog) != QDialog::Accepted) {
                return;
            }
            const std::vector<SettingChange> chosen = dialog.chosenChanges();
            app.jobs().command(
                parent,
                [&registry, code, id, chosen] {
                    Restored done;
                    DeviceEntry* entry = registry.find(code, id);
                    done.registered = entry != nullptr;
                    if (entry != nullptr) {
                        done.result = restoreSettings(registry, *entry, chosen);
                    }
                    done.devices = registry.snapshot();
                    return done;
                },
                [&app, &sheet, parent, code, id, busy](const Restored& done) {
                    restored(app, sheet, parent, code, id, done);
                });
        });
}

}  // namespace mvx::gui
