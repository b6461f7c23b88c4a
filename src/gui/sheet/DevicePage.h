// A page of the device property sheet. The sheet creates its pages anew for every device it
// shows, activates one of them, and tells a page when it stops being the active one.
#pragma once

#include <QWidget>

namespace mvx {
class DeviceEntry;
}

namespace mvx::gui {

class DeviceSheet;
class ManagerApp;

class DevicePage : public QWidget {
    Q_OBJECT

public:
    DevicePage(DeviceSheet& sheet, const QString& title);

    const QString& title() const { return title_; }

    // The page becomes the visible page: loads the sheet's current device. False refuses the
    // activation (the device is missing or could not be read; a read failure has been
    // reported by then, which may already have rebuilt the sheet).
    virtual bool activate() { return true; }
    // The page stops being the visible page.
    virtual void deactivate() {}

protected:
    DeviceSheet& sheet() { return sheet_; }
    ManagerApp& app();
    // The sheet's current device, or null when it is not (or no longer) registered.
    DeviceEntry* currentEntry();
    // The activation of a page that shows an actuator's record: nothing while the sheet
    // rebuilds; refused without a device or record; otherwise loads `kind` (once more after a
    // timeout or a corrupt reply) and refuses when the failure was reported.
    bool activateWithRecordLoad(int kind);
    // The sheet's device is no longer registered (a refresh dropped it, the connection
    // closed): the sheet shows its pair again, which lands on its fallback page, once control
    // is back in the event loop. The caller writes nothing more.
    void showFallback();

private:
    DeviceSheet& sheet_;
    QString title_;
};

}  // namespace mvx::gui
