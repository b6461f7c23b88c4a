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

// A search's end: its result, whether it left codes unsure (a stop), and the devices it left in
// the registry.
struct Searched {
    int result = 0;
    bool unsure = false;
    std::vector<DeviceSummary> devices;
};

}  // namespace

SearchDialog::SearchDialog(ManagerApp& app, QWidget* parent)
    : QDialog(parent), app_(app), ui_(std::make_unique<Ui::SearchDialog>()) {
    ui_->setupUi(this);
    new ToolTipWidth(*this, 500);
    ui_->deviceTree->setUp(DeviceTree::Display);
    ui_->countLabel->setText(texts::foundCount(0));
    connect(ui_->searchButton, &QPushButton::clicked, this, &SearchDialog::onSearch);
    connect(ui_->stopButton, &QPushButton::clicked, this, &SearchDialog::onStop);
    connect(ui_->okButton, &QPushButton::clicked, this, &SearchDialog::onOk);
}

SearchDialog::~SearchDialog() {
    if (searching_) {
        // Gone before its result: the search ends at its next step, and its result is dropped.
        app_.registry().stopSearch();
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
    if (searching_) {
        return;
    }
    // The search empties the registry as it starts.
    found_.clear();
    ui_->deviceTree->rebuildTree(found_, -1, -1);
    ui_->countLabel->setText(texts::foundCount(0));
    ui_->unsureLabel->hide();
    setIdleControls(false);
    lastShownCount_ = 0;

    const int mode = ui_->quickOption->isChecked() ? QuickSearch : FullSearch;
    const bool fast = ui_->fastOption->isChecked();
    DeviceRegistry& registry = app_.registry();
    searching_ = true;
    app_.jobs().command(
        this,
        [&registry, mode, fast] {
            SearchEngine engine(registry);
            Searched searched;
            searched.result = fast ? engine.fastSearch(mode) : engine.search(mode);
            searched.unsure = !engine.lastSearchSure();
            searched.devices = registry.snapshot();
            return searched;
        },
        [this](const Searched& searched) {
            found_ = searched.devices;
            onSearchEnded(searched.result, searched.unsure);
        });
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
    // While the search runs, its locked snapshot of the list it fills; then what it found.
    const std::vector<DeviceSummary> devices = searching_ ? registry.snapshot() : found_;
    const int count = static_cast<int>(devices.size());
    if (count > lastShownCount_) {
        ui_->countLabel->setText(texts::foundCountPadded(count));
        ui_->deviceTree->rebuildTree(devices, -1, -1);
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

void SearchDialog::onSearchEnded(int result, bool unsure) {
    searching_ = false;
    if (result == AdapterFailure) {
        if (timer_) {
            timer_->stop();
        }
        app_.operations().message(this, texts::kAdapterAccessFailed);
        QDialog::reject();
        app_.shell().runCommand(Command::Close);
        return;
    }
    ui_->unsureLabel->setVisible(unsure);
    setIdleControls(true);
    if (closeWhenEnded_) {
        reject();
    }
}

void SearchDialog::onOk() {
    if (searched_) {
        accept();
    } else {
        QDialog::reject();
    }
}

void SearchDialog::reject() {
    // Escape or the close box: a running search is stopped, and the dialog ends once its
    // result is in.
    if (searching_) {
        if (timer_) {
            timer_->stop();
        }
        app_.registry().stopSearch();
        ui_->stopButton->setEnabled(false);
        closeWhenEnded_ = true;
        return;
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
