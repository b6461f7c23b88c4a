#include "gui/robot/RobotProfileCommands.h"

#include <QFile>

#include <algorithm>
#include <chrono>

#include "drivers/RegularFile.h"
#include "gui/app/LocalPath.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/robot/RobotCheckDialog.h"
#include "gui/robot/RobotSearchDialog.h"
#include "protocol/ResultCode.h"
#include "robot/ProfileFlows.h"

namespace mvx::gui {

namespace {

const QString kProfileSaveFailed = QStringLiteral("Can not save the robot profile!\n\n%1");

// The addresses of the GUI's device list, followed by those of `more` it does not list.
std::vector<DeviceAddress> addressesOf(const std::vector<DeviceSummary>& listed,
                                       const std::vector<FoundDevice>& more = {}) {
    std::vector<DeviceAddress> addresses;
    for (const DeviceSummary& device : listed) {
        addresses.push_back({device.baudCode, device.id});
    }
    for (const FoundDevice& device : more) {
        if (std::find(addresses.begin(), addresses.end(), device.at) == addresses.end()) {
            addresses.push_back(device.at);
        }
    }
    return addresses;
}

// A stopped survey left the registry with part of the bus: the devices at `addresses` that
// answer there are registered again (the others are left out), then the list is rebuilt from
// them, as it was before the survey.
void relist(ManagerApp& app, std::vector<DeviceAddress> addresses) {
    DeviceRegistry& registry = app.registry();
    app.jobs().command(
        nullptr,
        [&registry, addresses = std::move(addresses)] {
            if (registry.clear() != Success) {
                return 0;
            }
            for (const DeviceAddress& at : addresses) {
                if (registry.appendPlaceholder()->probe(at.code, at.id) != Success) {
                    registry.removeLast();
                }
            }
            return 0;
        },
        [](int) {});
    app.shell().refreshDeviceList(-1, -1);
}

}  // namespace

void saveRobotProfile(ManagerApp& app, QWidget* parent) {
    BusBusyScope busy(app);
    GuiOperations& ops = app.operations();
    const QString path = ops.saveFileName(parent, texts::kProfileFilter, texts::kJsonSuffix);
    if (path.isEmpty()) {
        return;
    }
    std::string error;
    // A FIFO, a device or a directory in the file's place is refused before the bus is touched.
    if (!checkWriteTarget(localPath(path), error)) {
        ops.message(parent, kProfileSaveFailed.arg(QString::fromStdString(error)));
        return;
    }
    const std::vector<DeviceSummary> before = app.devices();
    const std::vector<int> codes = quickCodes();
    RobotSearchDialog dialog(app, codes, parent);
    ops.runDialog(dialog);
    const Surveyed& surveyed = dialog.surveyed();
    if (!dialog.searching() && surveyed.result != Success &&
        app.shell().reportBusFailure(surveyed.result)) {
        return;
    }
    if (dialog.searching() || surveyed.stopped) {
        // Dismissed before the search's result was in (it is dropped), or stopped: part of the
        // bus only, so no profile, and the list as it was.
        relist(app, addressesOf(before));
        return;
    }
    // The search emptied the registry and filled it anew.
    app.shell().refreshDeviceList(-1, -1);
    if (surveyed.result != Success) {
        ops.message(parent, texts::kRobotSearchFailed.arg(
                                QString::fromLatin1(resultText(surveyed.result))));
        return;
    }
    const RobotProfile profile = profileOf(surveyed.found, codes, utcTimestampNow());
    if (!writeFileAtomically(localPath(path), profileJsonText(profile), error)) {
        ops.message(parent, kProfileSaveFailed.arg(QString::fromStdString(error)));
    }
}

void checkRobot(ManagerApp& app, QWidget* parent) {
    BusBusyScope busy(app);
    GuiOperations& ops = app.operations();
    const QString path = ops.openFileName(parent, texts::kProfileFilter, texts::kJsonSuffix);
    if (path.isEmpty()) {
        return;
    }
    RobotProfile profile;
    std::string error;
    if (!readProfileFile(localPath(path), profile, error)) {
        ops.message(parent, texts::kProfileLoadRefused.arg(QString::fromStdString(error)));
        return;
    }
    const std::vector<DeviceSummary> before = app.devices();
    RobotCheckDialog dialog(app, std::move(profile), path, parent);
    ops.runDialog(dialog);
    if (!app.adapterOpen()) {
        return;
    }
    if (dialog.surveyStopped()) {
        // The last check was stopped with part of the bus in the registry: the list as it was,
        // with what the last complete check found.
        relist(app, addressesOf(before, dialog.found()));
        return;
    }
    // The checks emptied the registry and filled it anew.
    app.shell().refreshDeviceList(-1, -1);
}

}  // namespace mvx::gui
