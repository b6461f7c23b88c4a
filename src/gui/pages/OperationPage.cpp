#include "gui/pages/OperationPage.h"

#include <QAbstractSlider>
#include <QLabel>

#include <array>

#include <string>

#include "gui/app/ManagerApp.h"
#include "gui/app/SteadyLabelHolder.h"
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
constexpr int kPollTickMs = 250;
const std::string kPollKey = "operation page status poll";

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
    // The polled values, at their widest, so that a new value repaints only its label.
    const QStringList fourDigits = {widthFourText(8888), QStringLiteral("---")};
    new SteadyLabelHolder(*ui_->presentPositionLabel, fourDigits);
    new SteadyLabelHolder(*ui_->presentSpeedLabel, fourDigits);
    new SteadyLabelHolder(*ui_->presentLoadLabel, fourDigits);
    new SteadyLabelHolder(*ui_->presentVoltageLabel, {voltageText(888)});
    new SteadyLabelHolder(*ui_->presentTemperatureLabel, {temperatureText(888)});
    for (QLabel* flag : {ui_->registeredInstructionLabel, ui_->movingLabel, ui_->lockLabel}) {
        new SteadyLabelHolder(*flag, {QStringLiteral("888")});
    }

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

OperationPage::~OperationPage() {
    stopPolling();
}

void OperationPage::activate(Activated activated) {
    if (sheet().rebuilding() != 0) {
        activated(true);
        return;
    }
    activateWithRecord(LoadAll, std::move(activated), [this](const RecordRead& read) {
        image_ = read.image;
        modelNumber_ = read.modelNumber;
        const int maxPosition = image_.maxPosition;
        wheel_ = image_.wheelMode == 1;

        ui_->goalSlider->setRange(0, maxPosition);
        ui_->speedSlider->setRange(wheel_ ? -1023 : 0, 1023);
        ui_->speedSlider->setValue(image_.movingSpeed);
        ui_->goalSlider->setValue(wheel_ ? (maxPosition + 1) / 2 : image_.goalPosition);
        ui_->goalSlider->setEnabled(!wheel_);
        ui_->centerButton->setEnabled(!wheel_);
        ui_->stopButton->setEnabled(wheel_);
        ui_->propertySelector->setEnabled(!wheel_);
        ui_->propertySlider->setEnabled(!wheel_);

        (image_.led == 1 ? ui_->ledOnRadio : ui_->ledOffRadio)->setChecked(true);
        showTorque();
        {
            const QSignalBlocker blocker(ui_->propertySelector);
            ui_->propertySelector->setCurrentIndex(CwMargin);
        }
        selectProperty(CwMargin);
        if (wheel_) {
            ui_->goalLabel->setText(QStringLiteral(" ---"));
        } else {
            showGoal();
        }
        showSpeed();
        refreshErrors();

        pollFailures_ = 0;
        stopPolling();
        polling_ = std::make_shared<std::atomic<bool>>(true);
        timer_ = app().operations().startTimer(this, kPollTickMs, [this] { poll(); });
    });
}

void OperationPage::deactivate() {
    DevicePage::deactivate();
    // Only stopped: this may run inside the timer's own tick (a reported failure rebuilds the
    // sheet), and the timer object must outlive it.
    stopPolling();
}

void OperationPage::stopPolling() {
    if (timer_ != nullptr) {
        timer_->stop();
    }
    // A poll still waiting for the bus is withdrawn: it reads nothing when its turn comes.
    *polling_ = false;
}

template <typename Operation, typename Done>
void OperationPage::writeRecord(Operation operation, Done done) {
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    runWrite([&registry, code, id, operation] { return onRecord(registry, code, id, operation); },
             [done](const WriteTarget& target, const RecordRead& written) {
                 if (auto* page = target.page<OperationPage>()) {
                     if (written.found) {
                         page->image_ = written.image;
                     } else {
                         page->stopPolling();
                     }
                 }
                 if (!written.found) {
                     target.fallBack(written.registered);
                 }
                 // Reported against the device written, whichever the user looks at now.
                 const bool failed = !written.found || target.report(written.result);
                 done(target.page<OperationPage>(), failed);
             });
}

void OperationPage::poll() {
    if (app().busBusy != 0) {
        pollFailures_ = 0;
        return;
    }
    if (retired()) {
        return;
    }
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    // One poll waits at most; a tick while it waits adds none. While a command waits or the
    // bus is busy when its turn comes, it is skipped.
    app().jobs().skippable(
        this, kPollKey,
        [&registry, code, id, polling = polling_] {
            if (!*polling) {
                return RecordRead{};  // withdrawn; its result is dropped
            }
            return onRecord(registry, code, id,
                            [](ServoRecord& record) { return record.load(LoadState); });
        },
        [this](const std::optional<RecordRead>& read) { pollEnded(read); });
}

void OperationPage::pollEnded(const std::optional<RecordRead>& read) {
    if (retired() || timer_ == nullptr || !timer_->isActive()) {
        return;  // the page stopped polling meanwhile
    }
    if (!read) {
        pollFailures_ = 0;  // skipped: the bus was busy
        return;
    }
    if (!read->found) {
        stopPolling();
        showFallback(read->registered);
        return;
    }
    image_ = read->image;
    if (read->result == Success) {
        showStatus();
        refreshErrors();
        pollFailures_ = 0;
        return;
    }
    if (read->result != AdapterFailure && pollFailures_ < kPollFailuresTolerated) {
        ++pollFailures_;
        return;
    }
    stopPolling();
    // The report may retire this page: nothing of it is touched after.
    report(read->result);
}

void OperationPage::simpleCommand(bool torque, int value) {
    QAbstractButton* on = torque ? ui_->torqueOnRadio : ui_->ledOnRadio;
    QAbstractButton* off = torque ? ui_->torqueOffRadio : ui_->ledOffRadio;
    on->setEnabled(false);
    off->setEnabled(false);
    writeRecord(
        [torque, value](ServoRecord& record) {
            return torque ? record.setTorqueEnable(value) : record.setLed(value);
        },
        [on, off](OperationPage* page, bool) {
            // Nothing else on the page changes; the radio stays as clicked. The radios live as
            // long as their page.
            if (page != nullptr) {
                on->setEnabled(true);
                off->setEnabled(true);
            }
        });
}

void OperationPage::center() {
    ui_->centerButton->setEnabled(false);
    writeRecord(
        [](ServoRecord& record) { return record.setGoalPosition((record.maxPosition() + 1) / 2); },
        [](OperationPage* page, bool failed) {
            if (page == nullptr) {
                return;
            }
            page->ui_->centerButton->setEnabled(!page->wheel_);
            if (failed) {
                return;
            }
            page->ui_->goalSlider->setValue(page->image_.goalPosition);
            page->showGoal();
            page->showTorque();
            page->refreshErrors();
        });
}

void OperationPage::stop() {
    ui_->stopButton->setEnabled(false);
    writeRecord(
        [](ServoRecord& record) { return withRetry([&] { return record.setMovingSpeed(0); }); },
        [](OperationPage* page, bool failed) {
            if (page == nullptr) {
                return;
            }
            page->ui_->stopButton->setEnabled(page->wheel_);
            if (failed) {
                return;
            }
            page->ui_->speedSlider->setValue(page->image_.movingSpeed);
            page->ui_->speedLabel->setText(QString::asprintf("%d (0\uFF05)", 0));
            page->showTorque();
        });
}

void OperationPage::sliderAction(QAbstractSlider* slider, int action) {
    // A value set from code triggers no action; the end of a drag only releases the thumb.
    if (!writesOn(action)) {
        return;
    }
    const SliderKind kind = slider == ui_->goalSlider    ? GoalKind
                            : slider == ui_->speedSlider ? SpeedKind
                                                         : PropertyKind;
    const int position = slider->sliderPosition();  // already the new position
    const int property = ui_->propertySelector->currentIndex();
    SliderWrites& writes = sliders_[kind];
    if (writes.inFlight) {
        writes.pending = position;
        writes.pendingProperty = property;
        return;
    }
    writeSlider(kind, position, property);
}

void OperationPage::writeSlider(SliderKind kind, int position, int property) {
    sliders_[kind].inFlight = true;
    auto done = [kind, position, property](OperationPage* page, bool failed) {
        if (page != nullptr) {
            page->sliderWritten(kind, position, property, failed);
        }
    };
    switch (kind) {
        case GoalKind:
            writeRecord(
                [position](ServoRecord& record) {
                    return withRetry([&] { return record.setGoalPosition(position); });
                },
                done);
            break;
        case SpeedKind:
            writeRecord(
                [position](ServoRecord& record) {
                    return withRetry([&] { return record.setMovingSpeed(position); });
                },
                done);
            break;
        default:
            writeRecord(
                [position, property](ServoRecord& record) {
                    switch (property) {
                        case CwMargin:
                            return record.setCwComplianceMargin(position);
                        case CcwMargin:
                            return record.setCcwComplianceMargin(position);
                        case CwSlope:
                            return record.setCwComplianceSlope(slopeOfStep(position));
                        case CcwSlope:
                            return record.setCcwComplianceSlope(slopeOfStep(position));
                        case Punch:
                            return record.setPunch(position);
                        case TorqueLimit:
                            return record.setTorqueLimit(position);
                        default:
                            return int{Success};
                    }
                },
                done);
            break;
    }
}

void OperationPage::sliderWritten(SliderKind kind, int position, int property, bool failed) {
    SliderWrites& writes = sliders_[kind];
    writes.inFlight = false;
    const std::optional<int> pending = writes.pending;
    const int pendingProperty = writes.pendingProperty;
    writes.pending.reset();
    if (failed) {
        return;
    }
    if (pending && (*pending != position || pendingProperty != property)) {
        // The slider has moved on meanwhile: its latest position goes next, and the slider is
        // left where the user has it.
        writeSlider(kind, *pending, pendingProperty);
        return;
    }
    switch (kind) {
        case GoalKind:
            ui_->goalSlider->setValue(image_.goalPosition);
            showGoal();
            showTorque();
            refreshErrors();
            break;
        case SpeedKind:
            ui_->speedSlider->setValue(image_.movingSpeed);
            showSpeed();
            showTorque();
            break;
        default: {
            if (ui_->propertySelector->currentIndex() != property) {
                break;  // another property is shown by now
            }
            QString value;
            switch (property) {
                case CwMargin:
                    value = QString::number(image_.cwComplianceMargin);
                    break;
                case CcwMargin:
                    value = QString::number(image_.ccwComplianceMargin);
                    break;
                case Punch:
                    value = QString::number(image_.punch);
                    break;
                case TorqueLimit:
                    value = torqueLimitText(image_.torqueLimit);
                    break;
                default:  // the slopes
                    value = slopeText(position, slopeOfStep(position));
                    break;
            }
            ui_->valueLabel->setText(value);
            break;
        }
    }
}

void OperationPage::selectProperty(int index) {
    if (index < 0 || index >= static_cast<int>(kPropertySliders.size())) {
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
            position = index == CwMargin ? image_.cwComplianceMargin : image_.ccwComplianceMargin;
            value = QString::number(position);
            break;
        case CwSlope:
        case CcwSlope: {
            const int slope =
                index == CwSlope ? image_.cwComplianceSlope : image_.ccwComplianceSlope;
            position = slopeStep(slope);
            value = slopeText(position, slope);
            break;
        }
        case Punch:
            position = image_.punch;
            value = QString::number(position);
            break;
        default:
            position = image_.torqueLimit;
            value = torqueLimitText(position);
            break;
    }
    ui_->propertySlider->setValue(position);
    ui_->valueLabel->setText(value);
}

void OperationPage::showGoal() {
    ui_->goalLabel->setText(goalText(image_.goalPosition, image_.maxPosition));
}

void OperationPage::showSpeed() {
    ui_->speedLabel->setText(speedText(image_.movingSpeed, wheel_));
}

void OperationPage::showTorque() {
    (image_.torqueEnable == 1 ? ui_->torqueOnRadio : ui_->torqueOffRadio)->setChecked(true);
}

void OperationPage::showStatus() {
    // In wheel mode position and load mean nothing; only the 4096-position model reports a
    // speed there.
    const QString na = QStringLiteral("---");
    const bool wheel = image_.wheelMode == 1;
    ui_->presentPositionLabel->setText(wheel ? na : widthFourText(image_.presentPosition));
    ui_->presentSpeedLabel->setText(
        wheel && modelNumber_ != 106 ? na : widthFourText(image_.presentSpeed));
    ui_->presentLoadLabel->setText(wheel ? na : widthFourText(image_.presentLoad));
    ui_->presentVoltageLabel->setText(voltageText(image_.presentVoltage));
    ui_->presentTemperatureLabel->setText(temperatureText(image_.presentTemperature));
    ui_->registeredInstructionLabel->setText(QString::number(image_.registeredInstruction));
    ui_->movingLabel->setText(QString::number(image_.moving));
    ui_->lockLabel->setText(QString::number(image_.lock));
}

void OperationPage::refreshErrors() {
    const AlarmFlags flags = image_.errorFlags();
    const std::array<QCheckBox*, 7> boxes = {ui_->instructionErrorBox, ui_->overloadErrorBox,
                                             ui_->checksumErrorBox,    ui_->rangeErrorBox,
                                             ui_->overheatingErrorBox, ui_->angleLimitErrorBox,
                                             ui_->inputVoltageErrorBox};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->setChecked(flags[i]);
    }
    if (image_.errorBits != 0 && ui_->propertySelector->currentIndex() == TorqueLimit) {
        ui_->propertySlider->setValue(image_.torqueLimit);
        ui_->valueLabel->setText(QString::number(image_.torqueLimit));
    }
}

}  // namespace mvx::gui
