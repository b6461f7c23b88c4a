#include "gui/pages/NetworkPage.h"

#include "gui/app/ManagerApp.h"
#include "gui/sheet/DeviceSheet.h"

namespace mvx::gui {

NetworkPage::NetworkPage(DeviceSheet& sheet) : DevicePage(sheet, QStringLiteral("Network")) {}

bool NetworkPage::activate() {
    if (sheet().rebuilding() != 0) {
        return true;
    }
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr) {
        return false;
    }
    return !app().shell().reportBusFailure(entry->readIdentity());
}

}  // namespace mvx::gui
