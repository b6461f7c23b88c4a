#include "gui/pages/ConfigurePage.h"

#include <QMouseEvent>

#include "device/DeviceEntry.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/ToolTipWidth.h"
#include "gui/pages/RecordLoad.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/ResultCode.h"
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

void ConfigurePage::activate(Activated activated) {
    if (sheet().rebuilding() != 0) {
        activated(true);  // the sheet is being rebuilt: accepted, nothing shown
        return;
    }
    activateWithRecord(LoadLimits, std::move(activated), [this](const RecordRead& read) {
        image_ = read.image;
        showImage();
    });
}

void ConfigurePage::showImage() {
    ui_->ccwSlider->setRange(0, image_.maxPosition);
    ui_->cwSlider->setRange(0, image_.maxPosition);
    const bool wheel = image_.wheelMode == 1;
    ui_->wheelRadio->setChecked(wheel);
    ui_->jointRadio->setChecked(!wheel);
    ui_->ccwSlider->setEnabled(!wheel);
    ui_->cwSlider->setEnabled(!wheel);
    setBoxes(alarmLedBoxes(), image_.alarmLedFlags());
    setBoxes(shutdownBoxes(), image_.alarmShutdownFlags());
    // A device may hold a value beyond its slider's range (a temperature limit above 100, a
    // voltage limit below 5.0 V): the slider stops at its end, and that is remembered so that
    // Apply does not write the end value unless the user moves the slider.
    const std::pair<QSlider*, int> values[] = {
        {ui_->temperatureSlider, image_.highestLimitTemperature},
        {ui_->torqueSlider, image_.maxTorque},
        {ui_->cwSlider, image_.cwAngleLimit},
        {ui_->ccwSlider, image_.ccwAngleLimit},
        {ui_->voltageLowSlider, image_.lowestLimitVoltage},
        {ui_->voltageHighSlider, image_.highestLimitVoltage}};
    clampedAt_.clear();
    for (const auto& [slider, value] : values) {
        slider->setValue(value);
        if (slider->value() != value) {
            clampedAt_[slider] = slider->value();
        }
    }
    updateLabels();  // also those whose value did not change
    ui_->applyButton->setEnabled(false);
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
    if (image_.wheelMode == 1) {
        // Leaving wheel mode opens the whole range, as the mode write will.
        ui_->cwSlider->setValue(0);
        ui_->ccwSlider->setValue(image_.maxPosition);
    }
    ui_->ccwSlider->setEnabled(true);
    ui_->cwSlider->setEnabled(true);
    ui_->applyButton->setEnabled(true);
}

void ConfigurePage::apply() {
    ui_->applyButton->setEnabled(false);
    // What the controls say now; a slider still at the value its range forced on it leaves the
    // device's value alone (-1).
    auto valueOf = [this](const QSlider* slider) { return applies(slider) ? slider->value() : -1; };
    const bool wheel = ui_->wheelRadio->isChecked();
    const int cw = valueOf(ui_->cwSlider);
    const int ccw = valueOf(ui_->ccwSlider);
    const int torque = valueOf(ui_->torqueSlider);
    const int high = valueOf(ui_->voltageHighSlider);
    const int low = valueOf(ui_->voltageLowSlider);
    const int temperature = valueOf(ui_->temperatureSlider);
    const AlarmFlags led = flagsOf(alarmLedBoxes());
    const AlarmFlags shutdown = flagsOf(shutdownBoxes());
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    setEnabled(false);
    runWrite(
        [=, &registry] {
            Written written;
            DeviceEntry* entry = registry.find(code, id);
            if (entry == nullptr || entry->servoRecord() == nullptr) {
                written.gone = true;
                written.registered = entry != nullptr;
                return written;
            }
            ServoRecord& record = *entry->servoRecord();
            // Each step ends the pass when its failure is one the common reaction reports.
            auto ended = [&written](int result) {
                written.result = result;
                return reportable(result);
            };
            auto endedOn = [&](int value, int (ServoRecord::*setter)(int)) {
                return value >= 0 && ended((record.*setter)(value));
            };
            bool stopped = false;
            if (wheel) {
                stopped = ended(record.setOperatingMode(1));
            } else if (record.wheelMode() == 1) {
                // Back to joint mode: both limits in one write, the whole range.
                stopped = ended(record.setOperatingMode(0));
            } else {
                stopped = endedOn(cw, &ServoRecord::setCwAngleLimit) ||
                          endedOn(ccw, &ServoRecord::setCcwAngleLimit);
            }
            stopped = stopped || endedOn(torque, &ServoRecord::setMaxTorque) ||
                      endedOn(high, &ServoRecord::setHighestLimitVoltage) ||
                      endedOn(low, &ServoRecord::setLowestLimitVoltage) ||
                      endedOn(temperature, &ServoRecord::setHighestLimitTemperature) ||
                      ended(record.setAlarmLed(led)) || ended(record.setAlarmShutdown(shutdown));
            if (!stopped) {
                // Show what the device holds now (a failure the reaction passes over is not
                // the pass's end).
                written.result = Success;
                written.reread = loadRecord(registry, code, id, LoadLimits);
            }
            return written;
        },
        &ConfigurePage::showWritten);
}

void ConfigurePage::setDefaults() {
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    setEnabled(false);
    runWrite(
        [&registry, code, id] {
            Written written;
            DeviceEntry* entry = registry.find(code, id);
            if (entry == nullptr) {
                written.gone = true;
                written.registered = false;
                return written;
            }
            written.result = entry->resetToDefaults();
            if (!reportable(written.result)) {
                written.reread = loadRecord(registry, code, id, LoadLimits);
            }
            return written;
        },
        &ConfigurePage::showWritten);
}

void ConfigurePage::showWritten(const WriteTarget& target, const Written& written) {
    if (auto* page = target.page<ConfigurePage>()) {
        page->setEnabled(true);
    }
    if (written.gone) {
        target.fallBack(written.registered);
        return;
    }
    // After a reported failure the sheet is being rebuilt without this page. A device without
    // a record (Set Default wrote nothing) shows nothing new.
    if (target.report(written.result) || !written.reread.found ||
        target.report(written.reread.result)) {
        return;
    }
    if (auto* page = target.page<ConfigurePage>()) {
        page->image_ = written.reread.image;
        page->showImage();
    }
}

}  // namespace mvx::gui
