// "Set Up Actuators": the non-modal window in which new actuators get their IDs one after the
// other (robot/AssignFlow). The run is one long command of the bus executor, its events come
// back as values by queued calls: a row per ID with its state and its line, the prompt for the
// next actuator, the notices (two new at once, a device left where it is) and the summary.
// Stop sets the flow's stop flag: the run ends after the step in hand, never in a move.
// Closing the window during a run stops it first, and the window goes once the run's result
// is in; the window answers meanwhile.
#pragma once

#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include "device/SettingsFile.h"

namespace Ui {
class RobotSetupWindow;
}

namespace mvx {
struct AssignEvent;
struct AssignReport;
struct AssignRow;
}  // namespace mvx

namespace mvx::gui {

class ManagerApp;

class RobotSetupWindow : public QWidget {
    Q_OBJECT

public:
    RobotSetupWindow(ManagerApp& app, QWidget* parent = nullptr);
    ~RobotSetupWindow() override;

    // A run has started and its result is not in yet.
    bool running() const { return running_; }
    // Asks a run to end after its step in hand (as the Stop button does).
    void stopRun();

signals:
    // A run goes to the bus: the registry is emptied, and holds the run's devices afterwards.
    void runStarted();
    // The run's result is in (`adapterLost`: the adapter failed; reported after this).
    void runEnded(bool adapterLost);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onStart();
    void onBrowse();
    void onEvent(const AssignEvent& event);
    void onEnded(const AssignReport& report);
    void showRow(int index, const AssignRow& row, bool ended = false);
    void setIdleControls(bool idle);
    void notice(const QString& text);

    ManagerApp& app_;
    std::unique_ptr<Ui::RobotSetupWindow> ui_;
    std::optional<DeviceSettings> settings_;
    std::shared_ptr<std::atomic<bool>> stop_;
    int total_ = 0;
    bool running_ = false;
    bool closeWhenEnded_ = false;
};

}  // namespace mvx::gui
