// The telemetry window over the simulated bus on the virtual clock: its command's enabling
// rule and one window per device, what reaches the CSV file, the gaps while busBusy is held,
// the two ways sampling stops by itself (five failures, a 101), and the window's sampling
// across Close, a refresh that drops its device, and Exit. The sampling worker is real; on
// the virtual clock it samples as fast as the simulated bus answers.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "gui/telemetry/TelemetryPlots.h"
#include "gui/telemetry/TelemetryWindow.h"
#include "gui/telemetry/TelemetryWindows.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "support/DecimalCommaLocale.h"
#include "support/FileSizeLimit.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kAccessFailed =
    QStringLiteral("USB2Movantrix access failed! \n\nPlease check connection.");
const QString kDeviceFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");

// Actuators at (1, 1), standing at 300 with 12.1 V and 37 degrees, and (1, 3); a sensor.
BusDescription smallBus() {
    BusDescription bus;
    bus.devices.push_back(
        mvx::test::simSpec(1, 1, 28, 30, 2, {{30, 300}, {36, 300}, {42, 121}, {43, 37}}));
    bus.devices.push_back(mvx::test::simSpec(1, 3, 28));
    bus.devices.push_back(mvx::test::simSpec(1, 100, 13));
    return bus;
}

template <typename T>
T* control(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}

QString text(QWidget* window, const char* name) {
    return control<QLabel>(window, name)->text();
}

void click(QWidget* window, const char* name) {
    QTest::mouseClick(control<QPushButton>(window, name), Qt::LeftButton);
}

// Drains the window on its own timer until `done` holds (bounded in real time).
bool drainUntil(GuiHarness& h, TelemetryWindow* window, const std::function<bool()>& done) {
    return waitFor([&] {
        h.ops().tickTimersOf(window);
        return done();
    });
}

// Ctrl+`key` on the main window. Its shortcuts work while it is the active window, and a
// telemetry window opened before is the active one until the activation is through.
bool pressOnMainWindow(GuiHarness& h, Qt::Key key) {
    h.window().activateWindow();
    if (!QTest::qWaitForWindowActive(&h.window())) {
        return false;
    }
    QTest::keyClick(&h.window(), key, Qt::ControlModifier);
    return true;
}

// The device's window, opened with Ctrl+T after selecting it in the tree.
TelemetryWindow* openWith(GuiHarness& h, int code, int id) {
    h.clickDevice(code, id);
    if (!pressOnMainWindow(h, Qt::Key_T)) {
        return nullptr;
    }
    return h.window().telemetry().find(code, id);
}

// Reads of the status block (26 bytes from register 24) sent to `id`.
int statusReads(GuiHarness& h, int id) {
    int reads = 0;
    for (const SimTraffic& t : h.hostPackets()) {
        reads += t.bytes.size() == 8 && t.bytes[2] == id && t.bytes[4] == Read &&
                         t.bytes[5] == 24 && t.bytes[6] == 26
                     ? 1
                     : 0;
    }
    return reads;
}

}  // namespace

class TelemetryWindowTest : public QObject {
    Q_OBJECT

private slots:
    void menuRuleAndOneWindowPerDevice() {
        GuiHarness h;
        h.startSearched();
        auto* menu = h.window().findChild<QMenu*>(QStringLiteral("advanceMenu"));
        auto enabled = [&](int code, int id) {
            h.clickDevice(code, id);
            emit menu->aboutToShow();
            return h.window().action(Command::Telemetry)->isEnabled();
        };
        QVERIFY(enabled(1, 1));
        QVERIFY(enabled(34, 7));     // return level 1 answers reads
        QVERIFY(!enabled(1, 9));     // return level 0 answers pings only
        QVERIFY(!enabled(34, 100));  // a sensor
        // Disabled, the shortcut does nothing.
        QVERIFY(pressOnMainWindow(h, Qt::Key_T));
        QCOMPARE(h.window().telemetry().count(), 0);

        TelemetryWindow* first = openWith(h, 1, 1);
        QVERIFY(first != nullptr);
        QCOMPARE(first->windowTitle(), QStringLiteral("Movantrix Telemetry - ID 1, Baud 1"));
        QCOMPARE(control<QComboBox>(first, "rateCombo")->currentText(), QStringLiteral("25 Hz"));
        QVERIFY(first->sampling());
        TelemetryWindow* slow = openWith(h, 34, 7);
        QCOMPARE(slow->windowTitle(), QStringLiteral("Movantrix Telemetry - ID 7, Baud 34"));
        QCOMPARE(control<QComboBox>(slow, "rateCombo")->currentText(), QStringLiteral("10 Hz"));
        // Opening the first device's window again raises the one it has.
        QCOMPARE(openWith(h, 1, 1), first);
        QCOMPARE(h.window().telemetry().count(), 2);
        QVERIFY(first->isVisible());

        h.command(Command::Close);
        emit menu->aboutToShow();
        QVERIFY(!h.window().action(Command::Telemetry)->isEnabled());
    }

    void csvHoldsTheReadsOfTheSession() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickTab(QStringLiteral("Network"));  // the Operation page's poll stays quiet
        TelemetryWindow* window = openWith(h, 1, 1);
        control<QComboBox>(window, "rateCombo")->setCurrentIndex(4);  // 100 Hz
        click(window, "clearButton");  // the session starts again at the next sample
        QVERIFY(drainUntil(h, window, [&] { return window->trace().readCount() >= 30; }));
        click(window, "pauseButton");
        QVERIFY(!window->sampling());
        QCOMPARE(control<QPushButton>(window, "pauseButton")->text(), QStringLiteral("Resume"));
        const int reads = window->trace().readCount();
        QCOMPARE(text(window, "statusLabel"),
                 QStringLiteral("Sample rate: 0.0 Hz   Samples: %1   Gaps: 0").arg(reads));
        QVERIFY(!window->plots().curvePoints(0, 0).isEmpty());

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.csv"));
        h.ops().saveAnswers.push_back(path);
        click(window, "saveButton");
        QCOMPARE(h.ops().lastFilter, QStringLiteral("CSV files (*.csv)"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), reads + 1);
        QCOMPARE(lines[0], QStringLiteral("time_s,present_position,present_speed,present_load,"
                                          "present_voltage,present_temperature,goal_position,"
                                          "moving"));
        QCOMPARE(lines[1], QStringLiteral("0.000,300,0,0,12.1,37,300,0"));
        QCOMPARE(lines[reads].section(',', 1), QStringLiteral("300,0,0,12.1,37,300,0"));
        const double last = lines[reads].section(',', 0, 0).toDouble();
        QCOMPARE(lines[reads - 1].section(',', 0, 0), QString::number(last - 0.01, 'f', 3));

        // A file that cannot be written is said so, not passed over.
        h.ops().saveAnswers.push_back(dir.filePath(QStringLiteral("missing/run.csv")));
        click(window, "saveButton");
        QCOMPARE(h.ops().messages.size(), 1);
        QVERIFY(h.ops().messages.front().startsWith(QStringLiteral("Can not write the file")));
    }

    // A CSV file that cannot be written (a full disk, no regular file) is said so with the
    // reason; the old file stays, and the samples stay for another try.
    void csvSaveFailuresKeepTheSamples() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickTab(QStringLiteral("Network"));
        TelemetryWindow* window = openWith(h, 1, 1);
        QVERIFY(drainUntil(h, window, [&] { return window->trace().readCount() >= 20; }));
        click(window, "pauseButton");
        const int reads = window->trace().readCount();

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.csv"));
        const QString fifo = dir.filePath(QStringLiteral("fifo.csv"));
        QCOMPARE(::mkfifo(fifo.toStdString().c_str(), 0600), 0);
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
        }
        const struct {
            QString target;
            QString reason;
            rlim_t room;  // bytes a file may grow to
        } cases[] = {
            {path, path + ": " + QString::fromLocal8Bit(std::strerror(EFBIG)), 64},
            {fifo, fifo + ": not a regular file", RLIM_INFINITY},
            {dir.path(), dir.path() + ": not a regular file", RLIM_INFINITY},
        };
        for (const auto& c : cases) {
            h.ops().messages.clear();
            h.ops().saveAnswers.push_back(c.target);
            {
                const mvx::test::FileSizeLimit limit(c.room);
                click(window, "saveButton");
            }
            QCOMPARE(h.ops().messages,
                     QStringList{"Can not write the file!\n\n" + c.reason +
                                 "\n\nThe samples stay in this window for another try."});
        }
        QFile old(path);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 (QStringList{"fifo.csv", "run.csv"}));

        // Another try with room: every sample is there.
        QCOMPARE(window->trace().readCount(), reads);
        h.ops().messages.clear();
        h.ops().saveAnswers.push_back(path);
        click(window, "saveButton");
        QVERIFY(h.ops().messages.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), reads + 1);
    }

    // Numbers for machines keep their decimal point whatever the locale: each line has its
    // eight fields.
    void csvKeepsItsDecimalPointUnderADecimalCommaLocale() {
        const mvx::test::DecimalCommaLocale locale;
        if (!locale.active()) {
            QSKIP(mvx::test::DecimalCommaLocale::kMissing);
        }
        TelemetryTrace trace;
        StatusSample sample;
        sample.ok = true;
        sample.presentVoltage = 121;
        sample.presentPosition = 300;
        for (const double t : {0.0, 0.125, 1.5}) {
            sample.timeS = t;
            trace.add(sample, 10.0);
        }
        QCOMPARE(trace.csv().split('\n').mid(1),
                 (QList<QByteArray>{"0.000,300,0,0,12.1,0,0,0", "0.125,300,0,0,12.1,0,0,0",
                                    "1.500,300,0,0,12.1,0,0,0", ""}));
    }

    void noSampleWhileTheBusIsBusy() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickTab(QStringLiteral("Network"));
        TelemetryWindow* window = openWith(h, 1, 1);
        QVERIFY(drainUntil(h, window, [&] { return window->trace().readCount() >= 5; }));
        h.app().busBusy = 1;
        // A read that began before the flag was set may still land: wait for yielded gaps.
        QVERIFY(drainUntil(h, window, [&] { return window->trace().gapCount() >= 3; }));
        h.bus().clearTraffic();
        const int readsWhileBusy = window->trace().readCount();
        QVERIFY(drainUntil(h, window, [&] { return window->trace().gapCount() >= 20; }));
        QCOMPARE(statusReads(h, 1), 0);
        QCOMPARE(window->trace().readCount(), readsWhileBusy);
        QVERIFY(window->sampling());  // yielding is no failure

        h.app().busBusy = 0;
        QVERIFY(drainUntil(h, window,
                           [&] { return window->trace().readCount() >= readsWhileBusy + 5; }));
        click(window, "pauseButton");
        const TelemetryTrace& trace = window->trace();
        QVERIFY(
            text(window, "statusLabel").endsWith(QStringLiteral("Gaps: %1").arg(trace.gapCount())));
        // The plots shade the stretch without reads.
        QVERIFY(!trace.unsampled(0, trace.lastTimeS()).empty());
        QVERIFY(h.ops().messages.isEmpty());
    }

    void fiveFailuresStopSamplingAndResumeTriesAgain() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickTab(QStringLiteral("Network"));
        TelemetryWindow* window = openWith(h, 1, 1);
        click(window, "pauseButton");
        // A read the executor had begun goes on to its end (its sample is dropped): it must
        // not be among the reads counted below.
        h.settle();
        h.bus().find(1, 1)->setFaults(GuiHarness::silent());
        h.bus().clearTraffic();
        click(window, "pauseButton");  // Resume
        QVERIFY(drainUntil(h, window, [&] { return !window->sampling(); }));
        QCOMPARE(text(window, "messageLabel"),
                 QStringLiteral("No answer from ID 1: sampling stopped"));
        QCOMPARE(statusReads(h, 1), 5);
        QCOMPARE(window->trace().gapCount(), 5);
        QVERIFY(h.ops().messages.isEmpty());  // no message box, no refresh
        QCOMPARE(h.registry().deviceCount(), 3);

        h.bus().find(1, 1)->setFaults(SimFaults{});
        click(window, "pauseButton");
        QVERIFY(window->sampling());
        QCOMPARE(text(window, "messageLabel"), QString());
        QVERIFY(drainUntil(h, window, [&] { return window->trace().readCount() >= 3; }));
    }

    // Telemetry at 100 Hz on (1, 1) at code 1 while the Operation page polls (34, 7) at code 34
    // and writes its LED: every exchange goes out at its own device's rate and is answered.
    // (Run under ThreadSanitizer, this is the executor and the GUI thread at work together.)
    void telemetryThePollAndPageCommandsAtTwoCodes() {
        GuiHarness h;
        h.startSearched();
        TelemetryWindow* window = openWith(h, 1, 1);
        control<QComboBox>(window, "rateCombo")->setCurrentIndex(4);  // 100 Hz
        h.clickDevice(34, 7);
        h.clickTab(QStringLiteral("Operation"));
        const QStringList radios = {"ledOnRadio", "ledOffRadio"};
        SimulatedDevice* sampled = h.bus().find(1, 1);
        SimulatedDevice* polled = h.bus().find(34, 7);
        const int sampledBefore = sampled->packetsHeard();
        for (int round = 0; round < 20; ++round) {
            const int heard = polled->packetsHeard();
            h.bus().clearTraffic();
            h.ops().tickTimersOf(h.sheet().currentWidget());  // a poll
            h.settle();
            QTest::mouseClick(
                h.sheet().currentWidget()->findChild<QAbstractButton*>(radios[round % 2]),
                Qt::LeftButton);
            h.settle();
            h.ops().tickTimersOf(window);
            // The poll and the LED write, each heard at the device's own rate.
            QCOMPARE(polled->packetsHeard() - heard, 2);
            QCOMPARE(polled->reg(25), round % 2 == 0 ? 1 : 0);
            for (const SimTraffic& t : h.hostPackets()) {
                QCOMPARE(t.rateBps, rateOf(t.bytes[2] == 1 ? 1 : 34));
            }
        }
        click(window, "pauseButton");
        QVERIFY(h.ops().messages.isEmpty());
        QVERIFY(sampled->packetsHeard() - sampledBefore >= 20);
        QVERIFY(window->trace().readCount() > 0);
    }

    void adapterFailureGoesThroughTheReport() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickTab(QStringLiteral("Network"));
        TelemetryWindow* window = openWith(h, 1, 1);
        QVERIFY(drainUntil(h, window, [&] { return window->trace().readCount() >= 3; }));
        h.bus().failAdapterFrom(1);
        QVERIFY(drainUntil(h, window, [&] { return !h.busOpen(); }));
        h.settle();
        QCOMPARE(h.ops().messages, QStringList{kAccessFailed});
        QVERIFY(h.treeTexts().isEmpty());
        QVERIFY(!window->sampling());
        QCOMPARE(text(window, "messageLabel"),
                 QStringLiteral("Connection closed: sampling stopped"));
        QVERIFY(window->isVisible());  // the samples stay to be saved
    }

    // The message box of a real report runs a nested event loop: the Operation page's poll
    // and the other windows meet the lost adapter meanwhile. One message, whoever meets it
    // first, and no window samples once it is up.
    void adapterLostWithWindowsOpenIsReportedOnce_data() {
        QTest::addColumn<bool>("pageFirst");
        QTest::newRow("a window meets it first") << false;
        QTest::newRow("the page's poll meets it first") << true;
    }

    void adapterLostWithWindowsOpenIsReportedOnce() {
        QFETCH(bool, pageFirst);
        GuiHarness h(smallBus());
        h.startSearched();
        TelemetryWindow* first = openWith(h, 1, 1);  // the sheet shows ID 1's Operation page
        TelemetryWindow* second = openWith(h, 1, 3);
        h.clickDevice(1, 1);
        QCOMPARE(h.activeTab(), QStringLiteral("Operation"));
        QVERIFY(drainUntil(h, second, [&] { return second->trace().readCount() >= 3; }));
        int depth = 0;
        bool samplingWhileShown = false;
        h.ops().whileMessageShown = [&] {
            if (depth++ == 0) {
                samplingWhileShown = first->sampling() || second->sampling();
                // The modal loop: the poll ticks and the windows' ends arrive.
                waitFor([&] {
                    h.ops().tickTimers();
                    return !first->sampling() && !second->sampling();
                });
            }
            --depth;
        };
        h.bus().failAdapterFrom(1);
        if (pageFirst) {
            h.ops().tickTimers();  // the poll runs before any window's end is delivered
        }
        QVERIFY(waitFor([&] { return !h.busOpen(); }));
        h.settle();  // the Close's result, closed on the bus already, reaches the window
        QCOMPARE(h.ops().messages, QStringList{kAccessFailed});
        QVERIFY(!samplingWhileShown);
        for (TelemetryWindow* window : {first, second}) {
            QVERIFY(!window->sampling());
            QCOMPARE(text(window, "messageLabel"),
                     QStringLiteral("Connection closed: sampling stopped"));
        }
        QVERIFY(h.treeTexts().isEmpty());
        h.ops().tickTimers();
        QCOMPARE(h.ops().messages.size(), 1);
    }

    void refreshThatDropsTheDeviceEndsItsSampling() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickTab(QStringLiteral("Network"));
        TelemetryWindow* kept = openWith(h, 1, 1);
        TelemetryWindow* dropped = openWith(h, 1, 3);
        QVERIFY(drainUntil(h, dropped, [&] { return dropped->trace().readCount() >= 3; }));
        // The sheet's device fails; the refresh drops ID 3, which is silent now.
        h.bus().find(1, 3)->setFaults(GuiHarness::silent());
        QVERIFY(h.window().reportBusFailure(Timeout));
        h.settle();
        QCOMPARE(h.ops().messages, QStringList{kDeviceFailed});
        QVERIFY(!h.treeTexts().contains(QStringLiteral("  ID 3")));
        QVERIFY(!dropped->sampling());
        QCOMPARE(text(dropped, "messageLabel"),
                 QStringLiteral("ID 3 is no longer on the device list: sampling stopped"));
        click(dropped, "pauseButton");  // Resume: still not listed
        QVERIFY(!dropped->sampling());
        // The other window samples on after the refresh.
        QVERIFY(kept->sampling());
        const int reads = kept->trace().readCount();
        QVERIFY(drainUntil(h, kept, [&] { return kept->trace().readCount() >= reads + 3; }));
    }

    void closeAndExitWhileSampling() {
        GuiHarness h(smallBus());
        h.startSearched();
        TelemetryWindow* first = openWith(h, 1, 1);
        QPointer<TelemetryWindow> second = openWith(h, 1, 3);
        QVERIFY(drainUntil(h, first, [&] { return first->trace().readCount() >= 3; }));
        QVERIFY(pressOnMainWindow(h, Qt::Key_C));  // Close
        h.settle();
        QVERIFY(!h.busOpen());
        QCOMPARE(h.registry().entryCount(), 0);
        QVERIFY(!first->sampling() && !second->sampling());
        QCOMPARE(text(first, "messageLabel"),
                 QStringLiteral("Connection closed: sampling stopped"));
        click(first, "pauseButton");  // Resume: no connection
        QVERIFY(!first->sampling());

        // Exit with a window sampling: it closes and goes with its worker.
        GuiHarness again(smallBus());
        again.startSearched();
        QPointer<TelemetryWindow> open = openWith(again, 1, 1);
        QVERIFY(drainUntil(again, open, [&] { return open->trace().readCount() >= 3; }));
        QVERIFY(pressOnMainWindow(again, Qt::Key_X));
        QVERIFY(!again.window().isVisible());
        QVERIFY(waitFor([&] { return open.isNull(); }));
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::TelemetryWindowTest)
#include "TelemetryWindowTest.moc"
