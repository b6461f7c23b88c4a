// "Operation": drives an actuator by hand and watches it. Switches torque and the LED,
// commands a speed and a goal position, sets one of six output-shaping registers through a
// selector and a slider, and polls the live state four times a second while it is the active
// page. Every change is written at once through the device's record.
#pragma once

#include <memory>

#include "gui/sheet/DevicePage.h"

class QAbstractSlider;

namespace Ui {
class OperationPage;
}

namespace mvx {
class ServoRecord;
}

namespace mvx::gui {

class RepeatingTimer;

class OperationPage : public DevicePage {
    Q_OBJECT

public:
    explicit OperationPage(DeviceSheet& sheet);
    ~OperationPage() override;

    // Reads every register of the record (once more after a timeout or a corrupt reply), sets
    // the controls for the device's mode and starts the status poll.
    bool activate() override;
    void deactivate() override;

    // How long a command waits for a status poll that is still marked as running.
    static constexpr int kPollWaitMs = 500;

private:
    enum Property { CwMargin, CcwMargin, CwSlope, CcwSlope, Punch, TorqueLimit };

    // One status timer tick.
    void poll();
    // Torque (`torque` true) or LED radio clicked.
    void simpleCommand(bool torque, int value);
    void center();
    void stop();
    void sliderAction(QAbstractSlider* slider, int action);
    void writeGoal(ServoRecord& record, int position);
    void writeSpeed(ServoRecord& record, int speed);
    void writeProperty(ServoRecord& record, int k);
    // Shows the cached value of the selected property (no bus traffic).
    void selectProperty(int index);

    // The record of the sheet's device, or null (then polling has stopped and the sheet is
    // told to show its fallback; the caller writes nothing).
    ServoRecord* recordOrFallback();
    // Waits until no status poll is marked as running, at most kPollWaitMs.
    void waitForPoll();
    // A button command's record: after any running poll, or null (fallback shown) when gone.
    ServoRecord* commandRecord();
    void stopPolling();

    void showGoal(const ServoRecord& record);
    void showSpeed(const ServoRecord& record);
    void showTorque(const ServoRecord& record);
    void showStatus(const ServoRecord& record, int modelNumber);
    void refreshErrors(const ServoRecord& record);

    std::unique_ptr<Ui::OperationPage> ui_;
    std::unique_ptr<RepeatingTimer> timer_;
    int pollFailures_ = 0;
    bool wheel_ = false;
};

}  // namespace mvx::gui
