#include "gui/dialogs/SearchDialog.h"

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/app/ToolTipWidth.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"
#include "ui_SearchDialog.h"

namespace mvx::gui {

namespace {

constexpr int kTickMs = 300;

}  // namespace

SearchDialog::SearchDialog(ManagerApp& app, QWidget* parent)
    : QDialog(parent), app_(app), ui_(std::make_unique<Ui::SearchDialog>()) {
    ui_->setupUi(this);
    new ToolTipWidth(*this, 500);
    ui_->deviceTree->setUp(DeviceTree::Display, app_.registry());
    ui_->countLabel->setText(texts::foundCount(0));
    connect(ui_->searchButton, &QPushButton::clicked, this, &SearchDialog::onSearch);
    connect(ui_->stopButton, &QPushButton::clicked, this, &SearchDialog::onStop);
    connect(ui_->okButton, &QPushButton::clicked, this, &SearchDialog::onOk);
}

SearchDialog::~SearchDialog() {
    if (worker_) {
        app_.registry().stopSearch();
        worker_->join();
    }
}

void SearchDialog::setIdleControls(bool idle) {
    ui_->searchButton->setEnabled(idle);
    ui_->stopButton->setEnabled(!idle);
    ui_->okButton->setEnabled(idle);
    ui_->quickOption->setEnabled(idle);
    ui_->fullOption->setEnabled(idle);
    ui_->fastOption->setEnabled(idle);
}

void SearchDialog::onSearch() {
    if (worker_) {
        return;
    }
    DeviceRegistry& registry = app_.registry();
    registry.clear();
    ui_->deviceTree->rebuildTree(-1, -1);
    ui_->countLabel->setText(texts::foundCount(0));
    ui_->lateLabel->hide();
    setIdleControls(false);
    lastShownCount_ = 0;

    const int mode = ui_->quickOption->isChecked() ? QuickSearch : FullSearch;
    const bool fast = ui_->fastOption->isChecked();
    worker_ = app_.operations().startWorker(
        [this, mode, fast, &registry] {
            SearchEngine engine(registry);
            result_ = fast ? engine.fastSearch(mode) : engine.search(mode);
            lateAnswers_ = engine.lateAnswersSeen();
        },
        this, [this] { onSearchEnded(); });
    timer_ = app_.operations().startTimer(this, kTickMs, [this] { onTick(); });
    searched_ = true;
}

void SearchDialog::onTick() {
    DeviceRegistry& registry = app_.registry();
    const int progress = registry.searchProgress.load();
    ui_->progressBar->setValue(progress);
    if (progress == 100 && timer_) {
        timer_->stop();
    }
    const int count = registry.deviceCount();
    if (count > lastShownCount_) {
        ui_->countLabel->setText(texts::foundCountPadded(count));
        ui_->deviceTree->rebuildTree(-1, -1);
        lastShownCount_ = count;
    }
}

void SearchDialog::onStop() {
    if (timer_) {
        timer_->stop();
    }
    app_.registry().stopSearch();
    ui_->stopButton->setEnabled(false);
}

bool SearchDialog::onSearchEnded() {
    if (!worker_) {
        return true;  // already handled when the dialog was closed
    }
    worker_->join();
    worker_.reset();
    if (result_.load() == AdapterFailure) {
        if (timer_) {
            timer_->stop();
        }
        app_.operations().message(this, texts::kAdapterAccessFailed);
        QDialog::reject();
        app_.shell().runCommand(Command::Close);
        return false;
    }
    ui_->lateLabel->setVisible(lateAnswers_.load());
    setIdleControls(true);
    return true;
}

void SearchDialog::onOk() {
    if (searched_) {
        accept();
    } else {
        QDialog::reject();
    }
}

void SearchDialog::reject() {
    // Escape or the close box: a running search is stopped and its worker joined first.
    if (worker_) {
        if (timer_) {
            timer_->stop();
        }
        app_.registry().stopSearch();
        if (!onSearchEnded()) {
            return;
        }
    }
    // A search has cleared the registry and filled it anew: however the dialog is left, it
    // ends with OK so that the main view shows the registry as it is now.
    if (searched_) {
        accept();
        return;
    }
    QDialog::reject();
}

}  // namespace mvx::gui
