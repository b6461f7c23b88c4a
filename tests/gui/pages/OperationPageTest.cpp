// The Operation page over the simulated bus: labels in both modes, the buttons and sliders on
// the wire, the property selector, the status poll and its failure count, the order of a poll
// and a command on the bus, slider moves while a write is on the bus, and the page's behaviour
// when the device has left the registry.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>

#include "protocol/Packet.h"
#include "support/ExecutorGate.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kDeviceFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");

// A bus with one actuator at (1, 1) of `model`, with register overrides.
BusDescription oneDevice(int model, std::map<int, int> registers) {
    BusDescription bus;
    bus.devices.push_back(mvx::test::simSpec(1, 1, model, 30, 2, std::move(registers)));
    bus.devices.push_back(mvx::test::simSpec(1, 2, 12));
    return bus;
}

std::map<int, int> withMode(bool wheel, std::map<int, int> registers) {
    if (wheel) {
        registers[6] = 0;
        registers[8] = 0;
    }
    return registers;
}

QWidget* page(GuiHarness& h) {
    return h.sheet().currentWidget();
}

template <typename T>
T* control(GuiHarness& h, const char* name) {
    T* widget = page(h)->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}

QString text(GuiHarness& h, const char* name) {
    return control<QLabel>(h, name)->text();
}

using Writes = std::vector<std::pair<int, int>>;

// The Write packets the host sent, as (address, value) with a word value for two data bytes.
Writes writes(GuiHarness& h) {
    Writes found;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() >= 8 && t.bytes[4] == Write) {
            const int length = t.bytes[3];
            const int value = length == 5 ? t.bytes[6] | (t.bytes[7] << 8) : t.bytes[6];
            found.emplace_back(t.bytes[5], value);
        }
    }
    return found;
}

// Reads of the status block (26 bytes from register 24) the host sent.
int statusReads(GuiHarness& h) {
    int reads = 0;
    for (const SimTraffic& t : h.hostPackets()) {
        reads += t.bytes.size() == 8 && t.bytes[4] == Read && t.bytes[5] == 24 ? 1 : 0;
    }
    return reads;
}

// Counts the paint events of the widgets inside `root` while it lives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* root) : root_(root) { qApp->installEventFilter(this); }
    ~PaintCounter() override { qApp->removeEventFilter(this); }
    // The widgets painted, by object name.
    QSet<QString> painted() const { return painted_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            root_->isAncestorOf(static_cast<QWidget*>(watched))) {
            painted_.insert(watched->objectName());
        }
        return false;
    }

private:
    QWidget* root_;
    QSet<QString> painted_;
};

}  // namespace

class OperationPageTest : public QObject {
    Q_OBJECT

private slots:
    void pageFitsTheSheet() {
        GuiHarness h;
        h.startSearched();
        const QSize needed = page(h)->minimumSizeHint();
        QVERIFY2(needed.width() <= 470 && needed.height() <= 395,
                 qPrintable(QStringLiteral("%1 x %2").arg(needed.width()).arg(needed.height())));
    }

    void labelsAndControlsFollowTheMode_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("wheel");
        QTest::addColumn<int>("speedRaw");
        QTest::addColumn<int>("goal");  // -1: the device's middle
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("goalText");
        QTest::newRow("joint 0") << 28 << false << 0 << -1 << "0 (Max. RPM)"
                                 << "512 (150.0˚)";
        QTest::newRow("joint 1023") << 28 << false << 1023 << 1023 << "1023 (114RPM)"
                                    << "1023 (299.7˚)";
        QTest::newRow("joint 1") << 28 << false << 1 << -1 << "1 (0RPM)"
                                 << "512 (150.0˚)";
        QTest::newRow("4096 positions") << 106 << false << 0 << -1 << "0 (Max. RPM)"
                                        << "2048 (150.0˚)";
        QTest::newRow("wheel -512") << 28 << true << 1024 + 512 << -1 << "-512 (-50％)"
                                    << " ---";
    }

    void labelsAndControlsFollowTheMode() {
        QFETCH(int, model);
        QFETCH(bool, wheel);
        QFETCH(int, speedRaw);
        QFETCH(int, goal);
        QFETCH(QString, speed);
        QFETCH(QString, goalText);
        std::map<int, int> registers{{32, speedRaw}};
        if (goal >= 0) {
            registers[30] = goal;
        }
        GuiHarness h(oneDevice(model, withMode(wheel, registers)));
        h.startSearched();
        QCOMPARE(text(h, "speedLabel"), speed);
        QCOMPARE(text(h, "goalLabel"), goalText);
        const int maxPosition = model == 106 ? 4095 : 1023;
        QCOMPARE(control<QSlider>(h, "goalSlider")->maximum(), maxPosition);
        QCOMPARE(control<QSlider>(h, "goalSlider")->value(),
                 wheel ? (maxPosition + 1) / 2 : (goal >= 0 ? goal : (maxPosition + 1) / 2));
        QCOMPARE(control<QSlider>(h, "speedSlider")->minimum(), wheel ? -1023 : 0);
        QCOMPARE(control<QSlider>(h, "speedSlider")->value(), wheel ? -512 : speedRaw);
        QCOMPARE(control<QSlider>(h, "goalSlider")->isEnabled(), !wheel);
        QCOMPARE(control<QPushButton>(h, "centerButton")->isEnabled(), !wheel);
        QCOMPARE(control<QPushButton>(h, "stopButton")->isEnabled(), wheel);
        QCOMPARE(control<QComboBox>(h, "propertySelector")->isEnabled(), !wheel);
        QCOMPARE(control<QSlider>(h, "propertySlider")->isEnabled(), !wheel);
    }

    void statusLabelsAfterAPoll_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("wheel");
        QTest::addColumn<QStringList>("texts");  // position, speed, load, voltage
        QTest::newRow("joint") << 28 << false << QStringList{" 512", "   0", "   0", "12.0v"};
        QTest::newRow("joint, 4096 positions")
            << 106 << false << QStringList{"2048", "   0", "   0", "14.8v"};
        QTest::newRow("wheel") << 28 << true << QStringList{"---", "---", "---", "12.0v"};
        QTest::newRow("wheel, 4096 positions")
            << 106 << true << QStringList{"---", "   0", "---", "14.8v"};
    }

    void statusLabelsAfterAPoll() {
        QFETCH(int, model);
        QFETCH(bool, wheel);
        QFETCH(QStringList, texts);
        GuiHarness h(oneDevice(model, withMode(wheel, {})));
        h.startSearched();
        QCOMPARE(text(h, "presentPositionLabel"), QString());
        QCOMPARE(h.ops().tickTimers(), 1);
        h.settle();
        const QStringList shown = {text(h, "presentPositionLabel"), text(h, "presentSpeedLabel"),
                                   text(h, "presentLoadLabel"), text(h, "presentVoltageLabel")};
        QCOMPARE(shown, texts);
        QCOMPARE(text(h, "presentTemperatureLabel"), QStringLiteral(" 32℃"));
        QCOMPARE(
            text(h, "registeredInstructionLabel") + text(h, "movingLabel") + text(h, "lockLabel"),
            QStringLiteral("000"));
    }

    // A poll repaints the values it changed and their group, not the rest of the page (every
    // new text used to lay the page out again, and the tab widget then repaints its whole page).
    void aPollRepaintsOnlyTheChangedValues() {
        GuiHarness h(oneDevice(28, {}));
        h.startSearched();
        QCOMPARE(h.ops().tickTimers(), 1);
        h.settle();
        QTest::qWait(0);
        PaintCounter counter(&h.window());
        // Wider and narrower values than before, in turn.
        for (const int voltage : {95, 140, 90}) {
            h.bus().find(1, 1)->setReg(42, voltage);
            h.bus().find(1, 1)->setReg16(36, voltage == 140 ? 1023 : 5);
            QCOMPARE(h.ops().tickTimers(), 1);
            h.settle();
            QTest::qWait(0);
        }
        QCOMPARE(text(h, "presentVoltageLabel"), QStringLiteral("9.0v"));
        const QSet<QString> painted = counter.painted();
        QVERIFY(painted.contains(QStringLiteral("presentVoltageLabel")));
        QVERIFY(painted.contains(QStringLiteral("presentPositionLabel")));
        for (const char* name : {"movementGroup", "propertyGroup", "controlGroup", "errorGroup",
                                 "goalLabel", "presentLoadCaption", "movingLabel"}) {
            QVERIFY2(!painted.contains(QString::fromLatin1(name)), name);
        }
    }

    void buttonsWriteAndRelabel_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<bool>("wheel");
        QTest::addColumn<int>("address");  // a register changed on the device beforehand
        QTest::addColumn<int>("raw");
        QTest::addColumn<QString>("button");
        QTest::addColumn<Writes>("expected");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("labelText");
        QTest::newRow("torque on")
            << 28 << false << 24 << 0 << "torqueOnRadio" << Writes{{24, 1}} << ""
            << "";
        QTest::newRow("LED on") << 28 << false << 25 << 0 << "ledOnRadio" << Writes{{25, 1}} << ""
                                << "";
        QTest::newRow("center, 4096 positions")
            << 106 << false << 30 << 100 << "centerButton" << Writes{{30, 2048}} << "goalLabel"
            << "2048 (150.0˚)";
        QTest::newRow("stop") << 28 << true << 32 << 1024 + 512 << "stopButton" << Writes{{32, 0}}
                              << "speedLabel"
                              << "0 (0％)";
    }

    void buttonsWriteAndRelabel() {
        QFETCH(int, model);
        QFETCH(bool, wheel);
        QFETCH(int, address);
        QFETCH(int, raw);
        QFETCH(QString, button);
        QFETCH(Writes, expected);
        QFETCH(QString, label);
        QFETCH(QString, labelText);
        GuiHarness h(oneDevice(model, withMode(wheel, {{address, raw}})));
        h.startSearched();
        h.bus().clearTraffic();
        QTest::mouseClick(control<QAbstractButton>(h, qPrintable(button)), Qt::LeftButton);
        h.settle();
        QCOMPARE(writes(h), expected);
        if (!label.isEmpty()) {
            QCOMPARE(text(h, qPrintable(label)), labelText);
        }
        QVERIFY(h.ops().messages.isEmpty());
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    void propertySelectorShowsAndWrites_data() {
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("raw");
        QTest::addColumn<QStringList>("shown");  // MIN, MAX, VALUE, slider tooltip
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("written");
        QTest::addColumn<QString>("valueAfter");
        QTest::newRow("CW margin")
            << 0 << 26 << 3 << QStringList{"0", "254", "3", "Set CW Compliance Margin"} << 3 << 10
            << 10 << "10";
        QTest::newRow("CCW slope 1")
            << 3 << 29 << 1 << QStringList{"1", "7", "1 (1)", "Set CCW Compliance Slope"} << 1 << 5
            << 32 << "5 (32)";
        QTest::newRow("CW slope 100")
            << 2 << 28 << 100 << QStringList{"1", "7", "7 (100)", "Set CW Compliance Slope"} << 7
            << 1 << 2 << "1 (2)";
        QTest::newRow("punch") << 4 << 48 << 40 << QStringList{"0", "1023", "40", "Set Punch"} << 40
                               << 100 << 100 << "100";
        QTest::newRow("torque limit")
            << 5 << 34 << 512 << QStringList{"0", "1023", "512 (50％)", "Set Torque Limit"} << 512
            << 1023 << 1023 << "1023 (100％)";
    }

    void propertySelectorShowsAndWrites() {
        QFETCH(int, entry);
        QFETCH(int, address);
        QFETCH(int, raw);
        QFETCH(QStringList, shown);
        QFETCH(int, position);
        QFETCH(int, k);
        QFETCH(int, written);
        QFETCH(QString, valueAfter);
        GuiHarness h(oneDevice(28, {{address, raw}}));
        h.startSearched();
        h.bus().clearTraffic();
        control<QComboBox>(h, "propertySelector")->setCurrentIndex(entry);
        auto* slider = control<QSlider>(h, "propertySlider");
        QCOMPARE((QStringList{text(h, "minLabel"), text(h, "maxLabel"), text(h, "valueLabel"),
                              slider->toolTip()}),
                 shown);
        QCOMPARE(slider->value(), position);
        QVERIFY(h.hostPackets().empty());  // selecting reads the record only
        slider->setSliderPosition(k);      // as a drag does
        h.settle();
        QCOMPARE(writes(h), (Writes{{address, written}}));
        QCOMPARE(text(h, "valueLabel"), valueAfter);
    }

    void reactivationReturnsToTheFirstPropertyAndPolls() {
        GuiHarness h;
        h.startSearched();
        QCOMPARE(h.ops().timerPeriods().back(), 250);
        control<QComboBox>(h, "propertySelector")->setCurrentIndex(4);
        h.clickTab("Configure");
        QCOMPARE(h.ops().activeTimers(), 0);
        h.clickTab("Operation");
        QCOMPARE(h.ops().activeTimers(), 1);
        QCOMPARE(control<QComboBox>(h, "propertySelector")->currentText(),
                 QStringLiteral("CW Compliance Margin"));
        QCOMPARE(control<QSlider>(h, "propertySlider")->toolTip(),
                 QStringLiteral("Set CW Compliance Margin"));
        QCOMPARE(text(h, "maxLabel"), QStringLiteral("254"));
    }

    void goalDragWritesEachPositionOnce() {
        GuiHarness h;
        h.startSearched();
        auto* slider = control<QSlider>(h, "goalSlider");
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.subControls = QStyle::SC_All;
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = option.sliderValue = slider->value();
        option.singleStep = slider->singleStep();
        option.pageStep = slider->pageStep();
        const QPoint grip =
            slider->style()
                ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
                .center();
        h.bus().clearTraffic();
        QTest::mousePress(slider, Qt::LeftButton, {}, grip);
        Writes moved;
        QPoint at = grip;
        for (int step = 0; step < 3; ++step) {
            at += QPoint(15, 0);
            QMouseEvent move(QEvent::MouseMove, QPointF(at), slider->mapToGlobal(QPointF(at)),
                             Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(slider, &move);
            moved.emplace_back(30, slider->sliderPosition());
            h.settle();  // a slow drag: each write is through before the next move
        }
        QVERIFY(moved[0].second > 512 && moved[1].second > moved[0].second &&
                moved[2].second > moved[1].second);
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
        QCOMPARE(writes(h), moved);
        QCOMPARE(text(h, "goalLabel"), QStringLiteral("%1 (").arg(moved[2].second) +
                                           text(h, "goalLabel").section('(', 1));
        h.bus().clearTraffic();
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Home);
        QTest::keyClick(slider, Qt::Key_End);
        h.settle();
        QVERIFY(h.hostPackets().empty());
        QTest::keyClick(slider, Qt::Key_Left);
        h.settle();
        QCOMPARE(writes(h), (Writes{{30, 1022}}));
    }

    void pollFailureCount_data() {
        QTest::addColumn<QString>("ticks");  // f failed poll, g good poll, b tick while busy
        QTest::addColumn<bool>("stopped");
        QTest::newRow("four failures, then good") << "ffffgffff" << false;
        QTest::newRow("busy tick resets the count") << "ffffbffff" << false;
        QTest::newRow("fifth failure") << "fffff" << true;
    }

    void pollFailureCount() {
        QFETCH(QString, ticks);
        QFETCH(bool, stopped);
        GuiHarness h;
        h.startSearched();
        QWidget* operation = page(h);
        SimulatedDevice* device = h.bus().find(1, 1);
        for (const QChar tick : ticks) {
            device->setFaults(tick == 'f' ? GuiHarness::silent() : SimFaults{});
            h.app().busBusy = tick == 'b' ? 1 : 0;
            h.bus().clearTraffic();
            h.ops().tickTimers();
            h.settle();
            QCOMPARE(h.hostPackets().empty(), tick == 'b');
        }
        h.app().busBusy = 0;
        QCOMPARE(h.ops().messages, stopped ? QStringList{kDeviceFailed} : QStringList{});
        h.settle();
        // Reported: the device list and the sheet were rebuilt without the silent device.
        QCOMPARE(h.sheet().indexOf(operation) < 0, stopped);
        QCOMPARE(h.ops().activeTimers(), 1);
    }

    void errorBitsTickTheBoxesAndPinTheTorqueLimit() {
        GuiHarness h;
        h.startSearched();
        control<QComboBox>(h, "propertySelector")->setCurrentIndex(5);
        SimulatedDevice* device = h.bus().find(1, 1);
        device->setReg16(34, 300);
        SimFaults faults;
        faults.errorBits = 0x44;  // instruction, overheating
        device->setFaults(faults);
        h.ops().tickTimers();
        h.settle();
        QString ticked;
        for (const char* box :
             {"instructionErrorBox", "overloadErrorBox", "checksumErrorBox", "rangeErrorBox",
              "overheatingErrorBox", "angleLimitErrorBox", "inputVoltageErrorBox"}) {
            ticked += control<QCheckBox>(h, box)->isChecked() ? '1' : '0';
        }
        QCOMPARE(ticked, QStringLiteral("1000100"));
        QCOMPARE(control<QSlider>(h, "propertySlider")->value(), 300);
        QCOMPARE(text(h, "valueLabel"), QStringLiteral("300"));
    }

    // A poll waits for the bus when a command comes: the command goes first, with its radios
    // disabled until its result is in, and the poll, whose turn comes while that result is not
    // yet shown (busBusy), is skipped. The next tick polls.
    void commandGoesBeforeAWaitingPollWhichIsSkipped() {
        GuiHarness h;
        h.startSearched();
        h.bus().clearTraffic();
        auto* on = control<QRadioButton>(h, "torqueOnRadio");
        auto* off = control<QRadioButton>(h, "torqueOffRadio");
        {
            ExecutorGate gate(h.app().executor());
            QCOMPARE(h.ops().tickTimers(), 1);
            QTest::mouseClick(on, Qt::LeftButton);
            QVERIFY(!on->isEnabled() && !off->isEnabled());
            QCOMPARE(h.app().busBusy.load(), 1);
            QCOMPARE(h.ops().tickTimers(), 1);  // the tick finds the bus busy: no second poll
        }
        h.settle();
        QCOMPARE(writes(h), (Writes{{24, 1}}));
        QCOMPARE(statusReads(h), 0);
        QVERIFY(on->isEnabled() && off->isEnabled() && on->isChecked());
        QCOMPARE(h.app().busBusy.load(), 0);
        h.ops().tickTimers();
        h.settle();
        QCOMPARE(statusReads(h), 1);
    }

    // The user moves a slider on while its write is on the bus: the position it has when that
    // write's result is in is written next; the positions passed over are not.
    void sliderMovesDuringAWriteAreCoalesced_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("steps");  // + and -: single steps, the first goes out at once
        QTest::addColumn<int>("writesExpected");
        QTest::newRow("goal, moved on") << "goalSlider" << 30 << "++++" << 2;
        QTest::newRow("goal, back where written") << "goalSlider" << 30 << "++-" << 1;
        QTest::newRow("speed, moved on") << "speedSlider" << 32 << "+++" << 2;
        QTest::newRow("compliance margin, moved on") << "propertySlider" << 26 << "++" << 2;
    }

    void sliderMovesDuringAWriteAreCoalesced() {
        QFETCH(QString, slider);
        QFETCH(int, address);
        QFETCH(QString, steps);
        QFETCH(int, writesExpected);
        GuiHarness h;
        h.startSearched();
        auto* moved = control<QSlider>(h, qPrintable(slider));
        h.bus().clearTraffic();
        int first = -1;
        {
            ExecutorGate gate(h.app().executor());
            for (const QChar step : steps) {
                moved->triggerAction(step == '+' ? QAbstractSlider::SliderSingleStepAdd
                                                 : QAbstractSlider::SliderSingleStepSub);
                first = first < 0 ? moved->value() : first;
            }
        }
        const int last = moved->value();
        h.settle();
        const Writes expected = writesExpected == 1 ? Writes{{address, first}}
                                                    : Writes{{address, first}, {address, last}};
        QCOMPARE(writes(h), expected);
        QCOMPARE(moved->value(), last);  // left where the user has it
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    // Until the first read of a newly selected device is in, its page shows neutral values,
    // not the form's placeholders; and a poll of the page it replaced that still waits for the
    // bus is withdrawn: it reads nothing.
    void aNewPageShowsNeutralValuesAndTheOldPollIsWithdrawn() {
        GuiHarness h;
        h.startSearched();
        h.bus().clearTraffic();
        {
            ExecutorGate gate(h.app().executor());
            QCOMPARE(h.ops().tickTimers(), 1);  // the poll of (1, 1) waits
            h.clickDeviceOnly(1, 3);
            for (const char* label : {"goalLabel", "speedLabel", "valueLabel"}) {
                QCOMPARE(text(h, label), QStringLiteral("---"));
            }
        }
        h.settle();
        QCOMPARE(statusReads(h), 0);
        QCOMPARE(h.sheet().currentId(), 3);
        QVERIFY(text(h, "goalLabel") != QStringLiteral("---"));
    }

    void vanishedDeviceStopsThePageQuietly_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("poll tick") << "tick";
        QTest::newRow("torque radio") << "torque";
        QTest::newRow("center") << "center";
        QTest::newRow("goal slider step") << "goal";
    }

    void vanishedDeviceStopsThePageQuietly() {
        QFETCH(QString, action);
        GuiHarness h;
        h.startSearched();
        QWidget* operation = page(h);
        bool removed = false;
        h.onBus([&] { removed = h.registry().removeAt(h.registry().indexOf(1, 1)); });
        QVERIFY(removed);
        h.bus().clearTraffic();
        if (action == "tick") {
            h.ops().tickTimers();
        } else if (action == "torque") {
            QTest::mouseClick(control<QRadioButton>(h, "torqueOnRadio"), Qt::LeftButton);
        } else if (action == "center") {
            QTest::mouseClick(control<QPushButton>(h, "centerButton"), Qt::LeftButton);
        } else {
            control<QSlider>(h, "goalSlider")->triggerAction(QAbstractSlider::SliderPageStepAdd);
        }
        h.settle();
        QVERIFY(h.hostPackets().empty());
        QCOMPARE(h.ops().activeTimers(), 0);
        QVERIFY(h.ops().messages.isEmpty());
        QCOMPARE(h.app().busBusy.load(), 0);
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QVERIFY(page(h) != operation);
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::OperationPageTest)
#include "OperationPageTest.moc"
