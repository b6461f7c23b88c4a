#include "gui/pages/ConfigurePage.h"

#include <QMouseEvent>

#include "device/DeviceEntry.h"
#include "device/ServoRecord.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/ToolTipWidth.h"
#include "gui/sheet/DeviceSheet.h"
#include "ui_ConfigurePage.h"

namespace mvx::gui {

namespace {

constexpr int kToolTipWidthPx = 500;
constexpr int kTorqueMax = 1023;
const QChar kDegreeCelsius(0x2103);
const QChar kFullwidthPercent(0xFF05);

QString voltageText(const char* format, int tenths) {
    // Single precision, as the voltage has always been shown.
    return QString::asprintf(format, static_cast<double>(static_cast<float>(tenths) * 0.1F));
}

void setBoxes(const std::array<QCheckBox*, 7>& boxes, const AlarmFlags& flags) {
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->setChecked(flags[i]);
    }
}

AlarmFlags flagsOf(const std::array<QCheckBox*, 7>& boxes) {
    AlarmFlags flags{};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        flags[i] = boxes[i]->isChecked();
    }
    return flags;
}

}  // namespace

ConfigurePage::ConfigurePage(DeviceSheet& sheet)
    : DevicePage(sheet, QStringLiteral("Configure")), ui_(std::make_unique<Ui::ConfigurePage>()) {
    // The form sets the ranges of the voltage (50-250), temperature (0-100) and torque
    // (0-1023) sliders; the angle sliders get theirs at each activation.
    ui_->setupUi(this);
    new ToolTipWidth(*this, kToolTipWidthPx);
    // The value labels keep the width of their widest text, so the sliders beside them do not
    // change length as the values change.
    const std::pair<QLabel*, const char*> widest[] = {{ui_->ccwLabel, "CCW:4095"},
                                                      {ui_->cwLabel, "CW:4095"},
                                                      {ui_->voltageHighLabel, "High:25.5v"},
                                                      {ui_->voltageLowLabel, "Low:25.5v"}};
    for (const auto& [label, text] : widest) {
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QLatin1String(text)));
    }

    connect(ui_->jointRadio, &QRadioButton::clicked, this, &ConfigurePage::chooseJoint);
    connect(ui_->wheelRadio, &QRadioButton::clicked, this, &ConfigurePage::chooseWheel);
    for (QSlider* slider : {ui_->ccwSlider, ui_->cwSlider, ui_->voltageHighSlider,
                            ui_->voltageLowSlider, ui_->temperatureSlider, ui_->torqueSlider}) {
        // Labels follow every change; only a mouse release adjusts and enables "Apply".
        connect(slider, &QSlider::valueChanged, this, &ConfigurePage::updateLabels);
        slider->installEventFilter(this);
    }
    for (const auto& boxes : {alarmLedBoxes(), shutdownBoxes()}) {
        for (QCheckBox* box : boxes) {
            connect(box, &QCheckBox::clicked, ui_->applyButton,
                    [this] { ui_->applyButton->setEnabled(true); });
        }
    }
    connect(ui_->applyButton, &QPushButton::clicked, this, &ConfigurePage::apply);
    connect(ui_->defaultButton, &QPushButton::clicked, this, &ConfigurePage::setDefaults);
}

ConfigurePage::~ConfigurePage() = default;

std::array<QCheckBox*, 7> ConfigurePage::alarmLedBoxes() const {
    return {ui_->alarmLedInstructionBox, ui_->alarmLedOverloadBox,    ui_->alarmLedChecksumBox,
            ui_->alarmLedRangeBox,       ui_->alarmLedOverheatingBox, ui_->alarmLedAngleLimitBox,
            ui_->alarmLedInputVoltageBox};
}

std::array<QCheckBox*, 7> ConfigurePage::shutdownBoxes() const {
    return {ui_->shutdownInstructionBox, ui_->shutdownOverloadBox,    ui_->shutdownChecksumBox,
            ui_->shutdownRangeBox,       ui_->shutdownOverheatingBox, ui_->shutdownAngleLimitBox,
            ui_->shutdownInputVoltageBox};
}

bool ConfigurePage::activate() {
    if (sheet().rebuilding() != 0) {
        return true;  // the sheet is being rebuilt: accepted, nothing shown
    }
    if (!activateWithRecordLoad(LoadLimits)) {
        return false;
    }
    const ServoRecord& record = *currentEntry()->servoRecord();
    ui_->ccwSlider->setRange(0, record.maxPosition());
    ui_->cwSlider->setRange(0, record.maxPosition());
    const bool wheel = record.wheelMode() == 1;
    ui_->wheelRadio->setChecked(wheel);
    ui_->jointRadio->setChecked(!wheel);
    ui_->ccwSlider->setEnabled(!wheel);
    ui_->cwSlider->setEnabled(!wheel);
    setBoxes(alarmLedBoxes(), record.alarmLedFlags());
    setBoxes(shutdownBoxes(), record.alarmShutdownFlags());
    // A device may hold a value beyond its slider's range (a temperature limit above 100, a
    // voltage limit below 5.0 V): the slider stops at its end, and that is remembered so that
    // Apply does not write the end value unless the user moves the slider.
    const std::pair<QSlider*, int> values[] = {
        {ui_->temperatureSlider, record.highestLimitTemperature()},
        {ui_->torqueSlider, record.maxTorque()},
        {ui_->cwSlider, record.cwAngleLimit()},
        {ui_->ccwSlider, record.ccwAngleLimit()},
        {ui_->voltageLowSlider, record.lowestLimitVoltage()},
        {ui_->voltageHighSlider, record.highestLimitVoltage()}};
    clampedAt_.clear();
    for (const auto& [slider, value] : values) {
        slider->setValue(value);
        if (slider->value() != value) {
            clampedAt_[slider] = slider->value();
        }
    }
    updateLabels();  // also those whose value did not change
    ui_->applyButton->setEnabled(false);
    return true;
}

void ConfigurePage::updateLabels() {
    ui_->cwLabel->setText(QString::asprintf("CW:%4d", ui_->cwSlider->value()));
    ui_->ccwLabel->setText(QString::asprintf("CCW:%4d", ui_->ccwSlider->value()));
    ui_->voltageHighLabel->setText(voltageText("High:%.1fv", ui_->voltageHighSlider->value()));
    ui_->voltageLowLabel->setText(voltageText("Low:%.1fv", ui_->voltageLowSlider->value()));
    ui_->temperatureLabel->setText(QString::number(ui_->temperatureSlider->value()) +
                                   kDegreeCelsius);
    const int torque = ui_->torqueSlider->value();
    ui_->torqueLabel->setText(QString::asprintf(" %d\n(%d", torque, torque * 100 / kTorqueMax) +
                              kFullwidthPercent + QLatin1Char(')'));
}

bool ConfigurePage::eventFilter(QObject* watched, QEvent* event) {
    // Only the left button operates a slider: other buttons release nothing. The slider has
    // its final value by the time the button goes up (tracking is on: a drag moves it as it
    // goes, a click in the channel at the press), so the adjustment can run before the slider
    // sees the release.
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* slider = qobject_cast<QSlider*>(watched);
        if (slider != nullptr && slider->isEnabled()) {
            sliderReleased(slider);
        }
    }
    return DevicePage::eventFilter(watched, event);
}

void ConfigurePage::sliderReleased(QSlider* slider) {
    // Each pair keeps its upper value above its lower one; the slider let go gives way.
    // setValue clamps to the slider's range.
    QSlider* ccw = ui_->ccwSlider;
    QSlider* cw = ui_->cwSlider;
    QSlider* high = ui_->voltageHighSlider;
    QSlider* low = ui_->voltageLowSlider;
    if (slider == ccw && ccw->value() < cw->value()) {
        ccw->setValue(cw->value() + 1);
    } else if (slider == cw && ccw->value() < cw->value()) {
        cw->setValue(ccw->value() - 1);
    } else if (slider == high && high->value() < low->value()) {
        high->setValue(low->value() + 1);
    } else if (slider == low && high->value() < low->value()) {
        low->setValue(high->value() - 1);
    }
    ui_->applyButton->setEnabled(true);
}

bool ConfigurePage::applies(const QSlider* slider) const {
    const auto clamped = clampedAt_.find(slider);
    return clamped == clampedAt_.end() || slider->value() != clamped->second;
}

void ConfigurePage::chooseWheel() {
    ui_->ccwSlider->setEnabled(false);
    ui_->cwSlider->setEnabled(false);
    ui_->applyButton->setEnabled(true);
}

void ConfigurePage::chooseJoint() {
    DeviceEntry* entry = currentEntry();
    const ServoRecord* record = entry != nullptr ? entry->servoRecord() : nullptr;
    if (record != nullptr && record->wheelMode() == 1) {
        // Leaving wheel mode opens the whole range, as the mode write will.
        ui_->cwSlider->setValue(0);
        ui_->ccwSlider->setValue(record->maxPosition());
    }
    ui_->ccwSlider->setEnabled(true);
    ui_->cwSlider->setEnabled(true);
    ui_->applyButton->setEnabled(true);
}

void ConfigurePage::apply() {
    ui_->applyButton->setEnabled(false);
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr || entry->servoRecord() == nullptr) {
        showFallback();
        return;
    }
    ServoRecord& record = *entry->servoRecord();
    // After a reported failure the sheet may have been rebuilt without this page: from then
    // on only locals are touched.
    Shell& shell = app().shell();
    auto ended = [&shell](int result) { return shell.reportBusFailure(result); };
    // A slider still at the value its range forced on it leaves the device's value alone.
    auto endedOn = [&](const QSlider* slider, int (ServoRecord::*setter)(int)) {
        return applies(slider) && ended((record.*setter)(slider->value()));
    };

    if (ui_->wheelRadio->isChecked()) {
        if (ended(record.setOperatingMode(1))) {
            return;
        }
    } else if (record.wheelMode() == 1) {
        // Back to joint mode: both limits in one write, the whole range.
        if (ended(record.setOperatingMode(0))) {
            return;
        }
    } else {
        if (endedOn(ui_->cwSlider, &ServoRecord::setCwAngleLimit) ||
            endedOn(ui_->ccwSlider, &ServoRecord::setCcwAngleLimit)) {
            return;
        }
    }
    if (endedOn(ui_->torqueSlider, &ServoRecord::setMaxTorque) ||
        endedOn(ui_->voltageHighSlider, &ServoRecord::setHighestLimitVoltage) ||
        endedOn(ui_->voltageLowSlider, &ServoRecord::setLowestLimitVoltage) ||
        endedOn(ui_->temperatureSlider, &ServoRecord::setHighestLimitTemperature) ||
        ended(record.setAlarmLed(flagsOf(alarmLedBoxes()))) ||
        ended(record.setAlarmShutdown(flagsOf(shutdownBoxes())))) {
        return;
    }
    // Show what the device holds now.
    activate();
}

void ConfigurePage::setDefaults() {
    DeviceEntry* entry = currentEntry();
    if (entry == nullptr) {
        showFallback();
        return;
    }
    if (!app().shell().reportBusFailure(entry->resetToDefaults())) {
        activate();
    }
}

}  // namespace mvx::gui
