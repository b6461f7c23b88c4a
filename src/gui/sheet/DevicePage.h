// A page of the device property sheet. The sheet creates its pages anew for every device it
// shows, activates one of them, and tells a page when it stops being the active one. A page
// works on the device the sheet showed when it made the page, and reaches it only through bus
// jobs (ManagerApp::jobs), whose results it shows when they come back; a page that the sheet
// has retired (it is being replaced) or deactivated meanwhile drops them.
#pragma once

#include <QWidget>

#include <functional>
#include <utility>

#include "device/DeviceEntry.h"
#include "gui/app/BusJobs.h"
#include "gui/app/ManagerApp.h"

namespace mvx::gui {

class DeviceSheet;

struct RecordRead;

class DevicePage : public QWidget {
    Q_OBJECT

public:
    DevicePage(DeviceSheet& sheet, const QString& title);

    const QString& title() const { return title_; }

    // Told once the page has loaded its device (true) or refused to show it (false: the device
    // is missing or could not be read, a read failure reported by then).
    using Activated = std::function<void(bool accepted)>;
    // The page becomes the visible page: loads the sheet's current device and tells `activated`
    // (at once or when the load's result is in).
    virtual void activate(Activated activated) { activated(true); }
    // The page stops being the visible page: results of its activation still on their way are
    // dropped.
    virtual void deactivate() { ++activation_; }
    // The sheet is replacing this page: from now on every result for it is dropped.
    void retire();
    bool retired() const { return retired_; }

protected:
    DeviceSheet& sheet() { return sheet_; }
    ManagerApp& app();
    // The device the page works on.
    int code() const { return code_; }
    int id() const { return id_; }

    // Runs `work` on the bus (see BusJobs::command); `done` runs unless the page has been
    // retired by then. A retired page submits nothing.
    template <typename Work, typename Done>
    void runJob(Work work, Done done, BusJobs::Busy busy = BusJobs::LeaveBusy) {
        if (retired_) {
            return;
        }
        app().jobs().command(
            this, std::move(work),
            [this, done = std::move(done)](const auto& result) {
                if (!retired_) {
                    done(result);
                }
            },
            busy);
    }
    // The same for an activation's load: `done` runs only if the page is still the active one
    // of that activation.
    template <typename Work, typename Done>
    void runActivationJob(Work work, Done done) {
        const unsigned activation = ++activation_;
        runJob(std::move(work), [this, activation, done = std::move(done)](const auto& result) {
            if (activation == activation_) {
                done(result);
            }
        });
    }

    // An activation that loads `kind` into the device's record: a device gone (the GUI's list
    // forgets one no longer registered) or a failure the common reaction handled refuses the
    // page; otherwise `show` gets the read and the page is accepted.
    void activateWithRecord(int kind, Activated activated,
                            std::function<void(const RecordRead&)> show);

    // The common reaction to a failed operation of this page's device; true when it reacted.
    bool report(int result);
    // A job found the device without its record, or not registered at all (a refresh dropped
    // it, the connection closed; the GUI's list then forgets it too): the sheet shows its pair
    // again, which lands on its fallback page. The caller writes nothing more.
    void showFallback(bool registered);

private:
    DeviceSheet& sheet_;
    QString title_;
    int code_;
    int id_;
    unsigned activation_ = 0;
    bool retired_ = false;
};

// A device's servo record image as a job found it: `found` false when the device was not
// registered or had no record.
struct RecordRead {
    bool registered = false;
    bool found = false;
    int result = 0;
    ServoImage image;
    int modelNumber = 0;
};

// Inside a job: loads `kind` into the record of (code, id), once more when the first read timed
// out or came back corrupt, and reads the image.
RecordRead loadRecord(DeviceRegistry& registry, int code, int id, int kind);
// Inside a job: runs `operation` (int(ServoRecord&), a result code) on the record of (code, id)
// and reads the image.
template <typename Operation>
RecordRead onRecord(DeviceRegistry& registry, int code, int id, Operation operation);

template <typename Operation>
RecordRead onRecord(DeviceRegistry& registry, int code, int id, Operation operation) {
    RecordRead read;
    DeviceEntry* entry = registry.find(code, id);
    read.registered = entry != nullptr;
    if (entry == nullptr || entry->servoRecord() == nullptr) {
        return read;
    }
    read.found = true;
    read.result = operation(*entry->servoRecord());
    read.image = entry->servoRecord()->image();
    read.modelNumber = entry->modelNumber();
    return read;
}

}  // namespace mvx::gui
