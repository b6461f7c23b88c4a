#include "gui/pages/ConfigurePage.h"

#include "device/ServoRecord.h"

namespace mvx::gui {

ConfigurePage::ConfigurePage(DeviceSheet& sheet) : DevicePage(sheet, QStringLiteral("Configure")) {}

bool ConfigurePage::activate() {
    return activateWithRecordLoad(LoadLimits);
}

}  // namespace mvx::gui
