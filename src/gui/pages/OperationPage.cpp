#include "gui/pages/OperationPage.h"

#include "device/ServoRecord.h"

namespace mvx::gui {

OperationPage::OperationPage(DeviceSheet& sheet) : DevicePage(sheet, QStringLiteral("Operation")) {}

bool OperationPage::activate() {
    return activateWithRecordLoad(LoadAll);
}

}  // namespace mvx::gui
