// "Configure": an actuator's operating mode, limits and alarm conditions.
#pragma once

#include "gui/sheet/DevicePage.h"

namespace mvx::gui {

class ConfigurePage : public DevicePage {
    Q_OBJECT

public:
    explicit ConfigurePage(DeviceSheet& sheet);

    // Reads the limit registers of the record (once more after a timeout or a corrupt reply).
    bool activate() override;
};

}  // namespace mvx::gui
