// "No Information": the page shown when no device is selected. It reads and writes nothing.
#pragma once

#include <memory>

#include "gui/sheet/DevicePage.h"

namespace Ui {
class NoSelectionPage;
}

namespace mvx::gui {

class NoSelectionPage : public DevicePage {
    Q_OBJECT

public:
    explicit NoSelectionPage(DeviceSheet& sheet);
    ~NoSelectionPage() override;

private:
    std::unique_ptr<Ui::NoSelectionPage> ui_;
};

}  // namespace mvx::gui
