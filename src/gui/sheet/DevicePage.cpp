#include "gui/sheet/DevicePage.h"

#include "gui/app/ManagerApp.h"
#include "gui/sheet/DeviceSheet.h"

namespace mvx::gui {

DevicePage::DevicePage(DeviceSheet& sheet, const QString& title)
    : QWidget(nullptr), sheet_(sheet), title_(title) {}

ManagerApp& DevicePage::app() {
    return sheet_.app();
}

DeviceEntry* DevicePage::currentEntry() {
    return app().registry().find(sheet_.currentBaud(), sheet_.currentId());
}

}  // namespace mvx::gui
