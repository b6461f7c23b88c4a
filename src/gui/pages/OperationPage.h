// "Operation": drives an actuator by hand and watches it. Switches torque and the LED,
// commands a speed and a goal position, sets one of six output-shaping registers through a
// selector and a slider, and polls the live state four times a second while it is the active
// page. Every change is written at once through the device's record, as a bus job; the page
// shows the image of the record each job hands back.
//
// While a button's or a radio pair's command is on the bus, that control is disabled. A slider
// keeps moving under the user's hand instead: one write of it is on the bus at a time, and the
// position it has when that write's result comes back is written next (positions passed over
// meanwhile are not written).
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <optional>

#include "device/ServoRecord.h"
#include "gui/sheet/DevicePage.h"

class QAbstractSlider;
class QAbstractButton;

namespace Ui {
class OperationPage;
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
    void activate(Activated activated) override;
    void deactivate() override;

private:
    enum Property { CwMargin, CcwMargin, CwSlope, CcwSlope, Punch, TorqueLimit };
    enum SliderKind { GoalKind, SpeedKind, PropertyKind, kSliderKinds };

    // A slider's writes: whether one is on the bus, and the position to write after it.
    struct SliderWrites {
        bool inFlight = false;
        std::optional<int> pending;
        int pendingProperty = 0;
    };

    // One status timer tick.
    void poll();
    void pollEnded(const std::optional<RecordRead>& read);
    // Torque (`torque` true) or LED radio clicked.
    void simpleCommand(bool torque, int value);
    void center();
    void stop();
    void sliderAction(QAbstractSlider* slider, int action);
    // Writes `position` of slider `kind` (for the property slider, to `property`).
    void writeSlider(SliderKind kind, int position, int property);
    // A slider's write is through (`failed`: reported, or the device gone): the next position
    // goes, or the page shows what the device took.
    void sliderWritten(SliderKind kind, int position, int property, bool failed);
    // Shows the cached value of the selected property (no bus traffic).
    void selectProperty(int index);

    // Runs `operation` on the record as a page write (busBusy raised). Its failure is reported
    // against the device written, even when the page has gone meanwhile; then `done(page,
    // failed)` runs with the page (null once it has gone or been retired), which has taken the
    // record's image, and whether the write failed (reported, or the device gone).
    template <typename Operation, typename Done>
    void writeRecord(Operation operation, Done done);
    void stopPolling();

    void showGoal();
    void showSpeed();
    void showTorque();
    void showStatus();
    void refreshErrors();

    std::unique_ptr<Ui::OperationPage> ui_;
    std::unique_ptr<RepeatingTimer> timer_;
    // Whether the page still polls, shared with the poll that waits for the bus.
    std::shared_ptr<std::atomic<bool>> polling_ = std::make_shared<std::atomic<bool>>(false);
    ServoImage image_;  // as the last job handed it back
    int modelNumber_ = 0;
    int pollFailures_ = 0;
    bool wheel_ = false;
    std::array<SliderWrites, kSliderKinds> sliders_;
};

}  // namespace mvx::gui
