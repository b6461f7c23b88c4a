#include "gui/dialogs/SearchDialog.h"

#include <atomic>
#include <utility>

#include "gui/app/GuiOperations.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/app/ToolTipWidth.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"
#include "ui_SearchDialog.h"

namespace mvx::gui {

namespace {

// A search's end: its result, the codes it left unsure (a stop), and the devices it left in the
// registry.
struct Searched {
    int result = 0;
    std::vector<int> unsureCodes;
    std::vector<DeviceSummary> devices;
};

}  // namespace

// The fast search's making-sure step, handed from the bus thread to the dialog's tick as one
// word (ordinal and total together): 0 while the search is not making sure of a code.
class SureProgress : public SearchObserver {
public:
    void deviceFound(const DeviceSummary&) override {}
    void makingSure(int, int ordinal, int total) override {
        step_.store((ordinal << 16) | (total & 0xFFFF));
    }
    // The ordinal and total of the code being made sure of, or {0, 0}.
    std::pair<int, int> step() const {
        const int step = step_.load();
        return {step >> 16, step & 0xFFFF};
    }

private:
    std::atomic<int> step_{0};
};

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
    ui_->sureLabel->hide();
    unsureCodes_.clear();
    setIdleControls(false);
    lastShownCount_ = 0;

    const int mode = ui_->quickOption->isChecked() ? QuickSearch : FullSearch;
    const bool fast = ui_->fastOption->isChecked();
    DeviceRegistry& registry = app_.registry();
    searching_ = true;
    sureProgress_ = std::make_shared<SureProgress>();
    // A fast search may be ended with OK: it keeps what was found, marked unsure.
    ui_->okButton->setEnabled(fast);
    app_.jobs().command(
        this,
        [&registry, mode, fast, progress = sureProgress_] {
            SearchEngine engine(registry);
            Searched searched;
            FastSearchOptions options;
            options.observer = progress.get();
            searched.result = fast ? engine.fastSearch(mode, options) : engine.search(mode);
            searched.unsureCodes = engine.unsureCodes();
            searched.devices = registry.snapshot();
            return searched;
        },
        [this](const Searched& searched) {
            found_ = searched.devices;
            onSearchEnded(searched.result, searched.unsureCodes);
        });
    timer_ = app_.operations().startTimer(this, kProgressTickMs, [this] { onTick(); });
    searched_ = true;
}

void SearchDialog::onTick() {
    DeviceRegistry& registry = app_.registry();
    const int progress = registry.searchProgress.load();
    ui_->progressBar->setValue(progress);
    if (searching_ && sureProgress_) {
        const auto [ordinal, total] = sureProgress_->step();
        ui_->sureLabel->setVisible(ordinal > 0);
        if (ordinal > 0) {
            ui_->sureLabel->setText(texts::makingSure(ordinal, total));
        }
    }
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

void SearchDialog::onSearchEnded(int result, const std::vector<int>& unsureCodes) {
    searching_ = false;
    ui_->sureLabel->hide();
    if (result == AdapterFailure) {
        if (timer_) {
            timer_->stop();
        }
        app_.operations().message(this, texts::kAdapterAccessFailed);
        QDialog::reject();
        app_.shell().runCommand(Command::Close);
        return;
    }
    unsureCodes_ = unsureCodes;
    ui_->unsureLabel->setVisible(!unsureCodes_.empty());
    setIdleControls(true);
    if (closeWhenEnded_) {
        reject();
    }
}

void SearchDialog::onOk() {
    if (searching_) {
        // Keeps what the search found so far: it stops, and the dialog ends with OK once its
        // result is in.
        reject();
        return;
    }
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
