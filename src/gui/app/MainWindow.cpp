#include "gui/app/MainWindow.h"

#include <QCloseEvent>
#include <QShortcut>
#include <QStatusBar>
#include <algorithm>

#include "gui/app/AboutDialog.h"
#include "gui/app/MainView.h"
#include "gui/app/Texts.h"
#include "gui/buslog/BusLogWindow.h"
#include "gui/dialogs/PortDialog.h"
#include "gui/dialogs/SearchDialog.h"
#include "gui/dialogs/SettingsCommands.h"
#include "gui/robot/RobotProfileCommands.h"
#include "gui/robot/RobotSetupWindow.h"
#include "gui/sheet/DeviceSheet.h"
#include "gui/telemetry/TelemetryWindows.h"
#include "gui/tree/DeviceIcons.h"
#include "gui/wizard/FirmwareWizard.h"
#include "protocol/ResultCode.h"
#include "ui_MainWindow.h"

namespace mvx::gui {

namespace {

constexpr int kWidth = 644;
constexpr int kHeight = 454;

struct Binding {
    Command command;
    QKeySequence keys;  // empty: no shortcut key
};

// One shortcut table for the whole window, the property sheet and its pages included. Ctrl+C
// and Ctrl+X are Close and Exit here, not copy and cut.
const Binding kBindings[] = {
    {Command::Open, QKeySequence(Qt::CTRL | Qt::Key_O)},
    {Command::Close, QKeySequence(Qt::CTRL | Qt::Key_C)},
    {Command::Search, QKeySequence(Qt::CTRL | Qt::Key_S)},
    {Command::Exit, QKeySequence(Qt::CTRL | Qt::Key_X)},
    {Command::FirmwareUpdate, QKeySequence(Qt::CTRL | Qt::Key_U)},
    {Command::About, QKeySequence()},
    {Command::Telemetry, QKeySequence(Qt::CTRL | Qt::Key_T)},
    {Command::SaveSettings, QKeySequence()},
    {Command::LoadSettings, QKeySequence()},
    {Command::SetUpActuators, QKeySequence()},
    {Command::SaveRobotProfile, QKeySequence()},
    {Command::CheckRobot, QKeySequence()},
    {Command::BusLog, QKeySequence()},
};

}  // namespace

MainWindow::MainWindow(ManagerApp& app, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      app_(app),
      ui_(std::make_unique<Ui::MainWindow>()),
      telemetry_(std::make_unique<TelemetryWindows>(app)) {
    ui_->setupUi(this);
    setWindowTitle(texts::kMainWindowTitle);
    setWindowIcon(applicationIcon());
    setFixedSize(kWidth, kHeight);
    view_ = new MainView(app_, this);
    setCentralWidget(view_);
    app_.setShell(this);
    // No telemetry worker samples while the device list changes under it.
    connect(view_, &MainView::aboutToRefresh, this, [this] { telemetry_->suspendSampling(); });
    connect(view_, &MainView::refreshed, this, [this] { telemetry_->resumeSampling(); });
    // The commands' rules read the device list, the selected device and busBusy.
    connect(&view_->sheet(), &DeviceSheet::deviceShown, this, &MainWindow::updateActions);
    connect(&app_.jobs(), &BusJobs::idle, this, &MainWindow::updateActions);

    for (const Binding& binding : kBindings) {
        const Command command = binding.command;
        connect(action(command), &QAction::triggered, this,
                [this, command] { runCommand(command); });
        if (!binding.keys.isEmpty()) {
            // The key is part of the item's text; the shortcut itself lives on the window so
            // that it works wherever the focus is inside it.
            auto* shortcut = new QShortcut(binding.keys, this);
            shortcut->setContext(Qt::WindowShortcut);
            connect(shortcut, &QShortcut::activated, this,
                    [this, command] { runCommand(command); });
        }
    }
    for (QMenu* menu : {ui_->connectionMenu, ui_->advanceMenu, ui_->helpMenu}) {
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::updateActions);
    }
    updateActions();
}

MainWindow::~MainWindow() {
    app_.setShell(nullptr);
}

QAction* MainWindow::action(Command command) const {
    switch (command) {
        case Command::Open:
            return ui_->actionOpen;
        case Command::Close:
            return ui_->actionClose;
        case Command::Search:
            return ui_->actionSearch;
        case Command::Exit:
            return ui_->actionExit;
        case Command::FirmwareUpdate:
            return ui_->actionFirmwareUpdate;
        case Command::About:
            return ui_->actionAbout;
        case Command::Telemetry:
            return ui_->actionTelemetry;
        case Command::SaveSettings:
            return ui_->actionSaveSettings;
        case Command::LoadSettings:
            return ui_->actionLoadSettings;
        case Command::SetUpActuators:
            return ui_->actionSetUpActuators;
        case Command::SaveRobotProfile:
            return ui_->actionSaveRobotProfile;
        case Command::CheckRobot:
            return ui_->actionCheckRobot;
        case Command::BusLog:
            return ui_->actionBusLog;
    }
    return nullptr;
}

bool MainWindow::commandEnabled(Command command) const {
    // While new actuators are set up, the bus is the setup window's.
    const bool busFree = !setupRunning();
    switch (command) {
        case Command::Open:
            return !app_.adapterOpen();
        case Command::Close:
        case Command::Search:
        case Command::FirmwareUpdate:
        case Command::SetUpActuators:
        case Command::SaveRobotProfile:
        case Command::CheckRobot:
            return app_.adapterOpen() && busFree;
        case Command::Exit:
        case Command::About:
        case Command::BusLog:
            return true;
        case Command::Telemetry:
            return app_.adapterOpen() && busFree && telemetryPossible();
        case Command::SaveSettings:
        case Command::LoadSettings:
            return busFree && settingsCommandsEnabled(app_, view_->sheet());
    }
    return false;
}

void MainWindow::updateActions() {
    for (const Binding& binding : kBindings) {
        action(binding.command)->setEnabled(commandEnabled(binding.command));
    }
}

void MainWindow::startUp() {
    runCommand(Command::Open);
    // The window is shown after the start-up's dialogs and the device list they found.
    app_.jobs().waitUntilIdle();
}

void MainWindow::runCommand(Command command) {
    // The rule is asked again here, however the command arrived.
    if (!commandEnabled(command)) {
        return;
    }
    switch (command) {
        case Command::Open:
            openAdapter();
            break;
        case Command::Close:
            closeConnection();
            break;
        case Command::Search:
            searchBus();
            break;
        case Command::Exit:
            QMainWindow::close();
            break;
        case Command::FirmwareUpdate:
            firmwareUpdate();
            break;
        case Command::About:
            showAbout();
            break;
        case Command::Telemetry:
            openTelemetry();
            break;
        case Command::SaveSettings:
            saveSettings(app_, view_->sheet(), this);
            break;
        case Command::LoadSettings:
            loadSettings(app_, view_->sheet(), this);
            break;
        case Command::SetUpActuators:
            openSetupWindow();
            break;
        case Command::BusLog:
            openBusLog();
            break;
        case Command::SaveRobotProfile:
            saveRobotProfile(app_, this);
            break;
        case Command::CheckRobot:
            checkRobot(app_, this);
            break;
    }
    updateActions();
}

namespace {

// What opening an adapter found.
struct Opened {
    bool open = false;
    std::vector<std::string> limitations;
};

}  // namespace

void MainWindow::openAdapter() {
    DeviceRegistry& registry = app_.registry();
    app_.jobs().command(
        this, [&registry] { return listAdapters(registry.bus()); },
        [this](const AdapterListing& listing) { chooseAdapter(listing); });
}

void MainWindow::chooseAdapter(const AdapterListing& listing) {
    if (listing.count == 0) {
        app_.operations().message(this, texts::kAdapterNotFound);
        return;
    }
    if (listing.count != 1) {
        // A choice (or a failed listing, which offers an empty list).
        PortDialog dialog(app_, listing, this);
        if (app_.operations().runDialog(dialog) == QDialog::Accepted) {
            adapterOpened(dialog.limitations());
        }
        updateActions();
        return;
    }
    DeviceRegistry& registry = app_.registry();
    app_.jobs().command(
        this,
        [&registry] {
            Opened opened;
            opened.open = registry.bus().open(0);
            opened.limitations = registry.bus().adapterLimitations();
            return opened;
        },
        [this](const Opened& opened) {
            app_.setAdapterOpen(opened.open);
            if (opened.open) {
                adapterOpened(opened.limitations);
            } else {
                app_.operations().message(this, texts::kAdapterAccessFailed);
            }
            updateActions();
        });
}

void MainWindow::adapterOpened(const std::vector<std::string>& limitations) {
    noticeAdapterLimitations(limitations);
    runCommand(Command::Search);
}

void MainWindow::noticeAdapterLimitations(const std::vector<std::string>& limitations) {
    QStringList fresh;
    for (const std::string& text : limitations) {
        if (noticedLimitations_.insert(text).second) {
            fresh << QString::fromStdString(text);
        }
    }
    if (!fresh.isEmpty()) {
        app_.operations().message(this, texts::adapterLimitations(fresh));
    }
}

void MainWindow::closeConnection() {
    telemetry_->endSampling();
    // Closing from the moment it is asked for: the commands that need an adapter are off.
    app_.setAdapterOpen(false);
    DeviceRegistry& registry = app_.registry();
    view_->sheet().expectRebuild();
    app_.jobs().command(
        this,
        [&registry] {
            registry.bus().close();
            registry.clear();
            return 0;
        },
        [this](int) {
            adapterFailureInReport_ = false;  // the connection is closed now
            view_->refreshDeviceList(-1, -1);
            updateActions();
        },
        BusJobs::RaiseBusy);
}

void MainWindow::searchBus() {
    BusBusyScope busy(app_);
    SearchDialog dialog(app_, this);
    if (app_.operations().runDialog(dialog) == QDialog::Accepted) {
        showSearchNotSure(dialog.unsureCodes());
        view_->refreshDeviceList(-1, -1);
    }
}

void MainWindow::showSearchNotSure(const std::vector<int>& codes) {
    // The window keeps its size for the device view; the bar is added below it while it shows.
    if (codes.empty()) {
        if (notSureBar_ != nullptr) {
            notSureBar_->hide();
            setFixedSize(kWidth, kHeight);
        }
        return;
    }
    if (notSureBar_ == nullptr) {
        notSureBar_ = new QStatusBar(this);
        notSureBar_->setObjectName(QStringLiteral("statusBar"));
        notSureBar_->setSizeGripEnabled(false);
        setStatusBar(notSureBar_);
    }
    notSureBar_->showMessage(texts::searchNotSure(codes));
    notSureBar_->setToolTip(notSureBar_->currentMessage());
    notSureBar_->show();
    setFixedSize(kWidth, kHeight + notSureBar_->sizeHint().height());
}

void MainWindow::firmwareUpdate() {
    // The device list is not rebuilt afterwards: updated entries already show their version.
    BusBusyScope busy(app_);
    FirmwareWizard wizard(app_, this);
    app_.operations().runDialog(wizard);
}

void MainWindow::showAbout() {
    BusBusyScope busy(app_);
    AboutDialog dialog(this);
    app_.operations().runDialog(dialog);
}

bool MainWindow::telemetryPossible() const {
    const DeviceSheet& sheet = view_->sheet();
    const DeviceSummary* device = app_.findDevice(sheet.currentBaud(), sheet.currentId());
    return device != nullptr && device->modelClass == Actuator && device->returnLevel >= 1 &&
           device->hasRecord;
}

void MainWindow::openTelemetry() {
    const DeviceSheet& sheet = view_->sheet();
    telemetry_->open(sheet.currentBaud(), sheet.currentId());
}

void MainWindow::openBusLog() {
    if (busLog_ == nullptr) {
        busLog_ = new BusLogWindow(app_, this);
    }
    busLog_->show();
    busLog_->raise();
    busLog_->activateWindow();
}

void MainWindow::openSetupWindow() {
    if (setup_ == nullptr) {
        setup_ = new RobotSetupWindow(app_, this);
        connect(setup_, &RobotSetupWindow::runStarted, this, &MainWindow::setupRunStarted);
        connect(setup_, &RobotSetupWindow::runEnded, this, &MainWindow::setupRunEnded);
    }
    setup_->show();
    setup_->raise();
    setup_->activateWindow();
}

bool MainWindow::setupRunning() const {
    return setup_ != nullptr && setup_->running();
}

void MainWindow::setupRunStarted() {
    // The run empties the registry: no page, poll or sample of the old list reaches the bus,
    // and the list waits for the refresh after the run.
    telemetry_->suspendSampling();
    view_->sheet().expectRebuild();
    view_->setEnabled(false);
    updateActions();
}

void MainWindow::setupRunEnded() {
    view_->setEnabled(true);
    // The registry holds the run's devices.
    view_->refreshDeviceList(-1, -1);
    telemetry_->resumeSampling();
    updateActions();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (setup_ != nullptr) {
        // A setup run ends after its step in hand; the executor waits for it at exit.
        setup_->stopRun();
        setup_->hide();
    }
    telemetry_->closeAll();
    if (busLog_ != nullptr) {
        busLog_->hide();
    }
    QMainWindow::closeEvent(event);
}

bool MainWindow::reportBusFailure(int result) {
    return reportDeviceFailure(result, view_->sheet().currentBaud(), view_->sheet().currentId());
}

bool MainWindow::reportDeviceFailure(int result, int code, int id) {
    if (adapterFailureInReport_ &&
        (result == AdapterFailure || result == Timeout || result == CorruptReply)) {
        // Met while the lost adapter is being reported (its message box runs a nested event
        // loop, in which the pages and the telemetry windows go on): the Close that ends that
        // report is the reaction to this one too.
        return true;
    }
    switch (result) {
        case AdapterFailure: {
            // Until the Close's result is in: the jobs queued before it meet the lost adapter
            // too, and so may the windows during the message's own event loop.
            adapterFailureInReport_ = commandEnabled(Command::Close);
            // No window samples the lost adapter while the message is up, nor reports it again.
            telemetry_->endSampling();
            app_.operations().message(this, texts::kAdapterAccessFailed);
            runCommand(Command::Close);
            return true;
        }
        case Timeout:
        case CorruptReply: {
            const std::pair<int, int> device(code, id);
            if (std::find(devicesInReport_.begin(), devicesInReport_.end(), device) !=
                devicesInReport_.end()) {
                return true;  // reported once already, and this refresh is its consequence
            }
            app_.operations().message(this, texts::kDeviceAccessFailed);
            devicesInReport_.push_back(device);
            // A device other than the one shown (a write's result that came back after the
            // user moved on): the user's selection stays.
            const DeviceSheet& sheet = view_->sheet();
            const bool shown = sheet.currentBaud() == code && sheet.currentId() == id;
            const int wishedCode = shown ? -1 : sheet.currentBaud();
            const int wishedId = shown ? -1 : sheet.currentId();
            view_->refreshDeviceList(wishedCode, wishedId, [this, device] {
                const auto it = std::find(devicesInReport_.begin(), devicesInReport_.end(), device);
                if (it != devicesInReport_.end()) {
                    devicesInReport_.erase(it);
                }
            });
            return true;
        }
        default:
            return false;
    }
}

void MainWindow::refreshDeviceList(int code, int id) {
    view_->refreshDeviceList(code, id);
}

}  // namespace mvx::gui
