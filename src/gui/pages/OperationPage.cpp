#include "gui/pages/OperationPage.h"

#include "gui/app/ManagerApp.h"
#include "gui/pages/RecordLoad.h"
#include "gui/sheet/DeviceSheet.h"

namespace mvx::gui {

OperationPage::OperationPage(DeviceSheet& sheet) : DevicePage(sheet, QStringLiteral("Operation")) {}

bool OperationPage::activate() {
    if (sheet().rebuilding() != 0) {
        return true;
    }
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr || entry->servoRecord() == nullptr) {
        return false;
    }
    const int result = loadWithRetry(*entry->servoRecord(), LoadAll);
    return !app().shell().reportBusFailure(result);
}

}  // namespace mvx::gui
