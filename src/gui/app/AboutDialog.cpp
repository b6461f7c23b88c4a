#include "gui/app/AboutDialog.h"

#include "gui/app/Texts.h"
#include "gui/tree/DeviceIcons.h"
#include "ui_AboutDialog.h"

namespace mvx::gui {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AboutDialog>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_->iconLabel->setPixmap(applicationIcon().pixmap(48, 48));
    ui_->versionLabel->setText(texts::kVersionText);
}

AboutDialog::~AboutDialog() = default;

}  // namespace mvx::gui
