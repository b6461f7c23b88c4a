// Every page write with the user selecting another device while it is in flight: before the
// job has run, and after it ran but before its result is delivered. The write reaches the
// device it was for, busBusy counts it until its result, a failure is still reported, a
// Network change still makes its second step and the tree shows the device at its new address,
// and the user's selection stays where the user put it.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QTest>

#include <optional>

#include "protocol/Packet.h"
#include "support/ExecutorGate.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kDeviceFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");
const QStringList kActuatorTabs = {"Operation", "Configure", "Network", "Control Table"};

// The built-in bus with (1, 1) away from its centre and a turning wheel-mode actuator at
// (1, 6), whose page offers Stop: what Center and Stop write is news to them.
BusDescription busWithWheel() {
    BusDescription bus = SimulatedBus::defaultBus();
    bus.devices.front() = mvx::test::simSpec(1, 1, 28, 30, 2, {{30, 100}});
    bus.devices.push_back(mvx::test::simSpec(1, 6, 28, 30, 2, {{6, 0}, {8, 0}, {32, 200}}));
    return bus;
}

template <typename T>
T* control(GuiHarness& h, const QString& name) {
    T* widget = h.sheet().currentWidget()->findChild<T*>(name);
    if (widget == nullptr) {
        qFatal("no control %s", qPrintable(name));
    }
    return widget;
}

// The registers of the Write packets the host sent to `id`, in order.
QList<int> writtenTo(const GuiHarness& h, int id) {
    QList<int> registers;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() > 5 && t.bytes[2] == id && t.bytes[4] == Write) {
            registers.push_back(t.bytes[5]);
        }
    }
    return registers;
}

// Makes the page ready for `command` (what the user changes before the click).
void prepare(GuiHarness& h, const QString& command) {
    if (command.startsWith("configure ")) {
        QTest::mouseClick(control<QCheckBox>(h, "alarmLedInstructionBox"), Qt::LeftButton);
    } else if (command.startsWith("network")) {
        if (command.startsWith("network delay")) {
            control<QComboBox>(h, "delayCombo")->setCurrentIndex(9);
        }
        control<QComboBox>(h, "idCombo")->setCurrentIndex(40);
    }
}

// The click (or slider step) that submits the write.
void trigger(GuiHarness& h, const QString& command) {
    const QString control = command.section(' ', -1);
    if (command.endsWith("Slider")) {
        h.sheet().currentWidget()->findChild<QSlider*>(control)->triggerAction(
            QAbstractSlider::SliderSingleStepAdd);
    } else {
        QTest::mouseClick(h.sheet().currentWidget()->findChild<QAbstractButton*>(control),
                          Qt::LeftButton);
    }
}

}  // namespace

class PageWritesTest : public QObject {
    Q_OBJECT

private slots:
    void selectionChangeWhileAWriteIsInFlight_data() {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QString>("command");    // "<what> <control>" or a Configure/Network one
        QTest::addColumn<int>("id");             // the device written, at code 1
        QTest::addColumn<QList<int>>("writes");  // when it answers; the first when it is silent
        QTest::addColumn<bool>("ranFirst");      // the job ran before the selection changed
        QTest::addColumn<bool>("silent");        // the device stops answering first
        struct Case {
            const char* tab;
            const char* command;
            int id;
            QList<int> writes;
        };
        const Case cases[] = {
            {"Operation", "torque torqueOnRadio", 1, {24}},
            {"Operation", "led ledOnRadio", 1, {25}},
            {"Operation", "center centerButton", 1, {30}},
            {"Operation", "stop stopButton", 6, {32}},
            {"Operation", "goal goalSlider", 1, {30}},
            {"Operation", "speed speedSlider", 1, {32}},
            {"Operation", "property propertySlider", 1, {26}},
            {"Configure", "configure applyButton", 1, {17, 18}},
            {"Configure", "default defaultButton", 1, {}},
            {"Network", "network id applyButton", 1, {3}},
            {"Network", "network delay and id applyButton", 1, {5, 3}},
        };
        for (const Case& c : cases) {
            for (const bool ranFirst : {false, true}) {
                for (const bool silent : {false, true}) {
                    QTest::addRow("%s, %s, %s", c.command, ranFirst ? "ran" : "waiting",
                                  silent ? "silent" : "answering")
                        << c.tab << c.command << c.id << c.writes << ranFirst << silent;
                }
            }
        }
    }

    void selectionChangeWhileAWriteIsInFlight() {
        QFETCH(QString, tab);
        QFETCH(QString, command);
        QFETCH(int, id);
        QFETCH(QList<int>, writes);
        QFETCH(bool, ranFirst);
        QFETCH(bool, silent);
        GuiHarness h(busWithWheel());
        h.startSearched();
        h.clickDevice(1, id);
        h.clickTab(tab);
        prepare(h, command);
        if (silent) {
            h.bus().find(1, id)->setFaults(GuiHarness::silent());
        }
        h.bus().clearTraffic();
        {
            std::optional<ExecutorGate> gate;
            if (!ranFirst) {
                gate.emplace(h.app().executor());
            }
            trigger(h, command);
            QCOMPARE(h.app().busBusy.load(), 1);  // a page write, whichever page
            if (ranFirst) {
                h.app().executor().runUntilIdle();
            }
            h.clickDeviceOnly(1, 2);
            QCOMPARE(h.app().busBusy.load(), 1);  // its result is not in yet
        }
        h.settle();

        // The user's choice stands.
        QCOMPARE(h.tree().rememberedId(), 2);
        QCOMPARE(h.sheet().currentId(), 2);
        QCOMPARE(h.tabTitles(), kActuatorTabs);
        QCOMPARE(h.app().busBusy.load(), 0);
        QCOMPARE(h.app().jobs().inFlight(), 0);
        const QList<int> written = writtenTo(h, id);
        if (silent) {
            // Reported against the device written; the refresh drops it, the choice stays.
            QCOMPARE(h.ops().messages, QStringList{kDeviceFailed});
            QVERIFY(!written.isEmpty());
            if (!writes.isEmpty()) {
                QCOMPARE(written.first(), writes.first());
            }
            QVERIFY(deviceItem(h.tree(), 1, id) == nullptr);
            return;
        }
        QCOMPARE(h.ops().messages, QStringList());
        if (writes.isEmpty()) {
            QVERIFY(!written.isEmpty());
        } else {
            QCOMPARE(written, writes);
        }
        if (command.startsWith("network")) {
            // Both steps went out, and the tree lists the device at its new address.
            QVERIFY(deviceItem(h.tree(), 1, 40) != nullptr);
            QVERIFY(deviceItem(h.tree(), 1, id) == nullptr);
            QVERIFY(h.bus().find(1, 40) != nullptr);
        }
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::PageWritesTest)
#include "PageWritesTest.moc"
