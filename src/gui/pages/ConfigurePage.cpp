#include "gui/pages/ConfigurePage.h"

#include "gui/app/ManagerApp.h"
#include "gui/pages/RecordLoad.h"
#include "gui/sheet/DeviceSheet.h"

namespace mvx::gui {

ConfigurePage::ConfigurePage(DeviceSheet& sheet) : DevicePage(sheet, QStringLiteral("Configure")) {}

bool ConfigurePage::activate() {
    if (sheet().rebuilding() != 0) {
        return true;
    }
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr || entry->servoRecord() == nullptr) {
        return false;
    }
    const int result = loadWithRetry(*entry->servoRecord(), LoadLimits);
    return !app().shell().reportBusFailure(result);
}

}  // namespace mvx::gui
