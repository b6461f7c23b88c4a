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
    const std::vector<int> taken = app().registry().idsAt(code);
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

bool NetworkPage::activate() {
    if (sheet().rebuilding() != 0) {
        return true;
    }
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr) {
        return false;
    }
    {
        const FlagScope selecting(selecting_);
        fillIdList(sheet().currentBaud(), sheet().currentId());
        fillBaudList(sheet().currentBaud());
    }
    if (app().shell().reportBusFailure(entry->readIdentity())) {
        return false;  // the sheet may be rebuilt by now: nothing of this page is touched
    }
    const FlagScope selecting(selecting_);
    const int level = entry->returnLevel();
    ui_->levelCombo->setCurrentIndex(level);
    ui_->delayCombo->setEnabled(level != 0);
    if (level != 0) {
        ui_->delayCombo->setCurrentIndex(entry->returnDelay());
    }
    ui_->applyButton->setEnabled(false);
    return true;
}

void NetworkPage::onSelectionChanged() {
    if (!selecting_) {
        ui_->applyButton->setEnabled(true);
    }
}

void NetworkPage::apply() {
    ui_->applyButton->setEnabled(false);
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr) {
        showFallback();  // the device left the registry behind the page: nothing is written
        return;
    }
    Shell& shell = app().shell();
    const int oldCode = sheet().currentBaud();
    const int oldId = sheet().currentId();
    bool refreshWanted = false;

    // A list without a selection (a register value it does not list) leaves its setting as
    // it is. After a reported failure the sheet may be rebuilt: only locals are used then.
    const int delay = ui_->delayCombo->currentIndex();
    if (ui_->delayCombo->isEnabled() && delay >= 0) {
        if (shell.reportBusFailure(entry->setReturnDelay(delay))) {
            return;
        }
    }

    const int level = ui_->levelCombo->currentIndex();
    if (level >= 0 && level != entry->returnLevel()) {
        if (level == 0) {
            if (app().operations().message(this, kLevelZeroWarning, true) ==
                GuiOperations::Answer::Cancel) {
                const FlagScope selecting(selecting_);
                ui_->levelCombo->setCurrentIndex(entry->returnLevel());
                return;
            }
            refreshWanted = true;
        }
        if (entry->returnLevel() == 0) {
            refreshWanted = true;
        }
        if (shell.reportBusFailure(entry->setReturnLevel(level))) {
            return;
        }
    }

    const int baudIndex = ui_->baudCombo->currentIndex();
    const int newCode = baudIndex >= 0 ? baudChoices_[baudIndex] : oldCode;
    const int newId = ui_->idCombo->currentIndex() >= 0 ? ui_->idCombo->currentIndex() : oldId;
    if (newCode == oldCode && newId == oldId) {
        if (refreshWanted) {
            shell.refreshDeviceList(oldCode, oldId);
        }
        return;
    }
    const int result = app().registry().changeAddress(oldCode, oldId, newCode, newId);
    if (shell.reportBusFailure(result)) {
        return;
    }
    if (result == Busy) {
        app().operations().message(this, kAddressTaken);
        shell.refreshDeviceList(oldCode, oldId);
    } else if (result == Success) {
        shell.refreshDeviceList(newCode, newId);
    } else {
        // A failed write the report leaves alone: the entry stays where the device answers.
        shell.refreshDeviceList(entry->baudCode(), entry->id());
    }
}

}  // namespace mvx::gui
