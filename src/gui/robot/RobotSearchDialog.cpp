#include "gui/robot/RobotSearchDialog.h"

#include "gui/app/GuiOperations.h"
#include "gui/app/ManagerApp.h"
#include "ui_RobotSearchDialog.h"

namespace mvx::gui {

RobotSearchDialog::RobotSearchDialog(ManagerApp& app, const std::vector<int>& codes,
                                     QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::RobotSearchDialog>()) {
    ui_->setupUi(this);
    connect(ui_->stopButton, &QPushButton::clicked, this, &RobotSearchDialog::reject);
    DeviceRegistry& registry = app.registry();
    app.jobs().command(
        this,
        [&registry, codes, progress = progress_] {
            return surveyOnBus(registry, codes, {}, progress);
        },
        [this](const Surveyed& surveyed) {
            searching_ = false;
            surveyed_ = surveyed;
            timer_.reset();
            ui_->progressBar->setValue(100);
            accept();
        });
    timer_ = app.operations().startTimer(
        this, kProgressTickMs, [this] { ui_->progressBar->setValue(progress_->percent); });
}

RobotSearchDialog::~RobotSearchDialog() {
    // Gone before its result: the search ends at its next step, and its result is dropped.
    progress_->stop = true;
}

void RobotSearchDialog::reject() {
    // The dialog ends when the search's result is in.
    progress_->stop = true;
    ui_->stopButton->setEnabled(false);
}

}  // namespace mvx::gui
