// "Configure": an actuator's operating mode, angle, voltage and temperature limits, max torque
// and the error conditions that light the alarm LED or shut the output down. Changes are
// collected on the page and written together by Apply; Set Default writes the factory values
// at once. The page reads the controls from the record at each activation and writes through
// the record, each as one bus job (a page write: its failure is reported against the device it
// wrote even when the user has moved on); it keeps the image the last job handed back. While
// Apply or Set Default is on the bus the page is disabled.
#pragma once

#include <array>
#include <map>
#include <memory>

#include "device/ServoRecord.h"
#include "gui/sheet/DevicePage.h"

class QCheckBox;
class QSlider;

namespace Ui {
class ConfigurePage;
}

namespace mvx::gui {

class ConfigurePage : public DevicePage {
    Q_OBJECT

public:
    explicit ConfigurePage(DeviceSheet& sheet);
    ~ConfigurePage() override;

    // Reads the limit registers of the record (once more after a timeout or a corrupt reply)
    // and shows them; "Apply" is disabled afterwards.
    void activate(Activated activated) override;

protected:
    // Mouse releases on the sliders: the pair adjustment and "Apply".
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooseJoint();
    void chooseWheel();
    // The user let go of `slider` with the mouse.
    void sliderReleased(QSlider* slider);
    void apply();
    void setDefaults();
    // The controls from the image (as an activation shows it).
    void showImage();
    // What Apply's and Set Default's job found: whether the device was there to write to, the
    // result that ended the writes (100 when they went through), then the re-read of the
    // limits when they did.
    struct Written {
        bool gone = false;
        bool registered = true;
        int result = 100;
        RecordRead reread;
    };
    // Their results: a failure reported against the device written, or the re-read limits
    // shown while the page still shows that device.
    static void showWritten(const WriteTarget& target, const Written& written);
    // Value labels from their sliders' current values.
    void updateLabels();
    // Whether Apply writes the setting of `slider`: not while it still shows the value its
    // range forced on it at activation, in place of a device value it could not show.
    bool applies(const QSlider* slider) const;

    std::array<QCheckBox*, 7> alarmLedBoxes() const;
    std::array<QCheckBox*, 7> shutdownBoxes() const;

    std::unique_ptr<Ui::ConfigurePage> ui_;
    ServoImage image_;  // as the last job handed it back
    // The sliders whose range did not hold the device's value at the last activation, each
    // with the value it showed instead.
    std::map<const QSlider*, int> clampedAt_;
};

}  // namespace mvx::gui
