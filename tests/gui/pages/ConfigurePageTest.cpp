// The Configure page as the user meets it: value labels, the pair adjustment on a left-button
// release (and none on the keyboard or other buttons), the mode pair, what Apply and Set
// Default put on the wire (device values beyond a slider's range included), and an Apply pass
// ended by a failure.
#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "protocol/Packet.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

using mvx::test::simSpec;

// ID 1 joint with narrowed limits, ID 2 in wheel mode, ID 3 the wide model, ID 4 with limits
// beyond the sliders' ranges (CCW 1500, 150 degrees, 4.0 V low, max torque 1500).
BusDescription configureBus() {
    BusDescription bus;
    bus.devices = {
        simSpec(1, 1, 28, 30, 2,
                {{6, 200}, {8, 800}, {11, 75}, {12, 70}, {13, 160}, {14, 900}, {17, 36}, {18, 4}}),
        simSpec(1, 2, 28, 30, 2, {{6, 0}, {8, 0}}), simSpec(1, 3, 106),
        simSpec(1, 4, 28, 30, 2, {{6, 200}, {8, 1500}, {11, 150}, {12, 40}, {14, 1500}})};
    return bus;
}

// The host's packets to `id` as "W<address>:<data bytes>" or "R<address>:<length>".
QStringList packetsTo(const GuiHarness& h, int id) {
    QStringList out;
    for (const SimTraffic& t : h.hostPackets()) {
        const auto& b = t.bytes;
        if (b.size() < 7 || b[2] != id) {
            continue;
        }
        QString text = QStringLiteral("%1%2:").arg(b[4] == Write ? 'W' : 'R').arg(b[5]);
        QStringList data;
        for (std::size_t i = 6; i + 1 < b.size(); ++i) {
            data << QString::number(b[i]);
        }
        out << text + data.join(',');
    }
    return out;
}

// The application with device (1, id) shown on the Configure page, traffic cleared.
struct Opened {
    explicit Opened(int id) : h(configureBus()) {
        h.startSearched();
        h.clickDevice(1, id);
        h.clickTab("Configure");
        h.bus().clearTraffic();
    }
    template <class T>
    T* get(const char* name) {
        T* child = h.sheet().currentWidget()->findChild<T*>(QString::fromLatin1(name));
        if (child == nullptr) {
            qFatal("no control %s", name);
        }
        return child;
    }
    QSlider* slider(const char* name) { return get<QSlider>(name); }
    QString label(const char* name) { return get<QLabel>(name)->text(); }
    bool applyEnabled() { return get<QPushButton>("applyButton")->isEnabled(); }
    // Clicks a button; whatever it puts on the bus is through when this returns.
    void click(const char* name) {
        QTest::mouseClick(get<QAbstractButton>(name), Qt::LeftButton);
        h.settle();
    }
    // The user lets go of a slider after dragging it to `value`.
    void dragTo(const char* name, int value) {
        slider(name)->setValue(value);
        QTest::mouseRelease(slider(name), Qt::LeftButton);
    }

    GuiHarness h;
};

}  // namespace

class ConfigurePageTest : public QObject {
    Q_OBJECT

private slots:
    void activationShowsTheDevice() {
        Opened o(1);
        QVERIFY(o.get<QRadioButton>("jointRadio")->isChecked());
        QVERIFY(o.slider("cwSlider")->isEnabled());
        QCOMPARE(o.slider("ccwSlider")->maximum(), 1023);
        QCOMPARE(o.label("cwLabel"), QStringLiteral("CW: 200"));
        QCOMPARE(o.label("ccwLabel"), QStringLiteral("CCW: 800"));
        QCOMPARE(o.label("temperatureLabel"), QStringLiteral("75℃"));
        QCOMPARE(o.label("voltageLowLabel"), QStringLiteral("Low:7.0v"));
        QCOMPARE(o.label("voltageHighLabel"), QStringLiteral("High:16.0v"));
        QCOMPARE(o.label("torqueLabel"), QStringLiteral(" 900\n(87％)"));
        // 36: overload and overheating; 4: overheating only.
        QVERIFY(o.get<QCheckBox>("alarmLedOverloadBox")->isChecked());
        QVERIFY(o.get<QCheckBox>("alarmLedOverheatingBox")->isChecked());
        QVERIFY(!o.get<QCheckBox>("alarmLedRangeBox")->isChecked());
        QVERIFY(!o.get<QCheckBox>("shutdownOverloadBox")->isChecked());
        QVERIFY(o.get<QCheckBox>("shutdownOverheatingBox")->isChecked());
        QVERIFY(!o.applyEnabled());
        // The wide model's angle sliders cover its whole range.
        o.h.clickDevice(1, 3);
        QCOMPARE(o.slider("cwSlider")->maximum(), 4095);
        QCOMPARE(o.slider("ccwSlider")->maximum(), 4095);
    }

    void labelsFollowEveryChange_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::newRow("low 50") << "voltageLowSlider" << 50 << "voltageLowLabel"
                                << "Low:5.0v";
        QTest::newRow("high 250") << "voltageHighSlider" << 250 << "voltageHighLabel"
                                  << "High:25.0v";
        QTest::newRow("temperature") << "temperatureSlider" << 70 << "temperatureLabel"
                                     << "70℃";
        QTest::newRow("torque half") << "torqueSlider" << 512 << "torqueLabel"
                                     << " 512\n(50％)";
        QTest::newRow("torque full") << "torqueSlider" << 1023 << "torqueLabel"
                                     << " 1023\n(100％)";
        QTest::newRow("torque none") << "torqueSlider" << 0 << "torqueLabel"
                                     << " 0\n(0％)";
        QTest::newRow("cw") << "cwSlider" << 7 << "cwLabel"
                            << "CW:   7";
        QTest::newRow("ccw") << "ccwSlider" << 1023 << "ccwLabel"
                             << "CCW:1023";
    }

    void labelsFollowEveryChange() {
        QFETCH(QString, slider);
        QFETCH(int, value);
        QFETCH(QString, label);
        QFETCH(QString, text);
        Opened o(1);
        o.slider(qPrintable(slider))->setValue(value);
        QCOMPARE(o.label(qPrintable(label)), text);
        QVERIFY(!o.applyEnabled());  // a change by the program enables nothing
    }

    void mouseReleaseAdjustsThePair_data() {
        QTest::addColumn<QString>("released");
        QTest::addColumn<QString>("other");
        QTest::addColumn<int>("otherValue");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("result");
        QTest::newRow("cw past ccw") << "cwSlider"
                                     << "ccwSlider" << 600 << 700 << 599;
        QTest::newRow("ccw below cw") << "ccwSlider"
                                      << "cwSlider" << 300 << 100 << 301;
        QTest::newRow("angles equal") << "cwSlider"
                                      << "ccwSlider" << 500 << 500 << 500;
        QTest::newRow("upper below lower") << "voltageHighSlider"
                                           << "voltageLowSlider" << 95 << 80 << 96;
        QTest::newRow("lower past upper") << "voltageLowSlider"
                                          << "voltageHighSlider" << 100 << 120 << 99;
        QTest::newRow("lower at the bottom") << "voltageLowSlider"
                                             << "voltageHighSlider" << 50 << 60 << 50;
        QTest::newRow("temperature alone") << "temperatureSlider"
                                           << "torqueSlider" << 0 << 90 << 90;
    }

    void mouseReleaseAdjustsThePair() {
        QFETCH(QString, released);
        QFETCH(QString, other);
        QFETCH(int, otherValue);
        QFETCH(int, value);
        QFETCH(int, result);
        Opened o(1);
        o.slider(qPrintable(other))->setValue(otherValue);
        o.dragTo(qPrintable(released), value);
        QCOMPARE(o.slider(qPrintable(released))->value(), result);
        QCOMPARE(o.slider(qPrintable(other))->value(), otherValue);
        QVERIFY(o.applyEnabled());
    }

    void keyboardMovesWithoutAdjustingAndAClickInTheChannelCounts() {
        Opened o(1);
        QSlider* cw = o.slider("cwSlider");
        o.slider("ccwSlider")->setValue(200);
        cw->setFocus();
        QTest::keyClick(cw, Qt::Key_Right);
        QCOMPARE(cw->value(), 201);
        QCOMPARE(o.label("cwLabel"), QStringLiteral("CW: 201"));
        QVERIFY(!o.applyEnabled());
        // A click in the channel beyond the thumb moves it, then the release adjusts.
        QTest::mouseClick(cw, Qt::LeftButton, {}, QPoint(cw->width() - 2, cw->height() / 2));
        QCOMPARE(cw->value(), 199);
        QVERIFY(o.applyEnabled());
    }

    void onlyTheLeftButtonReleasesASlider_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("cw");
        QTest::addColumn<bool>("applyEnabled");
        QTest::newRow("left") << int(Qt::LeftButton) << 599 << true;
        QTest::newRow("right") << int(Qt::RightButton) << 700 << false;
        QTest::newRow("middle") << int(Qt::MiddleButton) << -1 << false;
    }

    void onlyTheLeftButtonReleasesASlider() {
        QFETCH(int, button);
        QFETCH(int, cw);
        QFETCH(bool, applyEnabled);
        Opened o(1);
        QSlider* slider = o.slider("cwSlider");
        o.slider("ccwSlider")->setValue(600);
        slider->setValue(700);
        // In the channel beyond the thumb, where a left click moves the thumb further.
        QTest::mouseClick(slider, static_cast<Qt::MouseButton>(button), {},
                          QPoint(slider->width() - 2, slider->height() / 2));
        if (cw >= 0) {
            QCOMPARE(slider->value(), cw);
        } else {
            QVERIFY(slider->value() >= 600);  // wherever the style put it: not adjusted
        }
        QCOMPARE(o.applyEnabled(), applyEnabled);
    }

    void wheelDeviceBackToJoint() {
        Opened o(2);
        QVERIFY(o.get<QRadioButton>("wheelRadio")->isChecked());
        QVERIFY(!o.slider("cwSlider")->isEnabled());
        QVERIFY(!o.slider("ccwSlider")->isEnabled());
        // Wheel again on a wheel device: no angle register written.
        o.click("wheelRadio");
        QVERIFY(o.applyEnabled());
        o.click("applyButton");
        const QStringList alarms = packetsTo(o.h, 2).mid(0, 2);
        QCOMPARE(alarms.size(), 2);
        QVERIFY(alarms[0].startsWith("W17:") && alarms[1].startsWith("W18:"));
        o.h.bus().clearTraffic();
        o.click("jointRadio");
        QCOMPARE(o.slider("cwSlider")->value(), 0);
        QCOMPARE(o.slider("ccwSlider")->value(), 1023);
        QCOMPARE(o.label("ccwLabel"), QStringLiteral("CCW:1023"));
        QVERIFY(o.slider("cwSlider")->isEnabled());
        o.click("applyButton");
        // Both limits in one mode write, then the alarm bytes and the read-back.
        QCOMPARE(packetsTo(o.h, 2), (QStringList{"W6:0,0,255,3", alarms[0], alarms[1], "R6:13"}));
        QVERIFY(o.get<QRadioButton>("jointRadio")->isChecked());
        QVERIFY(!o.applyEnabled());
    }

    void applyWritesOnlyWhatChanged_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("value");
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("nothing changed") << "" << 0 << QStringList{};
        QTest::newRow("torque") << "torqueSlider" << 512 << QStringList{"W14:0,2"};
        QTest::newRow("ccw") << "ccwSlider" << 801 << QStringList{"W8:33,3"};
        QTest::newRow("upper voltage") << "voltageHighSlider" << 170 << QStringList{"W13:170"};
        QTest::newRow("temperature") << "temperatureSlider" << 80 << QStringList{"W11:80"};
    }

    void applyWritesOnlyWhatChanged() {
        QFETCH(QString, slider);
        QFETCH(int, value);
        QFETCH(QStringList, writes);
        Opened o(1);
        if (!slider.isEmpty()) {
            o.dragTo(qPrintable(slider), value);
        }
        o.get<QCheckBox>("shutdownRangeBox")->click();  // bit 3 added to 4
        o.click("applyButton");
        QCOMPARE(packetsTo(o.h, 1), writes + QStringList({"W17:36", "W18:12", "R6:13"}));
        QVERIFY(!o.applyEnabled());
        QVERIFY(o.get<QCheckBox>("shutdownRangeBox")->isChecked());  // read back
    }

    void limitsBeyondTheSlidersAreWrittenOnlyWhenMoved_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("value");  // -1: one step down by the keyboard
        QTest::addColumn<QStringList>("writes");
        QTest::newRow("none moved") << "" << 0 << QStringList{};
        QTest::newRow("temperature") << "temperatureSlider" << 90 << QStringList{"W11:90"};
        QTest::newRow("temperature by keyboard")
            << "temperatureSlider" << -1 << QStringList{"W11:99"};
        QTest::newRow("low voltage") << "voltageLowSlider" << 60 << QStringList{"W12:60"};
        QTest::newRow("ccw") << "ccwSlider" << 900 << QStringList{"W8:132,3"};
        QTest::newRow("torque") << "torqueSlider" << 1000 << QStringList{"W14:232,3"};
    }

    void limitsBeyondTheSlidersAreWrittenOnlyWhenMoved() {
        QFETCH(QString, slider);
        QFETCH(int, value);
        QFETCH(QStringList, writes);
        Opened o(4);
        // Each slider stops at the end of its range.
        QCOMPARE(o.label("temperatureLabel"), QStringLiteral("100℃"));
        QCOMPARE(o.label("voltageLowLabel"), QStringLiteral("Low:5.0v"));
        QCOMPARE(o.label("ccwLabel"), QStringLiteral("CCW:1023"));
        QCOMPARE(o.label("torqueLabel"), QStringLiteral(" 1023\n(100％)"));
        if (!slider.isEmpty() && value >= 0) {
            o.dragTo(qPrintable(slider), value);
        } else if (!slider.isEmpty()) {
            o.slider(qPrintable(slider))->setFocus();
            QTest::keyClick(o.slider(qPrintable(slider)), Qt::Key_Down);
        }
        o.get<QCheckBox>("alarmLedRangeBox")->click();
        o.click("applyButton");
        // The range box added to the default alarm byte 36; the shutdown byte as it was.
        QCOMPARE(packetsTo(o.h, 4), writes + QStringList({"W17:44", "W18:36", "R6:13"}));
    }

    void setDefaultKeepsNarrowedJointLimits() {
        Opened o(1);
        o.click("defaultButton");
        QCOMPARE(packetsTo(o.h, 1), (QStringList{"W14:255,3", "W17:36", "W18:36", "W11:80",
                                                 "W13:190", "W12:60", "R6:13"}));
        QCOMPARE(o.label("cwLabel"), QStringLiteral("CW: 200"));
        QCOMPARE(o.label("voltageHighLabel"), QStringLiteral("High:19.0v"));
        QVERIFY(o.get<QCheckBox>("shutdownOverloadBox")->isChecked());
    }

    void failedAlarmWriteEndsThePass() {
        Opened o(1);
        SimulatedDevice* device = o.h.bus().find(1, 1);
        SimFaults faults;
        faults.silentAfterPackets = device->packetsHeard();  // deaf from the next packet on
        device->setFaults(faults);
        QPointer<QPushButton> apply = o.get<QPushButton>("applyButton");
        o.get<QCheckBox>("alarmLedRangeBox")->click();
        o.click("applyButton");
        // The alarm-LED write times out: the shutdown byte is not written, nothing re-read.
        const QStringList sent = packetsTo(o.h, 1);
        QVERIFY(!sent.isEmpty());
        QVERIFY(sent.first().startsWith("W17:"));
        for (const QString& packet : sent) {
            QVERIFY2(!packet.startsWith("W18") && !packet.startsWith("R6:13"), qPrintable(packet));
        }
        QCOMPARE(o.h.ops().messages.size(), 1);
        QVERIFY(apply.isNull() || !apply->isEnabled());  // retired, and deleted later
        QApplication::processEvents();
    }

    void aDeviceGoneFallsBack_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("apply") << "applyButton";
        QTest::newRow("set default") << "defaultButton";
    }

    void aDeviceGoneFallsBack() {
        QFETCH(QString, button);
        Opened o(1);
        o.get<QCheckBox>("alarmLedRangeBox")->click();
        bool removed = false;
        o.h.onBus([&] { removed = o.h.registry().removeAt(o.h.registry().indexOf(1, 1)); });
        QVERIFY(removed);
        o.click(qPrintable(button));
        QVERIFY(o.h.hostPackets().empty());
        QCOMPARE(o.h.tabTitles(), QStringList{"No Information"});
    }

    void everythingFitsThePageArea() {
        Opened o(3);
        QWidget* page = o.h.sheet().currentWidget();
        QVERIFY(page->width() <= 470 && page->height() <= 395);  // the page area, 1x
        // Widest values on every label.
        o.slider("ccwSlider")->setValue(4095);
        o.slider("cwSlider")->setValue(4095);
        o.slider("voltageHighSlider")->setValue(250);
        o.slider("torqueSlider")->setValue(1023);
        for (int depth = 0; depth < 3; ++depth) {  // page, group, row layouts
            QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        }
        const QRect area = page->rect();
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
                const QRect r(w->mapTo(page, QPoint(0, 0)), w->size());
                QVERIFY2(area.contains(r), qPrintable(w->objectName()));
                QVERIFY2(
                    w->width() >= w->sizeHint().width() && w->height() >= w->sizeHint().height(),
                    qPrintable(w->objectName()));
            }
        }
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::ConfigurePageTest)
#include "ConfigurePageTest.moc"
