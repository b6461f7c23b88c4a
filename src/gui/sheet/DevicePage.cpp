#include "gui/sheet/DevicePage.h"

#include "gui/app/ManagerApp.h"
#include "gui/pages/RecordLoad.h"
#include "gui/sheet/DeviceSheet.h"

namespace mvx::gui {

DevicePage::DevicePage(DeviceSheet& sheet, const QString& title)
    : QWidget(nullptr), sheet_(sheet), title_(title) {
    // A click on the page's background takes the keyboard focus.
    setFocusPolicy(Qt::ClickFocus);
}

ManagerApp& DevicePage::app() {
    return sheet_.app();
}

DeviceEntry* DevicePage::currentEntry() {
    return app().registry().find(sheet_.currentBaud(), sheet_.currentId());
}

void DevicePage::showFallback() {
    DeviceSheet* sheet = &sheet_;
    QMetaObject::invokeMethod(
        sheet, [sheet] { sheet->showDevice(sheet->currentBaud(), sheet->currentId()); },
        Qt::QueuedConnection);
}

bool DevicePage::activateWithRecordLoad(int kind) {
    if (sheet_.rebuilding() != 0) {
        return true;
    }
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr || entry->servoRecord() == nullptr) {
        return false;
    }
    return !app().shell().reportBusFailure(loadWithRetry(*entry->servoRecord(), kind));
}

}  // namespace mvx::gui
