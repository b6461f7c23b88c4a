#include "gui/robot/RobotProfileCommands.h"

#include <QFile>

#include <chrono>

#include "drivers/RegularFile.h"
#include "gui/app/ManagerApp.h"
#include "gui/robot/RobotCheckDialog.h"
#include "gui/robot/RobotSearchDialog.h"
#include "protocol/ResultCode.h"
#include "robot/ProfileFlows.h"

namespace mvx::gui {

namespace {

const QString kFilter = QStringLiteral("Movantrix Robot Profile (*.json)");
const QString kSuffix = QStringLiteral("json");
const QString kSaveFailed = QStringLiteral("Can not save the robot profile!\n\n%1");
const QString kLoadRefused = QStringLiteral("Can not load the robot profile!\n\n%1");
const QString kSearchFailed = QStringLiteral("The search failed (%1).");

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::string takenNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return utcTimestamp(std::chrono::duration_cast<std::chrono::seconds>(now).count());
}

}  // namespace

void saveRobotProfile(ManagerApp& app, QWidget* parent) {
    BusBusyScope busy(app);
    GuiOperations& ops = app.operations();
    const QString path = ops.saveFileName(parent, kFilter, kSuffix);
    if (path.isEmpty()) {
        return;
    }
    std::string error;
    // A FIFO, a device or a directory in the file's place is refused before the bus is touched.
    if (!checkWriteTarget(localPath(path), error)) {
        ops.message(parent, kSaveFailed.arg(QString::fromStdString(error)));
        return;
    }
    const std::vector<int> codes = quickCodes();
    RobotSearchDialog dialog(app, codes, parent);
    ops.runDialog(dialog);
    const Surveyed& surveyed = dialog.surveyed();
    if (!dialog.searching() && surveyed.result != Success &&
        app.shell().reportBusFailure(surveyed.result)) {
        return;
    }
    // The search emptied the registry and filled it anew.
    app.shell().refreshDeviceList(-1, -1);
    if (dialog.searching()) {
        return;  // dismissed before the search's result was in: it is dropped
    }
    if (surveyed.result != Success) {
        ops.message(parent, kSearchFailed.arg(QString::fromLatin1(resultText(surveyed.result))));
        return;
    }
    if (surveyed.stopped) {
        return;  // part of the bus only: no profile
    }
    const RobotProfile profile = profileOf(surveyed.found, codes, takenNow());
    if (!writeFileAtomically(localPath(path), profileJsonText(profile), error)) {
        ops.message(parent, kSaveFailed.arg(QString::fromStdString(error)));
    }
}

void checkRobot(ManagerApp& app, QWidget* parent) {
    BusBusyScope busy(app);
    GuiOperations& ops = app.operations();
    const QString path = ops.openFileName(parent, kFilter, kSuffix);
    if (path.isEmpty()) {
        return;
    }
    RobotProfile profile;
    std::string error;
    if (!readProfileFile(localPath(path), profile, error)) {
        ops.message(parent, kLoadRefused.arg(QString::fromStdString(error)));
        return;
    }
    RobotCheckDialog dialog(app, std::move(profile), path, parent);
    ops.runDialog(dialog);
    if (app.adapterOpen()) {
        // The checks emptied the registry and filled it anew.
        app.shell().refreshDeviceList(-1, -1);
    }
}

}  // namespace mvx::gui
