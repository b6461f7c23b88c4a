// "Operation": drives an actuator by hand and shows its live state.
#pragma once

#include "gui/sheet/DevicePage.h"

namespace mvx::gui {

class OperationPage : public DevicePage {
    Q_OBJECT

public:
    explicit OperationPage(DeviceSheet& sheet);

    // Reads every register of the record (once more after a timeout or a corrupt reply).
    bool activate() override;
};

}  // namespace mvx::gui
