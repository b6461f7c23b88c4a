// The search dialog during and after a search: the growing count and tree, progress, Stop,
// the full search, the adapter pulled mid-search, the dialog closed while searching, and how
// each way of ending it shows in the main view.
#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <thread>

#include "gui/dialogs/SearchDialog.h"
#include "protocol/BaudRate.h"
#include "support/GuiHarness.h"
#include "support/SearchGate.h"

namespace mvx::gui::test {

namespace {

QString labelOf(QDialog& dialog) {
    return dialog.findChild<QLabel*>(QStringLiteral("countLabel"))->text();
}
int progressOf(QDialog& dialog) {
    return dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"))->value();
}
QStringList dialogTree(QDialog& dialog) {
    return GuiHarness::treeTexts(*dialog.findChild<DeviceTree*>(QStringLiteral("deviceTree")));
}
// Enabled states of Search, Stop, OK, Quick, Full and Fast.
QList<bool> controls(QDialog& dialog) {
    QList<bool> states;
    for (const char* name :
         {"searchButton", "stopButton", "okButton", "quickOption", "fullOption", "fastOption"}) {
        states << dialog.findChild<QAbstractButton*>(QString::fromLatin1(name))->isEnabled();
    }
    return states;
}
const QList<bool> kIdle = {true, false, true, true, true, true};
const QList<bool> kSearching = {false, true, false, false, false, false};
// Virtual time from the broadcast at code 3 to the one at code 4 (both silent on the default
// bus).
std::int64_t silentCodeUs(const SimulatedBus& bus) {
    std::int64_t broadcast = -1;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction != SimTraffic::HostToBus || t.bytes.size() != 6 || t.bytes[2] != 254) {
            continue;
        }
        if (t.rateBps == rateOf(3)) {
            broadcast = t.startUs;
        } else if (t.rateBps == rateOf(4) && broadcast >= 0) {
            return t.startUs - broadcast;
        }
    }
    return -1;
}
// Virtual time from the broadcast at code 1 to the ping of ID 0 there.
std::int64_t firstPingAfterBroadcastUs(const SimulatedBus& bus) {
    std::int64_t broadcast = -1;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction != SimTraffic::HostToBus || t.bytes.size() != 6 || t.bytes[4] != 1) {
            continue;
        }
        if (t.bytes[2] == 254 && broadcast < 0) {
            broadcast = t.startUs;
        } else if (t.bytes[2] == 0 && broadcast >= 0) {
            return t.startUs - broadcast;
        }
    }
    return -1;
}

}  // namespace

class SearchDialogTest : public QObject {
    Q_OBJECT

private slots:
    void labelAndTreeGrowWhileTheSearchRuns() {
        GuiHarness h;
        // Hold the search when it leaves code 1, where five devices were found.
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            QCOMPARE(labelOf(dialog), QStringLiteral("0 Movantrix(s) Found"));
            QCOMPARE(controls(dialog), kIdle);
            GuiHarness::clickOnly(dialog, "searchButton");
            QCOMPARE(controls(dialog), kSearching);
            QVERIFY(gate.waitUntilHeld());
            QCOMPARE(h.ops().tickTimers(), 1);
            QCOMPARE(labelOf(dialog), QStringLiteral("  5 Movantrix(s) Found"));
            QCOMPARE(dialogTree(dialog),
                     (QStringList{"Baudrate 1", "  ID 1", "  ID 2", "  ID 3", "  ID 4", "  ID 9"}));
            auto* tree = dialog.findChild<DeviceTree*>(QStringLiteral("deviceTree"));
            QVERIFY(tree->selectedItems().isEmpty());
            QCOMPARE(progressOf(dialog), 11);  // 254 of 2286 steps
            gate.release();
            QVERIFY(waitFor([&] { return !static_cast<SearchDialog&>(dialog).searching(); }));
            QCOMPARE(controls(dialog), kIdle);
            h.ops().tickTimers();
            QCOMPARE(labelOf(dialog), QStringLiteral("  8 Movantrix(s) Found"));
            QCOMPARE(progressOf(dialog), 100);
            QCOMPARE(h.ops().activeTimers(), 0);  // stopped at 100
            GuiHarness::click(dialog, "okButton");
        }));
        h.startUp();
        // The dialog's 300 ms timer, then the status poll of the Operation page now shown.
        QCOMPARE(h.ops().timerPeriods(), (std::vector<int>{300, 250}));
        QCOMPARE(h.countText(), QStringLiteral("8 Movantrix(s) Found"));
        QCOMPARE(h.tabTitles(),
                 (QStringList{"Operation", "Configure", "Network", "Control Table"}));
    }

    // "Fast" starts unchecked with its tooltip; checked, Search runs the fast search: the same
    // label, progress and tree as the standard search; the answers to a broadcast get the
    // standard search's half second, a silent code too, without its 100 ms rate-change pause.
    void fastOptionRunsTheFastSearch() {
        GuiHarness h;
        std::int64_t pingAfterUs = -1;
        std::int64_t silentUs = -1;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            auto* fast = dialog.findChild<QAbstractButton*>(QStringLiteral("fastOption"));
            QCOMPARE(fast->text(), QStringLiteral("Fast"));
            QVERIFY(!fast->isChecked());
            QCOMPARE(fast->toolTip(),
                     QStringLiteral("Shorter waits, timed from the adapter and the "
                                    "answers: the same devices in a fraction of "
                                    "the time"));
            // On its box: the check box is wider than its text.
            QTest::mouseClick(fast, Qt::LeftButton, {}, QPoint(8, fast->height() / 2));
            QVERIFY(fast->isChecked());
            QVERIFY(h.runSearch(dialog));
            QCOMPARE(controls(dialog), kIdle);
            QCOMPARE(labelOf(dialog), QStringLiteral("  8 Movantrix(s) Found"));
            QCOMPARE(progressOf(dialog), 100);
            QCOMPARE(dialogTree(dialog),
                     (QStringList{"Baudrate 1", "  ID 1", "  ID 2", "  ID 3", "  ID 4", "  ID 9",
                                  "Baudrate 34", "  ID 7", "  ID 100", "Baudrate 207", "  ID 21"}));
            pingAfterUs = firstPingAfterBroadcastUs(h.bus());
            silentUs = silentCodeUs(h.bus());
            GuiHarness::click(dialog, "okButton");
        }));
        h.startUp();
        QCOMPARE(h.countText(), QStringLiteral("8 Movantrix(s) Found"));
        QVERIFY(pingAfterUs >= 500000);
        QVERIFY(silentUs > 0);
        QVERIFY(silentUs >= 500000);
        QVERIFY(silentUs < 600000);  // the standard search takes 600 ms
    }

    // A line under the progress bar says when the search did not listen at every code to the
    // end (a stop, see stopKeepsWhatWasFound): not after a whole search, also where the
    // devices space their answers out, until the next search starts.
    void unsureLineOnlyAfterAStop_data() {
        QTest::addColumn<int>("spacingUs");
        QTest::addColumn<bool>("fast");
        QTest::newRow("prompt answers, fast") << 0 << true;
        QTest::newRow("spaced answers, fast") << 300 << true;
        QTest::newRow("spaced answers, standard") << 300 << false;
    }

    void unsureLineOnlyAfterAStop() {
        QFETCH(int, spacingUs);
        QFETCH(bool, fast);
        BusDescription description = SimulatedBus::defaultBus();
        description.broadcastSpacingUs = spacingUs;
        GuiHarness h(description);
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            auto* unsure = dialog.findChild<QLabel*>(QStringLiteral("unsureLabel"));
            QVERIFY(unsure->isHidden());
            dialog.findChild<QAbstractButton*>(QStringLiteral("fastOption"))->setChecked(fast);
            QVERIFY(h.runSearch(dialog));
            QCOMPARE(labelOf(dialog), QStringLiteral("  8 Movantrix(s) Found"));
            QVERIFY(unsure->isHidden());
            QCOMPARE(unsure->text(), QStringLiteral("Not every baud rate searched to the end"));
            GuiHarness::click(dialog, "okButton");
        }));
        h.startUp();
        QCOMPARE(h.countText(), QStringLiteral("8 Movantrix(s) Found"));
    }

    void stopKeepsWhatWasFound() {
        GuiHarness h;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            GuiHarness::clickOnly(dialog, "searchButton");
            QVERIFY(gate.waitUntilHeld());
            h.ops().tickTimers();
            GuiHarness::clickOnly(dialog, "stopButton");
            QVERIFY(!dialog.findChild<QAbstractButton*>("stopButton")->isEnabled());
            QCOMPARE(h.registry().searching.load(), 0);
            QCOMPARE(h.ops().activeTimers(), 0);
            gate.release();
            QVERIFY(waitFor([&] { return !static_cast<SearchDialog&>(dialog).searching(); }));
            QCOMPARE(controls(dialog), kIdle);
            QCOMPARE(labelOf(dialog), QStringLiteral("  5 Movantrix(s) Found"));
            QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("unsureLabel"))->isVisible());
            QCOMPARE(h.registry().deviceCount(), h.registry().entryCount());  // no placeholder
            GuiHarness::click(dialog, "okButton");
        }));
        h.startUp();
        QCOMPARE(h.countText(), QStringLiteral("5 Movantrix(s) Found"));
        QCOMPARE(h.treeTexts(),
                 (QStringList{"Baudrate 1", "  ID 1", "  ID 2", "  ID 3", "  ID 4", "  ID 9"}));
    }

    // While the fast search listens out a silent code, the dialog says which of its codes it is
    // making sure of; OK then keeps what was found, and the main window says, under the device
    // view, which codes were not made sure of, until a search ends sure.
    void okWhileMakingSureKeepsWhatWasFoundMarkedUnsure() {
        GuiHarness h;
        int rateChanges = 0;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return ++rateChanges == 4; });
        QString making;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            dialog.findChild<QAbstractButton*>(QStringLiteral("fastOption"))->setChecked(true);
            GuiHarness::clickOnly(dialog, "searchButton");
            auto* ok = dialog.findChild<QAbstractButton*>(QStringLiteral("okButton"));
            QVERIFY(ok->isEnabled());  // a fast search may be ended with OK
            QVERIFY(gate.waitUntilHeld());
            h.ops().tickTimers();
            auto* sure = dialog.findChild<QLabel*>(QStringLiteral("sureLabel"));
            QVERIFY(sure->isVisible());
            making = sure->text();
            GuiHarness::clickOnly(dialog, "okButton");
            QVERIFY(dialog.isVisible());  // until the search's result is in
            gate.release();
            QVERIFY(waitFor([&] { return !dialog.isVisible(); }));
            QVERIFY(!static_cast<SearchDialog&>(dialog).unsureCodes().empty());
        }));
        h.startUp();
        QVERIFY2(QRegularExpression(QStringLiteral("^Making sure\u2026 code (\\d+) of (\\d+)$"))
                     .match(making)
                     .hasMatch(),
                 qPrintable(making));
        auto* bar = h.window().findChild<QStatusBar*>(QStringLiteral("statusBar"));
        QVERIFY(bar != nullptr && bar->isVisible());
        QVERIFY2(bar->currentMessage().startsWith(
                     QStringLiteral("Not sure: the search ended before it made sure of code(s) ")),
                 qPrintable(bar->currentMessage()));
        QVERIFY(bar->currentMessage().endsWith(QStringLiteral("; a device there may be missing")));
        QCOMPARE(h.window().height(), 454 + bar->sizeHint().height());
        const int viewWhileUnsure = h.window().centralWidget()->height();

        // A search that ends sure takes the line away again.
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            dialog.findChild<QAbstractButton*>(QStringLiteral("fastOption"))->setChecked(true);
            QVERIFY(h.runSearch(dialog));
            QVERIFY(static_cast<SearchDialog&>(dialog).unsureCodes().empty());
            QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("sureLabel"))->isHidden());
            GuiHarness::click(dialog, "okButton");
        }));
        h.command(Command::Search);
        QVERIFY(bar->isHidden());
        QCOMPARE(h.window().height(), 454);
        QCOMPARE(h.window().centralWidget()->height(), viewWhileUnsure);  // the view kept its size
        QCOMPARE(h.countText(), QStringLiteral("8 Movantrix(s) Found"));
    }

    void fullSearchWalksEveryCode() {
        BusDescription twelve;
        for (int id = 0; id < 12; ++id) {
            twelve.devices.push_back(mvx::test::simSpec(2, id, 28));  // code 2: full search only
        }
        GuiHarness h(twelve);
        h.dialogs().push_back(h.searchAndOk(true));
        h.startUp();
        QCOMPARE(h.countText(), QStringLiteral("12 Movantrix(s) Found"));
        QCOMPARE(h.treeTexts().front(), QStringLiteral("Baudrate 2"));

        // And the dialog's label pads twelve with one blank.
        QString label;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            h.runSearch(dialog, true);
            label = labelOf(dialog);
        }));
        h.command(Command::Search);
        QCOMPARE(label, QStringLiteral(" 12 Movantrix(s) Found"));
    }

    void adapterPulledDuringTheSearchClosesDialogAndConnection() {
        GuiHarness h;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        bool closedByItself = false;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            GuiHarness::clickOnly(dialog, "searchButton");
            QVERIFY(gate.waitUntilHeld());
            h.bus().failAdapterFrom(1);
            gate.release();
            closedByItself = waitFor([&] { return !dialog.isVisible(); });
        }));
        h.startUp();
        QVERIFY(closedByItself);
        QCOMPARE(h.ops().messages,
                 QStringList{"USB2Movantrix access failed! \n\nPlease check connection."});
        QVERIFY(!h.busOpen());
        QVERIFY(h.treeTexts().isEmpty());
        QCOMPARE(h.countText(), QStringLiteral("0 Movantrix(s) Found"));
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    void closingDuringTheSearchStopsItAndEndsWhenItHasEnded() {
        GuiHarness h;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        bool stillOpenWhileSearching = false;
        bool endedAfterTheSearch = false;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            GuiHarness::clickOnly(dialog, "searchButton");
            QVERIFY(gate.waitUntilHeld());
            QTest::keyClick(&dialog, Qt::Key_Escape);  // stops the search; does not wait
            stillOpenWhileSearching = dialog.isVisible() &&
                                      static_cast<SearchDialog&>(dialog).searching() &&
                                      h.registry().searching.load() == 0;
            gate.release();
            endedAfterTheSearch = waitFor([&] { return !dialog.isVisible(); }) &&
                                  !static_cast<SearchDialog&>(dialog).searching();
        }));
        h.startUp();
        QVERIFY(stillOpenWhileSearching);
        QVERIFY(endedAfterTheSearch);
        QCOMPARE(h.registry().searching.load(), 0);
        QCOMPARE(h.registry().entryCount(), h.registry().deviceCount());
        // What was found so far is shown in the main view.
        QCOMPARE(h.treeTexts(),
                 (QStringList{"Baudrate 1", "  ID 1", "  ID 2", "  ID 3", "  ID 4", "  ID 9"}));
        QVERIFY(h.ops().messages.isEmpty());
    }

    void howTheDialogEndsAfterASearchOrWithout_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("search");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("count");
        const QString fresh = QStringLiteral("7 Movantrix(s) Found");
        const QString stale = QStringLiteral("8 Movantrix(s) Found");
        QTest::newRow("OK after a search") << "ok" << true << int(QDialog::Accepted) << fresh;
        QTest::newRow("Escape after a search")
            << "escape" << true << int(QDialog::Accepted) << fresh;
        QTest::newRow("close box after a search")
            << "close" << true << int(QDialog::Accepted) << fresh;
        QTest::newRow("Escape without a search")
            << "escape" << false << int(QDialog::Rejected) << stale;
        QTest::newRow("close box without a search")
            << "close" << false << int(QDialog::Rejected) << stale;
    }

    void howTheDialogEndsAfterASearchOrWithout() {
        QFETCH(QString, ending);
        QFETCH(bool, search);
        QFETCH(int, result);
        QFETCH(QString, count);
        GuiHarness h;
        h.startSearched();
        h.bus().find(1, 9)->setFaults(GuiHarness::silent());  // gone before the next search
        h.bus().clearTraffic();
        int ended = -1;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            if (search) {
                QVERIFY(h.runSearch(dialog));
            }
            if (ending == "ok") {
                GuiHarness::click(dialog, "okButton");
            } else if (ending == "escape") {
                QTest::keyClick(&dialog, Qt::Key_Escape);
            } else {
                dialog.close();
            }
            QVERIFY(!dialog.isVisible());
            ended = dialog.result();
        }));
        h.command(Command::Search);
        QCOMPARE(ended, result);
        QCOMPARE(h.countText(), count);
        QCOMPARE(h.treeTexts().contains("  ID 9"), !search);
        if (!search) {
            QVERIFY(h.bus().traffic().empty());  // not even a refresh's ping
        }
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::SearchDialogTest)
#include "SearchDialogTest.moc"
