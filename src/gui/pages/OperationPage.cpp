#include "gui/pages/OperationPage.h"

#include <QAbstractSlider>

#include <array>

#include "device/DeviceEntry.h"
#include "device/ServoRecord.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/ToolTipWidth.h"
#include "gui/pages/OperationFormat.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/ResultCode.h"
#include "ui_OperationPage.h"

namespace mvx::gui {

namespace {

using namespace operation;

// The property slider per selector entry: its range and tooltip.
struct PropertySlider {
    int minimum;
    int maximum;
    const char* toolTip;
};

constexpr std::array<PropertySlider, 6> kPropertySliders = {{
    {0, 254, "Set CW Compliance Margin"},
    {0, 254, "Set CCW Compliance Margin"},
    {1, 7, "Set CW Compliance Slope"},
    {1, 7, "Set CCW Compliance Slope"},
    {0, 1023, "Set Punch"},
    {0, 1023, "Set Torque Limit"},
}};

constexpr int kPollFailuresTolerated = 4;
constexpr int kTickMs = 250;

// Goal position and moving speed writes are made once more after a timeout or a corrupt reply.
template <typename Write>
int withRetry(Write write) {
    int result = write();
    if (result == Timeout || result == CorruptReply) {
        result = write();
    }
    return result;
}

bool writesOn(int action) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
        case QAbstractSlider::SliderSingleStepSub:
        case QAbstractSlider::SliderPageStepAdd:
        case QAbstractSlider::SliderPageStepSub:
        case QAbstractSlider::SliderMove:
            return true;
        default:  // Home and End, no action
            return false;
    }
}

}  // namespace

OperationPage::OperationPage(DeviceSheet& sheet)
    : DevicePage(sheet, QStringLiteral("Operation")), ui_(std::make_unique<Ui::OperationPage>()) {
    ui_->setupUi(this);
    new ToolTipWidth(*this, 250);
    ui_->propertySelector->setCurrentIndex(CwMargin);
    ui_->propertySlider->setRange(0, 254);
    ui_->minLabel->setText(QStringLiteral("0"));
    ui_->maxLabel->setText(QStringLiteral("254"));

    connect(ui_->torqueOnRadio, &QAbstractButton::clicked, this,
            [this] { simpleCommand(true, 1); });
    connect(ui_->torqueOffRadio, &QAbstractButton::clicked, this,
            [this] { simpleCommand(true, 0); });
    connect(ui_->ledOnRadio, &QAbstractButton::clicked, this, [this] { simpleCommand(false, 1); });
    connect(ui_->ledOffRadio, &QAbstractButton::clicked, this, [this] { simpleCommand(false, 0); });
    connect(ui_->centerButton, &QAbstractButton::clicked, this, &OperationPage::center);
    connect(ui_->stopButton, &QAbstractButton::clicked, this, &OperationPage::stop);
    for (QAbstractSlider* slider : {static_cast<QAbstractSlider*>(ui_->speedSlider),
                                    static_cast<QAbstractSlider*>(ui_->goalSlider),
                                    static_cast<QAbstractSlider*>(ui_->propertySlider)}) {
        connect(slider, &QAbstractSlider::actionTriggered, this,
                [this, slider](int action) { sliderAction(slider, action); });
    }
    connect(ui_->propertySelector, &QComboBox::currentIndexChanged, this,
            &OperationPage::selectProperty);
}

OperationPage::~OperationPage() = default;

bool OperationPage::activate() {
    if (sheet().rebuilding() != 0) {
        return true;
    }
    if (!activateWithRecordLoad(LoadAll)) {
        return false;
    }
    ServoRecord& record = *currentEntry()->servoRecord();
    const int maxPosition = record.maxPosition();
    wheel_ = record.wheelMode() == 1;

    ui_->goalSlider->setRange(0, maxPosition);
    ui_->speedSlider->setRange(wheel_ ? -1023 : 0, 1023);
    ui_->speedSlider->setValue(record.movingSpeed());
    ui_->goalSlider->setValue(wheel_ ? (maxPosition + 1) / 2 : record.goalPosition());
    ui_->goalSlider->setEnabled(!wheel_);
    ui_->centerButton->setEnabled(!wheel_);
    ui_->stopButton->setEnabled(wheel_);
    ui_->propertySelector->setEnabled(!wheel_);
    ui_->propertySlider->setEnabled(!wheel_);

    (record.led() == 1 ? ui_->ledOnRadio : ui_->ledOffRadio)->setChecked(true);
    showTorque(record);
    {
        const QSignalBlocker blocker(ui_->propertySelector);
        ui_->propertySelector->setCurrentIndex(CwMargin);
    }
    selectProperty(CwMargin);
    if (wheel_) {
        ui_->goalLabel->setText(QStringLiteral(" ---"));
    } else {
        ui_->goalLabel->setText(goalText(record.goalPosition(), maxPosition));
    }
    ui_->speedLabel->setText(speedText(record.movingSpeed(), wheel_));
    refreshErrors(record);

    pollFailures_ = 0;
    app().pollInProgress = false;
    if (timer_ != nullptr) {
        timer_->stop();
    }
    timer_ = app().operations().startTimer(this, kTickMs, [this] { poll(); });
    return true;
}

void OperationPage::deactivate() {
    // Only stopped: this may run inside the timer's own tick (a reported failure rebuilds the
    // sheet), and the timer object must outlive it.
    stopPolling();
}

void OperationPage::stopPolling() {
    if (timer_ != nullptr) {
        timer_->stop();
    }
}

ServoRecord* OperationPage::recordOrFallback() {
    DeviceEntry* entry = currentEntry();
    if (entry != nullptr && entry->servoRecord() != nullptr) {
        return entry->servoRecord();
    }
    stopPolling();
    showFallback();
    return nullptr;
}

ServoRecord* OperationPage::commandRecord() {
    waitForPoll();
    return recordOrFallback();
}

void OperationPage::waitForPoll() {
    // Everything runs on the GUI thread, so a poll marked as running is suspended beneath
    // this command. The poll clears its mark before anything that can open a nested event
    // loop, and a stale mark is given up on after a bound instead of spinning for ever.
    Clock& clock = app().clock();
    const std::int64_t deadlineUs = clock.nowUs() + std::int64_t{kPollWaitMs} * 1000;
    while (app().pollInProgress && clock.nowUs() < deadlineUs) {
        clock.sleepMs(1);
    }
}

void OperationPage::poll() {
    ManagerApp& application = app();
    if (application.busBusy != 0) {
        pollFailures_ = 0;
        return;
    }
    ServoRecord* record = recordOrFallback();
    if (record == nullptr) {
        return;
    }
    application.pollInProgress = true;
    const int result = record->load(LoadState);
    // Cleared before the result is reported: a message box there runs a nested event loop in
    // which a command may wait for this poll.
    application.pollInProgress = false;
    if (result == Success) {
        showStatus(*record, record->owner().modelNumber());
        refreshErrors(*record);
        pollFailures_ = 0;
        return;
    }
    if (result != AdapterFailure && pollFailures_ < kPollFailuresTolerated) {
        ++pollFailures_;
        return;
    }
    stopPolling();
    // The report may remove this page from the sheet: nothing of it is touched after.
    application.shell().reportBusFailure(result);
}

void OperationPage::simpleCommand(bool torque, int value) {
    ServoRecord* record = commandRecord();
    if (record == nullptr) {
        return;
    }
    ManagerApp& application = app();
    BusBusyScope busy(application);
    const int result = torque ? record->setTorqueEnable(value) : record->setLed(value);
    application.shell().reportBusFailure(result);
}

void OperationPage::center() {
    ServoRecord* record = commandRecord();
    if (record == nullptr) {
        return;
    }
    ManagerApp& application = app();
    BusBusyScope busy(application);
    const int result = record->setGoalPosition((record->maxPosition() + 1) / 2);
    if (application.shell().reportBusFailure(result)) {
        return;
    }
    ui_->goalSlider->setValue(record->goalPosition());
    showGoal(*record);
    showTorque(*record);
    refreshErrors(*record);
}

void OperationPage::stop() {
    ServoRecord* record = commandRecord();
    if (record == nullptr) {
        return;
    }
    ManagerApp& application = app();
    BusBusyScope busy(application);
    const int result = withRetry([record] { return record->setMovingSpeed(0); });
    if (application.shell().reportBusFailure(result)) {
        return;
    }
    ui_->speedSlider->setValue(record->movingSpeed());
    ui_->speedLabel->setText(QString::asprintf("%d (0\uFF05)", 0));
    showTorque(*record);
}

void OperationPage::sliderAction(QAbstractSlider* slider, int action) {
    // A value set from code triggers no action; the end of a drag only releases the thumb.
    if (!writesOn(action) || app().pollInProgress) {
        return;
    }
    ServoRecord* record = recordOrFallback();
    if (record == nullptr) {
        return;
    }
    const int position = slider->sliderPosition();  // already the new position
    BusBusyScope busy(app());
    if (slider == ui_->goalSlider) {
        writeGoal(*record, position);
    } else if (slider == ui_->speedSlider) {
        writeSpeed(*record, position);
    } else {
        writeProperty(*record, position);
    }
}

void OperationPage::writeGoal(ServoRecord& record, int position) {
    const int result = withRetry([&] { return record.setGoalPosition(position); });
    if (app().shell().reportBusFailure(result)) {
        return;
    }
    ui_->goalSlider->setValue(record.goalPosition());
    showGoal(record);
    showTorque(record);
    refreshErrors(record);
}

void OperationPage::writeSpeed(ServoRecord& record, int speed) {
    const int result = withRetry([&] { return record.setMovingSpeed(speed); });
    if (app().shell().reportBusFailure(result)) {
        return;
    }
    ui_->speedSlider->setValue(record.movingSpeed());
    showSpeed(record);
    showTorque(record);
}

void OperationPage::writeProperty(ServoRecord& record, int k) {
    int result = Success;
    switch (ui_->propertySelector->currentIndex()) {
        case CwMargin:
            result = record.setCwComplianceMargin(k);
            break;
        case CcwMargin:
            result = record.setCcwComplianceMargin(k);
            break;
        case CwSlope:
            result = record.setCwComplianceSlope(slopeOfStep(k));
            break;
        case CcwSlope:
            result = record.setCcwComplianceSlope(slopeOfStep(k));
            break;
        case Punch:
            result = record.setPunch(k);
            break;
        case TorqueLimit:
            result = record.setTorqueLimit(k);
            break;
        default:
            return;
    }
    if (app().shell().reportBusFailure(result)) {
        return;
    }
    QString value;
    switch (ui_->propertySelector->currentIndex()) {
        case CwMargin:
            value = QString::number(record.cwComplianceMargin());
            break;
        case CcwMargin:
            value = QString::number(record.ccwComplianceMargin());
            break;
        case Punch:
            value = QString::number(record.punch());
            break;
        case TorqueLimit:
            value = torqueLimitText(record.torqueLimit());
            break;
        default:  // the slopes
            value = slopeText(k, slopeOfStep(k));
            break;
    }
    ui_->valueLabel->setText(value);
}

void OperationPage::selectProperty(int index) {
    if (index < 0 || index >= static_cast<int>(kPropertySliders.size())) {
        return;
    }
    ServoRecord* record = recordOrFallback();
    if (record == nullptr) {
        return;
    }
    const PropertySlider& slider = kPropertySliders[static_cast<std::size_t>(index)];
    ui_->propertySlider->setRange(slider.minimum, slider.maximum);
    ui_->propertySlider->setToolTip(QString::fromLatin1(slider.toolTip));
    ui_->minLabel->setText(QString::number(slider.minimum));
    ui_->maxLabel->setText(QString::number(slider.maximum));
    int position = 0;
    QString value;
    switch (index) {
        case CwMargin:
        case CcwMargin:
            position =
                index == CwMargin ? record->cwComplianceMargin() : record->ccwComplianceMargin();
            value = QString::number(position);
            break;
        case CwSlope:
        case CcwSlope: {
            const int slope =
                index == CwSlope ? record->cwComplianceSlope() : record->ccwComplianceSlope();
            position = slopeStep(slope);
            value = slopeText(position, slope);
            break;
        }
        case Punch:
            position = record->punch();
            value = QString::number(position);
            break;
        default:
            position = record->torqueLimit();
            value = torqueLimitText(position);
            break;
    }
    ui_->propertySlider->setValue(position);
    ui_->valueLabel->setText(value);
}

void OperationPage::showGoal(const ServoRecord& record) {
    ui_->goalLabel->setText(goalText(record.goalPosition(), record.maxPosition()));
}

void OperationPage::showSpeed(const ServoRecord& record) {
    ui_->speedLabel->setText(speedText(record.movingSpeed(), wheel_));
}

void OperationPage::showTorque(const ServoRecord& record) {
    (record.torqueEnable() == 1 ? ui_->torqueOnRadio : ui_->torqueOffRadio)->setChecked(true);
}

void OperationPage::showStatus(const ServoRecord& record, int modelNumber) {
    // In wheel mode position and load mean nothing; only the 4096-position model reports a
    // speed there.
    const QString na = QStringLiteral("---");
    const bool wheel = record.wheelMode() == 1;
    ui_->presentPositionLabel->setText(wheel ? na : widthFourText(record.presentPosition()));
    ui_->presentSpeedLabel->setText(
        wheel && modelNumber != 106 ? na : widthFourText(record.presentSpeed()));
    ui_->presentLoadLabel->setText(wheel ? na : widthFourText(record.presentLoad()));
    ui_->presentVoltageLabel->setText(voltageText(record.presentVoltage()));
    ui_->presentTemperatureLabel->setText(temperatureText(record.presentTemperature()));
    ui_->registeredInstructionLabel->setText(QString::number(record.registeredInstruction()));
    ui_->movingLabel->setText(QString::number(record.moving()));
    ui_->lockLabel->setText(QString::number(record.lock()));
}

void OperationPage::refreshErrors(const ServoRecord& record) {
    const AlarmFlags flags = record.errorFlags();
    const std::array<QCheckBox*, 7> boxes = {ui_->instructionErrorBox, ui_->overloadErrorBox,
                                             ui_->checksumErrorBox,    ui_->rangeErrorBox,
                                             ui_->overheatingErrorBox, ui_->angleLimitErrorBox,
                                             ui_->inputVoltageErrorBox};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->setChecked(flags[i]);
    }
    if (record.errorBits() != 0 && ui_->propertySelector->currentIndex() == TorqueLimit) {
        ui_->propertySlider->setValue(record.torqueLimit());
        ui_->valueLabel->setText(QString::number(record.torqueLimit()));
    }
}

}  // namespace mvx::gui
