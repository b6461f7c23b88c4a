// The main window: a fixed 644 x 454 window with the Connection, Advance and Help menus, the
// shortcut keys, and the main view. Carries out the commands under one enabling rule each,
// and offers the dialogs and pages the common reaction to a failed bus operation.
#pragma once

#include <QMainWindow>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gui/app/ManagerApp.h"

namespace Ui {
class MainWindow;
}

class QAction;

namespace mvx::gui {

class MainView;
class TelemetryWindows;

class MainWindow : public QMainWindow, public Shell {
    Q_OBJECT

public:
    explicit MainWindow(ManagerApp& app, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up before the window is first shown: the port dialog, and the search dialog after
    // an adapter was opened.
    void startUp();

    bool commandEnabled(Command command) const;

    void runCommand(Command command) override;
    bool reportBusFailure(int result) override;
    void refreshDeviceList(int code, int id) override;

    MainView& view() { return *view_; }
    QAction* action(Command command) const;
    TelemetryWindows& telemetry() { return *telemetry_; }

protected:
    // Exit, the close box and the system menu: the telemetry windows close first.
    void closeEvent(QCloseEvent* event) override;

private:
    void updateActions();
    void openAdapter();
    // Says once per run which settings of the opened adapter did not take effect.
    void noticeAdapterLimitations();
    void closeConnection();
    void searchBus();
    void firmwareUpdate();
    void showAbout();
    // The selected device's telemetry window.
    void openTelemetry();
    // An actuator answering reads is selected.
    bool telemetryPossible() const;

    ManagerApp& app_;
    std::unique_ptr<Ui::MainWindow> ui_;
    MainView* view_ = nullptr;
    std::set<std::string> noticedLimitations_;
    // The sheet's devices whose failure reports are refreshing the device list, innermost
    // last. The refresh selects a device again, and one that answers its ping but fails again
    // is not reported from inside its own report: its page refuses and the sheet falls back.
    std::vector<std::pair<int, int>> devicesInReport_;
    // A lost adapter is being reported: further failures met meanwhile are part of it.
    bool adapterFailureInReport_ = false;
    std::unique_ptr<TelemetryWindows> telemetry_;
};

}  // namespace mvx::gui
