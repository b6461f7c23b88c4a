// The GUI's side of the bus executor: a job's result reaches the GUI thread (or nobody, when
// the object it was bound to has gone), busBusy counts a page write from its submission to its
// result, and the window answers while a job holds the bus: menus, tabs and tooltips work,
// the control whose command is on the bus is disabled, and a second command waits its turn.
#include <QAbstractButton>
#include <QComboBox>
#include <QMenu>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include <optional>
#include <stdexcept>
#include <thread>

#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "support/ExecutorGate.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

template <typename T>
T* control(GuiHarness& h, const char* name) {
    T* widget = h.sheet().currentWidget()->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}

// The host's packets as "W<address>:<first data byte>" or "R<address>:<length>".
QStringList packets(const GuiHarness& h) {
    QStringList out;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() >= 7 && (t.bytes[4] == Write || t.bytes[4] == Read)) {
            out << QStringLiteral("%1%2:%3")
                       .arg(t.bytes[4] == Write ? 'W' : 'R')
                       .arg(t.bytes[5])
                       .arg(t.bytes[6]);
        }
    }
    return out;
}

// Result types as jobs return them, for what a job that threw delivers.
struct WithCode {
    int result = 0;
    int other = 7;
};
struct BuildsItsOwn {
    int result = 0;
    bool registered = false;
    static BuildsItsOwn jobFailed() { return {AdapterFailure, true}; }
};
struct FlowReport {
    bool adapterLost = false;
    int given = 2;
};
struct NoCode {
    int count = 3;
};

// Runs a job of result type R whose work throws; what its completion got.
template <typename R>
std::optional<R> thrownJob(GuiHarness& h) {
    QObject context;
    std::optional<R> delivered;
    h.app().jobs().command(
        &context, []() -> R { throw std::runtime_error("unforeseen"); },
        [&delivered](const R& result) { delivered = result; }, BusJobs::RaiseBusy);
    h.settle();
    return delivered;
}

}  // namespace

class BusJobsTest : public QObject {
    Q_OBJECT

private slots:
    void resultsComeBackOnTheGuiThreadUnlessTheirObjectIsGone_data() {
        QTest::addColumn<bool>("contextGone");
        QTest::addColumn<bool>("raiseBusy");
        QTest::newRow("delivered") << false << false;
        QTest::newRow("delivered, busy meanwhile") << false << true;
        QTest::newRow("object gone") << true << false;
        QTest::newRow("object gone, busy meanwhile") << true << true;
    }

    void resultsComeBackOnTheGuiThreadUnlessTheirObjectIsGone() {
        QFETCH(bool, contextGone);
        QFETCH(bool, raiseBusy);
        GuiHarness h;
        h.startUp();
        auto context = std::make_unique<QObject>();
        std::thread::id ranOn;
        std::thread::id doneOn;
        int delivered = -1;
        int busyInJob = -1;
        h.app().jobs().command(
            context.get(),
            [&] {
                ranOn = std::this_thread::get_id();
                busyInJob = h.app().busBusy.load();
                return 42;
            },
            [&](int result) {
                doneOn = std::this_thread::get_id();
                delivered = result;
            },
            raiseBusy ? BusJobs::RaiseBusy : BusJobs::LeaveBusy);
        QCOMPARE(h.app().jobs().inFlight(), 1);
        QCOMPARE(h.app().busBusy.load(), raiseBusy ? 1 : 0);
        if (contextGone) {
            h.app().executor().runUntilIdle();
            context.reset();
        }
        h.settle();
        QCOMPARE(busyInJob, raiseBusy ? 1 : 0);
        QVERIFY(ranOn != std::this_thread::get_id());
        QCOMPARE(delivered, contextGone ? -1 : 42);
        if (!contextGone) {
            QVERIFY(doneOn == std::this_thread::get_id());
        }
        QCOMPARE(h.app().jobs().inFlight(), 0);
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    // A job whose work throws still delivers: a failure of its result type, busBusy lowered.
    void aJobThatThrowsDeliversAFailure() {
        GuiHarness h;
        h.startUp();
        QCOMPARE(thrownJob<int>(h).value_or(-1), 101);
        const auto withCode = thrownJob<WithCode>(h);
        QVERIFY(withCode && withCode->result == 101 && withCode->other == 7);
        const auto own = thrownJob<BuildsItsOwn>(h);
        QVERIFY(own && own->result == 101 && own->registered);
        const auto report = thrownJob<FlowReport>(h);
        QVERIFY(report && report->adapterLost && report->given == 2);
        const auto noCode = thrownJob<NoCode>(h);
        QVERIFY(noCode && noCode->count == 3);
        QCOMPARE(h.app().busBusy.load(), 0);
        QCOMPARE(h.app().jobs().inFlight(), 0);
    }

    // A page command whose job throws on the bus: its controls are not left off, the adapter
    // message shows and the connection closes (what the job left on the bus is not known).
    void aPageCommandThatThrowsIsReported_data() {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<QString>("button");
        QTest::newRow("torque") << "Operation"
                                << "torqueOnRadio";
        QTest::newRow("set default") << "Configure"
                                     << "defaultButton";
        QTest::newRow("network apply") << "Network"
                                       << "applyButton";
    }

    void aPageCommandThatThrowsIsReported() {
        QFETCH(QString, tab);
        QFETCH(QString, button);
        GuiHarness h;
        h.startSearched();
        h.clickTab(tab);
        if (tab == "Network") {
            control<QComboBox>(h, "idCombo")->setCurrentIndex(40);
        }
        auto* clicked = control<QAbstractButton>(h, qPrintable(button));
        std::atomic<int> throws{1};
        h.hooked.hook = [&throws](const std::string&) -> FtStatus {
            if (throws.fetch_sub(1) > 0) {
                throw std::runtime_error("unforeseen");
            }
            return FT_OK;
        };
        QTest::mouseClick(clicked, Qt::LeftButton);
        h.settle();
        QCOMPARE(h.ops().messages,
                 QStringList("USB2Movantrix access failed! \n\nPlease check connection."));
        QVERIFY(!h.busOpen());
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QCOMPARE(h.app().busBusy.load(), 0);
        QCOMPARE(h.app().jobs().inFlight(), 0);
    }

    void windowAnswersWhileAJobHoldsTheBus() {
        GuiHarness h;
        h.startSearched();  // (1, 1) on the Operation page
        h.bus().clearTraffic();
        auto* torqueOn = control<QRadioButton>(h, "torqueOnRadio");
        auto* ledOn = control<QRadioButton>(h, "ledOnRadio");
        {
            ExecutorGate gate(h.app().executor());
            QTest::mouseClick(torqueOn, Qt::LeftButton);
            QVERIFY(!torqueOn->isEnabled());
            // A second, different command waits its turn; its own radios are off meanwhile.
            QTest::mouseClick(ledOn, Qt::LeftButton);
            QVERIFY(!ledOn->isEnabled());
            QVERIFY(!torqueOn->isEnabled());
            QCOMPARE(h.app().busBusy.load(), 2);
            QCOMPARE(h.app().jobs().waiting(), 2);

            // The menus open with their rules, the tree's tooltips show, the tabs switch.
            auto* menu = h.window().findChild<QMenu*>(QStringLiteral("connectionMenu"));
            emit menu->aboutToShow();
            QVERIFY(h.window().action(Command::Close)->isEnabled());
            QVERIFY(!h.window().action(Command::Open)->isEnabled());
            QVERIFY(h.tree().deviceToolTip(deviceItem(h.tree(), 1, 2)).startsWith("Type: "));
            QTabBar* bar = h.sheet().tabBar();
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
            QCOMPARE(h.activeTab(), QStringLiteral("Configure"));
            QVERIFY(h.hostPackets().empty());  // nothing has reached the bus yet
        }
        h.settle();
        // In the order given: torque, the LED, then the Configure page's read of its limits.
        QCOMPARE(packets(h), (QStringList{"W24:1", "W25:1", "R6:13"}));
        QVERIFY(torqueOn->isEnabled() && ledOn->isEnabled());
        QCOMPARE(h.app().busBusy.load(), 0);
        QVERIFY(h.ops().messages.isEmpty());
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::BusJobsTest)
#include "BusJobsTest.moc"
