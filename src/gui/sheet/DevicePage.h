// A page of the device property sheet. The sheet creates its pages anew for every device it
// shows, activates one of them, and tells a page when it stops being the active one. A page
// works on the device the sheet showed when it made the page, and reaches it only through bus
// jobs (ManagerApp::jobs), whose results it shows when they come back.
//
// Reads (an activation's load) belong to the page: a page that the sheet has retired (it is
// being replaced) or deactivated meanwhile drops them. Writes belong to the device they were
// for: their results come back through a WriteTarget, which reports a failure against that
// device, updates the device list and goes on with a write's next step even when the user has
// selected another device meanwhile (or a refresh has replaced the page); only the page's own
// controls are left alone then.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <utility>

#include "device/DeviceEntry.h"
#include "gui/app/BusJobs.h"
#include "gui/app/ManagerApp.h"
#include "protocol/ResultCode.h"

namespace mvx::gui {

class DeviceSheet;
class DevicePage;

struct RecordRead;

// Where a page write's result goes: the device it was for (its address when the write was
// submitted), and the page that asked while it still shows that device. A plain value, valid
// on the GUI thread for as long as the sheet lives.
class WriteTarget {
public:
    explicit WriteTarget(DevicePage& page);

    ManagerApp& app() const { return *app_; }
    int code() const { return code_; }
    int id() const { return id_; }
    // The page that asked, while it lives and has not been retired; null otherwise. Asked
    // again after every report, which may retire it.
    template <typename Page>
    Page* page() const;
    // The common reaction to a failed operation of the device; true when it reacted.
    bool report(int result) const;
    // The job found the device without its record, or not registered at all: the GUI's list
    // forgets an unregistered one, and the page, while it still shows it, gives way to the
    // sheet's fallback.
    void fallBack(bool registered) const;
    // Rebuilds the device list after the device has moved to (code, id): the tree selects it
    // there while the user is still on it, and keeps the user's own selection otherwise.
    void refreshList(int code, int id) const;
    // A parent for a question about the write: the page, or the sheet once the page is gone.
    QWidget* parentWidget() const;
    // Runs `work` as a write to this device (busBusy raised from here to its result), bound
    // to the sheet; `done(target, result)` runs with its result.
    template <typename Work, typename Done>
    void run(Work work, Done done) const;

private:
    ManagerApp* app_;
    QPointer<DeviceSheet> sheet_;
    QPointer<DevicePage> page_;
    int code_;
    int id_;
};

class DevicePage : public QWidget {
    Q_OBJECT
    friend class WriteTarget;

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
    // Runs `work` as a page write (busBusy raised from here to its result): `done(target,
    // result)` runs with the result whether or not the page is still there (see WriteTarget).
    // The job is bound to the sheet, so its result is delivered as long as the window lives.
    template <typename Work, typename Done>
    void runWrite(Work work, Done done);
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

template <typename Page>
Page* WriteTarget::page() const {
    DevicePage* page = page_.data();
    return page != nullptr && !page->retired() ? static_cast<Page*>(page) : nullptr;
}

template <typename Work, typename Done>
void WriteTarget::run(Work work, Done done) const {
    app_->jobs().command(
        sheet_.data(), std::move(work),
        [target = *this, done = std::move(done)](const auto& result) { done(target, result); },
        BusJobs::RaiseBusy);
}

template <typename Work, typename Done>
void DevicePage::runWrite(Work work, Done done) {
    if (!retired_) {
        WriteTarget(*this).run(std::move(work), std::move(done));
    }
}

// A device's servo record image as a job found it: `found` false when the device was not
// registered or had no record.
struct RecordRead {
    bool registered = false;
    bool found = false;
    int result = 0;
    ServoImage image;
    int modelNumber = 0;

    // A job that threw: the device is taken as there, its operation as failed with the adapter.
    static RecordRead jobFailed() {
        RecordRead failed;
        failed.registered = true;
        failed.found = true;
        failed.result = AdapterFailure;
        return failed;
    }
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
