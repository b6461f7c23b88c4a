// "Network": a device's ID, baud rate, status return level and return delay time.
#pragma once

#include "gui/sheet/DevicePage.h"

namespace mvx::gui {

class NetworkPage : public DevicePage {
    Q_OBJECT

public:
    explicit NetworkPage(DeviceSheet& sheet);

    // Reads the device's identity again.
    bool activate() override;
};

}  // namespace mvx::gui
