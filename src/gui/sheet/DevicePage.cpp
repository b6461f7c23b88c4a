#include "gui/sheet/DevicePage.h"

#include "gui/pages/RecordLoad.h"
#include "gui/sheet/DeviceSheet.h"

namespace mvx::gui {

DevicePage::DevicePage(DeviceSheet& sheet, const QString& title)
    : QWidget(nullptr),
      sheet_(sheet),
      title_(title),
      code_(sheet.currentBaud()),
      id_(sheet.currentId()) {
    // A click on the page's background takes the keyboard focus.
    setFocusPolicy(Qt::ClickFocus);
}

ManagerApp& DevicePage::app() {
    return sheet_.app();
}

WriteTarget::WriteTarget(DevicePage& page)
    : app_(&page.app()), sheet_(&page.sheet()), page_(&page), code_(page.code()), id_(page.id()) {}

bool WriteTarget::report(int result) const {
    return app_->shell().reportDeviceFailure(result, code_, id_);
}

void WriteTarget::fallBack(bool registered) const {
    if (DevicePage* shown = page<DevicePage>()) {
        shown->showFallback(registered);
    } else if (!registered) {
        app_->forgetDevice(code_, id_);
    }
}

void WriteTarget::refreshList(int code, int id) const {
    const bool userOnIt =
        page<DevicePage>() != nullptr ||
        (sheet_ != nullptr && sheet_->currentBaud() == code_ && sheet_->currentId() == id_);
    if (userOnIt || sheet_ == nullptr) {
        app_->shell().refreshDeviceList(code, id);
    } else {
        app_->shell().refreshDeviceList(sheet_->currentBaud(), sheet_->currentId());
    }
}

QWidget* WriteTarget::parentWidget() const {
    if (DevicePage* shown = page<DevicePage>()) {
        return shown;
    }
    return sheet_.data();
}

void DevicePage::retire() {
    deactivate();
    retired_ = true;
    setEnabled(false);
}

void DevicePage::activateWithRecord(int kind, Activated activated,
                                    std::function<void(const RecordRead&)> show) {
    DeviceRegistry& registry = app().registry();
    const int code = code_;
    const int id = id_;
    runActivationJob(
        [&registry, code, id, kind] { return loadRecord(registry, code, id, kind); },
        [this, activated = std::move(activated), show = std::move(show)](const RecordRead& read) {
            if (!read.found) {
                if (!read.registered) {
                    app().forgetDevice(code_, id_);
                }
                activated(false);
                return;
            }
            if (report(read.result)) {
                activated(false);
                return;
            }
            show(read);
            activated(true);
        });
}

bool DevicePage::report(int result) {
    return app().shell().reportDeviceFailure(result, code_, id_);
}

void DevicePage::showFallback(bool registered) {
    if (!registered) {
        app().forgetDevice(code_, id_);
    }
    DeviceSheet* sheet = &sheet_;
    QMetaObject::invokeMethod(
        sheet, [sheet] { sheet->showDevice(sheet->currentBaud(), sheet->currentId()); },
        Qt::QueuedConnection);
}

RecordRead loadRecord(DeviceRegistry& registry, int code, int id, int kind) {
    return onRecord(registry, code, id,
                    [kind](ServoRecord& record) { return loadWithRetry(record, kind); });
}

}  // namespace mvx::gui
