#include "gui/sheet/NoSelectionPage.h"

#include "ui_NoSelectionPage.h"

namespace mvx::gui {

NoSelectionPage::NoSelectionPage(DeviceSheet& sheet)
    : DevicePage(sheet, QStringLiteral("No Information")),
      ui_(std::make_unique<Ui::NoSelectionPage>()) {
    ui_->setupUi(this);
}

NoSelectionPage::~NoSelectionPage() = default;

}  // namespace mvx::gui
