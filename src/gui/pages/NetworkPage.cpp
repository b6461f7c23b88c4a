#include "gui/pages/NetworkPage.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/ToolTipWidth.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "ui_NetworkPage.h"

namespace mvx::gui {

namespace {

constexpr int kIdCount = 254;     // IDs 0 to 253; 254 is the broadcast ID
constexpr int kDelayCount = 255;  // register values 0 to 254, 2 us each

const QString kLevelZeroWarning = QStringLiteral(
    "Warning! Setting 'Status Return Level' to 0, will disable getting any movantrix "
    "information.\n\nContinue?");
const QString kAddressTaken = QStringLiteral(
    "Existing ID in the same baudrate found.\n\nPlease, choose another ID or baudrate.");

// Sets a flag for its lifetime.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

}  // namespace

NetworkPage::NetworkPage(DeviceSheet& sheet)
    : DevicePage(sheet, QStringLiteral("Network")), ui_(std::make_unique<Ui::NetworkPage>()) {
    ui_->setupUi(this);
    new ToolTipWidth(*this, 500);

    const FlagScope selecting(selecting_);
    ui_->levelCombo->addItems({QStringLiteral("0 (No return)"), QStringLiteral("1 (Only read)"),
                               QStringLiteral("2 (All return)")});
    for (int i = 0; i < kDelayCount; ++i) {
        ui_->delayCombo->addItem(QStringLiteral("%1 (%2usec)").arg(i).arg(2 * i));
    }
    // Nothing is selected until the device's own settings are read: a page that never gets
    // them (the adapter lost meanwhile) shows no setting rather than the first one.
    ui_->levelCombo->setCurrentIndex(-1);
    ui_->delayCombo->setCurrentIndex(-1);

    for (QComboBox* list : {ui_->idCombo, ui_->baudCombo, ui_->levelCombo, ui_->delayCombo}) {
        connect(list, &QComboBox::currentIndexChanged, this, &NetworkPage::onSelectionChanged);
    }
    connect(ui_->applyButton, &QPushButton::clicked, this, &NetworkPage::apply);
}

NetworkPage::~NetworkPage() = default;

std::vector<int> NetworkPage::baudChoices(int code) {
    std::vector<int> common(kQuickSearchCodes.begin(), kQuickSearchCodes.end());
    std::sort(common.begin(), common.end());
    std::vector<int> choices;
    int previous = -1;  // a code below the first common one is listed first, too
    for (int commonCode : common) {
        if (code > previous && code < commonCode) {
            choices.push_back(code);
        }
        choices.push_back(commonCode);
        previous = commonCode;
    }
    if (code > previous) {
        choices.push_back(code);
    }
    return choices;
}

void NetworkPage::fillIdList(int code, int id) {
    const std::vector<int> taken = app().idsAt(code);
    ui_->idCombo->clear();
    for (int i = 0; i < kIdCount; ++i) {
        const bool occupied = std::find(taken.begin(), taken.end(), i) != taken.end();
        ui_->idCombo->addItem(occupied ? QStringLiteral("%1 (occupied)").arg(i)
                                       : QString::number(i));
    }
    ui_->idCombo->setCurrentIndex(id);
}

void NetworkPage::fillBaudList(int code) {
    baudChoices_ = baudChoices(code);
    ui_->baudCombo->clear();
    for (int choice : baudChoices_) {
        ui_->baudCombo->addItem(QStringLiteral("%1 (%2bps)").arg(choice).arg(rateOf(choice)));
    }
    const auto found = std::find(baudChoices_.begin(), baudChoices_.end(), code);
    ui_->baudCombo->setCurrentIndex(static_cast<int>(found - baudChoices_.begin()));
}

namespace {

// A device's entry as a job of this page left it.
struct EntryState {
    bool registered = false;
    int result = 0;
    DeviceSummary device;
    bool threw = false;

    static EntryState jobFailed() {
        EntryState failed;
        failed.registered = true;
        failed.result = AdapterFailure;
        failed.threw = true;
        return failed;
    }
};

// What the second job of Apply did: the level write's result, then (when it went through and
// the address changes) the address change's, and where the device is now.
struct Applied {
    bool registered = false;
    int levelResult = 100;
    bool addressChanged = false;
    int addressResult = 100;
    int code = -1;
    int id = -1;
    std::vector<DeviceSummary> devices;
    bool threw = false;

    static Applied jobFailed() {
        Applied failed;
        failed.registered = true;
        failed.levelResult = AdapterFailure;
        failed.threw = true;
        return failed;
    }
};

}  // namespace

void NetworkPage::activate(Activated activated) {
    if (sheet().rebuilding() != 0) {
        activated(true);
        return;
    }
    if (app().findDevice(code(), id()) == nullptr) {
        activated(false);
        return;
    }
    {
        const FlagScope selecting(selecting_);
        fillIdList(code(), id());
        fillBaudList(code());
    }
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    runActivationJob(
        [&registry, code, id] {
            EntryState state;
            DeviceEntry* entry = registry.find(code, id);
            if (entry != nullptr) {
                state.registered = true;
                state.result = entry->readIdentity();
                state.device = summaryOf(*entry);
            }
            return state;
        },
        [this, activated](const EntryState& state) {
            if (!state.registered) {
                app().forgetDevice(this->code(), this->id());
                activated(false);
                return;
            }
            app().updateDevice(state.device);
            if (report(state.result)) {
                activated(false);  // the sheet is being rebuilt: nothing of this page is touched
                return;
            }
            const FlagScope selecting(selecting_);
            const int level = state.device.returnLevel;
            ui_->levelCombo->setCurrentIndex(level);
            ui_->delayCombo->setEnabled(level != 0);
            if (level != 0) {
                ui_->delayCombo->setCurrentIndex(state.device.returnDelay);
            }
            ui_->applyButton->setEnabled(false);
            activated(true);
        });
}

void NetworkPage::onSelectionChanged() {
    if (!selecting_) {
        ui_->applyButton->setEnabled(true);
    }
}

void NetworkPage::apply() {
    ui_->applyButton->setEnabled(false);
    // A list without a selection (a register value it does not list) leaves its setting as
    // it is.
    const int delay = ui_->delayCombo->isEnabled() ? ui_->delayCombo->currentIndex() : -1;
    const int level = ui_->levelCombo->currentIndex();
    const int baudIndex = ui_->baudCombo->currentIndex();
    const int newCode = baudIndex >= 0 ? baudChoices_[baudIndex] : code();
    const int newId = ui_->idCombo->currentIndex() >= 0 ? ui_->idCombo->currentIndex() : id();
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    setEnabled(false);
    runWrite(
        [&registry, code, id, delay] {
            EntryState state;
            DeviceEntry* entry = registry.find(code, id);
            if (entry != nullptr) {
                state.registered = true;
                state.result = delay >= 0 ? entry->setReturnDelay(delay) : int{Success};
                state.device = summaryOf(*entry);
            }
            return state;
        },
        [level, newCode, newId](const WriteTarget& target, const EntryState& state) {
            if (auto* page = target.page<NetworkPage>()) {
                page->setEnabled(true);
            }
            if (!state.registered) {
                target.fallBack(false);  // the device left the registry behind the page
                return;
            }
            if (!state.threw) {
                target.app().updateDevice(state.device);
            }
            if (target.report(state.result)) {
                return;  // the sheet is being rebuilt
            }
            applyLevelAndAddress(target, state.device, level, newCode, newId);
        });
}

void NetworkPage::applyLevelAndAddress(const WriteTarget& target, const DeviceSummary& device,
                                       int level, int newCode, int newId) {
    const int oldCode = target.code();
    const int oldId = target.id();
    bool refreshWanted = false;
    const bool levelChanges = level >= 0 && level != device.returnLevel;
    ManagerApp& app = target.app();
    if (levelChanges) {
        if (level == 0) {
            if (app.operations().message(target.parentWidget(), kLevelZeroWarning, true) ==
                GuiOperations::Answer::Cancel) {
                if (auto* page = target.page<NetworkPage>()) {
                    const FlagScope selecting(page->selecting_);
                    page->ui_->levelCombo->setCurrentIndex(device.returnLevel);
                }
                return;  // the return delay stays written
            }
            refreshWanted = true;
        }
        if (device.returnLevel == 0) {
            refreshWanted = true;
        }
    }
    const bool addressChanges = newCode != oldCode || newId != oldId;
    if (!levelChanges && !addressChanges) {
        return;
    }
    DeviceRegistry& registry = app.registry();
    auto work = [&registry, oldCode, oldId, level, levelChanges, newCode, newId, addressChanges] {
        Applied applied;
        DeviceEntry* entry = registry.find(oldCode, oldId);
        applied.registered = entry != nullptr;
        if (entry == nullptr) {
            return applied;
        }
        if (levelChanges) {
            applied.levelResult = entry->setReturnLevel(level);
        }
        if (addressChanges && !reportable(applied.levelResult)) {
            applied.addressChanged = true;
            applied.addressResult = registry.changeAddress(oldCode, oldId, newCode, newId);
        }
        // Where the device answers now (a failed write may have moved it anyway).
        applied.code = entry->baudCode();
        applied.id = entry->id();
        applied.devices = registry.snapshot();
        return applied;
    };
    auto done = [oldCode, oldId, newCode, newId, refreshWanted](const WriteTarget& target,
                                                                const Applied& applied) {
        if (auto* page = target.page<NetworkPage>()) {
            page->setEnabled(true);
        }
        if (!applied.registered) {
            target.fallBack(false);
            return;
        }
        ManagerApp& app = target.app();
        if (!applied.threw) {
            app.setDevices(applied.devices);
        }
        if (target.report(applied.levelResult)) {
            return;
        }
        if (!applied.addressChanged) {
            if (refreshWanted) {
                target.refreshList(oldCode, oldId);
            }
            return;
        }
        if (target.report(applied.addressResult)) {
            return;
        }
        if (applied.addressResult == Busy) {
            app.operations().message(target.parentWidget(), kAddressTaken);
            target.refreshList(oldCode, oldId);
        } else if (applied.addressResult == Success) {
            target.refreshList(newCode, newId);
        } else {
            // A failed write the report leaves alone: the entry stays where the device
            // answers.
            target.refreshList(applied.code, applied.id);
        }
    };
    // The page may have gone since the return delay was written: the level and the address
    // are still the device's, and go on the bus all the same.
    if (auto* page = target.page<NetworkPage>()) {
        page->setEnabled(false);
    }
    target.run(std::move(work), std::move(done));
}

}  // namespace mvx::gui
