#include "gui/dialogs/PortDialog.h"

#include <string>

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/app/ToolTipWidth.h"
#include "ui_PortDialog.h"

namespace mvx::gui {

PortDialog::PortDialog(ManagerApp& app, QWidget* parent)
    : QDialog(parent), app_(app), ui_(std::make_unique<Ui::PortDialog>()) {
    ui_->setupUi(this);
    new ToolTipWidth(*this, 500);
    connect(ui_->okButton, &QPushButton::clicked, this, &PortDialog::onOk);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

PortDialog::~PortDialog() = default;

int PortDialog::run() {
    BusConnection& bus = app_.bus();
    const int count = bus.adapterCount();
    if (count == 0) {
        app_.operations().message(parentWidget(), texts::kAdapterNotFound);
        return Rejected;
    }
    if (count == 1) {
        if (!bus.open(0)) {
            app_.operations().message(parentWidget(), texts::kAdapterAccessFailed);
        }
        return Rejected;
    }
    fillList(count);  // a failed listing (-1) gives an empty list
    return app_.operations().runDialog(*this);
}

void PortDialog::fillList(int count) {
    ui_->portList->clear();
    for (int index = 0; index < count; ++index) {
        QString line = texts::kUnknownDeviceName;
        std::string name;
        if (app_.bus().adapterName(static_cast<std::uint32_t>(index), name)) {
            line = QString::fromStdString(name);
        }
        ui_->portList->addItem(line);
    }
    ui_->portList->setCurrentIndex(ui_->portList->count() > 0 ? 0 : -1);
}

void PortDialog::onOk() {
    const int index = ui_->portList->currentIndex();
    if (index < 0) {
        return;
    }
    if (app_.bus().open(static_cast<std::uint32_t>(index))) {
        accept();
        return;
    }
    app_.operations().message(this, texts::kAdapterAccessFailed);
    const int count = app_.bus().adapterCount();
    if (count == 0) {
        app_.operations().message(this, texts::kAdapterNotFound);
    }
    fillList(count);
}

}  // namespace mvx::gui
