// The main window: a fixed 644 x 454 window with the Connection, Advance and Help menus, the
// shortcut keys, and the main view. Carries out the commands under one enabling rule each,
// and offers the dialogs and pages the common reaction to a failed bus operation. What a
// command does on the bus runs as jobs of the bus executor; the window answers meanwhile.
#pragma once

#include <QMainWindow>
#include <QStatusBar>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gui/app/ManagerApp.h"
#include "gui/dialogs/PortDialog.h"

namespace Ui {
class MainWindow;
}

class QAction;

namespace mvx::gui {

class BusLogWindow;
class MainView;
class RobotSetupWindow;
class TelemetryWindows;

class MainWindow : public QMainWindow, public Shell {
    Q_OBJECT

public:
    explicit MainWindow(ManagerApp& app, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up before the window is first shown: the port dialog, and the search dialog after
    // an adapter was opened; returns once the device list they found is shown.
    void startUp();

    bool commandEnabled(Command command) const;

    void runCommand(Command command) override;
    bool reportBusFailure(int result) override;
    bool reportDeviceFailure(int result, int code, int id) override;
    void refreshDeviceList(int code, int id) override;

    MainView& view() { return *view_; }
    QAction* action(Command command) const;
    TelemetryWindows& telemetry() { return *telemetry_; }
    // The "Set Up Actuators" window, or null before it was first opened.
    RobotSetupWindow* setupWindow() const { return setup_; }
    // The Bus Log window, or null before it was first opened.
    BusLogWindow* busLogWindow() const { return busLog_; }

protected:
    // Exit, the close box and the system menu: the telemetry windows close first.
    void closeEvent(QCloseEvent* event) override;

private:
    void updateActions();
    void openAdapter();
    // Opens an adapter of `listing`: through the port dialog when there is a choice, at once
    // when there is one.
    void chooseAdapter(const AdapterListing& listing);
    // An adapter is open: the notice of what it could not be set up for, then the search.
    void adapterOpened(const std::vector<std::string>& limitations);
    // Says once per run which settings of the opened adapter did not take effect.
    void noticeAdapterLimitations(const std::vector<std::string>& limitations);
    void closeConnection();
    void searchBus();
    // Shows under the device view which codes the last search did not make sure of, or hides
    // that line when there are none.
    void showSearchNotSure(const std::vector<int>& codes);
    void firmwareUpdate();
    void showAbout();
    // The selected device's telemetry window.
    void openTelemetry();
    // An actuator answering reads is selected.
    bool telemetryPossible() const;
    // Shows the Bus Log window, making it the first time.
    void openBusLog();
    // Shows the "Set Up Actuators" window, making it the first time.
    void openSetupWindow();
    // A setup run holds the bus: the other bus commands and the device view are off.
    bool setupRunning() const;
    void setupRunStarted();
    void setupRunEnded();

    ManagerApp& app_;
    std::unique_ptr<Ui::MainWindow> ui_;
    MainView* view_ = nullptr;
    std::set<std::string> noticedLimitations_;
    // The devices whose failure reports are refreshing the device list, until the sheet has
    // settled after that refresh. The refresh selects a device again, and one that answers its
    // ping but fails again is not reported from inside its own report: its page refuses and the
    // sheet falls back.
    std::vector<std::pair<int, int>> devicesInReport_;
    // A lost adapter is being reported, until its Close has closed the connection: further
    // failures met meanwhile are part of it.
    bool adapterFailureInReport_ = false;
    std::unique_ptr<TelemetryWindows> telemetry_;
    QStatusBar* notSureBar_ = nullptr;   // made at the first unsure search
    RobotSetupWindow* setup_ = nullptr;  // a child window
    BusLogWindow* busLog_ = nullptr;     // a child window
};

}  // namespace mvx::gui
