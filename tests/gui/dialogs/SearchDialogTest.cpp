// The search dialog during and after a search: the growing count and tree, progress, Stop,
// the full search, the adapter pulled mid-search, and the dialog closed while searching.
#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <thread>

#include "gui/dialogs/SearchDialog.h"
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
// Enabled states of Search, Stop, OK, Quick and Full.
QList<bool> controls(QDialog& dialog) {
    QList<bool> states;
    for (const char* name :
         {"searchButton", "stopButton", "okButton", "quickOption", "fullOption"}) {
        states << dialog.findChild<QAbstractButton*>(QString::fromLatin1(name))->isEnabled();
    }
    return states;
}
const QList<bool> kIdle = {true, false, true, true, true};
const QList<bool> kSearching = {false, true, false, false, false};

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
            GuiHarness::click(dialog, "searchButton");
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
        QCOMPARE(h.tabTitles(), (QStringList{"Operation", "Configure", "Network"}));
    }

    void stopKeepsWhatWasFound() {
        GuiHarness h;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            GuiHarness::click(dialog, "searchButton");
            QVERIFY(gate.waitUntilHeld());
            h.ops().tickTimers();
            GuiHarness::click(dialog, "stopButton");
            QVERIFY(!dialog.findChild<QAbstractButton*>("stopButton")->isEnabled());
            QCOMPARE(h.registry().searching.load(), 0);
            QCOMPARE(h.ops().activeTimers(), 0);
            gate.release();
            QVERIFY(waitFor([&] { return !static_cast<SearchDialog&>(dialog).searching(); }));
            QCOMPARE(controls(dialog), kIdle);
            QCOMPARE(labelOf(dialog), QStringLiteral("  5 Movantrix(s) Found"));
            QCOMPARE(h.registry().deviceCount(), h.registry().entryCount());  // no placeholder
            GuiHarness::click(dialog, "okButton");
        }));
        h.startUp();
        QCOMPARE(h.countText(), QStringLiteral("5 Movantrix(s) Found"));
        QCOMPARE(h.treeTexts(),
                 (QStringList{"Baudrate 1", "  ID 1", "  ID 2", "  ID 3", "  ID 4", "  ID 9"}));
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
        h.window().runCommand(Command::Search);
        QCOMPARE(label, QStringLiteral(" 12 Movantrix(s) Found"));
    }

    void adapterPulledDuringTheSearchClosesDialogAndConnection() {
        GuiHarness h;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        bool closedByItself = false;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            GuiHarness::click(dialog, "searchButton");
            QVERIFY(gate.waitUntilHeld());
            h.bus().failAdapterFrom(1);
            gate.release();
            closedByItself = waitFor([&] { return !dialog.isVisible(); });
        }));
        h.startUp();
        QVERIFY(closedByItself);
        QCOMPARE(h.ops().messages,
                 QStringList{"USB2Movantrix access failed! \n\nPlease check connection."});
        QVERIFY(!h.app().bus().isOpen());
        QVERIFY(h.treeTexts().isEmpty());
        QCOMPARE(h.countText(), QStringLiteral("0 Movantrix(s) Found"));
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    void closingDuringTheSearchStopsAndJoinsTheWorker() {
        GuiHarness h;
        SearchGate gate(h.hooked, "setBaudRate", [&] { return h.registry().deviceCount() == 5; });
        bool workerGone = false;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog& dialog) {
            GuiHarness::click(dialog, "searchButton");
            QVERIFY(gate.waitUntilHeld());
            std::thread releaser([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                gate.release();
            });
            QTest::keyClick(&dialog, Qt::Key_Escape);  // waits for the worker
            releaser.join();
            workerGone = !static_cast<SearchDialog&>(dialog).searching() && !dialog.isVisible();
        }));
        h.startUp();
        QVERIFY(workerGone);
        QCOMPARE(h.registry().searching.load(), 0);
        QCOMPARE(h.registry().entryCount(), h.registry().deviceCount());
        QVERIFY(h.treeTexts().isEmpty());  // cancelled: the main view is not refreshed
        QVERIFY(h.ops().messages.isEmpty());
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::SearchDialogTest)
#include "SearchDialogTest.moc"
