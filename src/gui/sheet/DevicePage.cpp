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

void DevicePage::retire() {
    deactivate();
    retired_ = true;
    setEnabled(false);
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
