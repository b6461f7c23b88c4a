// The main window as the user meets it: start-up with no, one and several adapters, the
// commands and their enabling rules (menu and shortcut keys, also from inside a page), Close,
// the reaction to failed bus operations and the about box.
#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenuBar>
#include <QTest>

#include "gui/app/SteadyLabelHolder.h"
#include "gui/app/ToolTipWidth.h"
#include "protocol/ResultCode.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kNotFound =
    QStringLiteral("Can not find USB2Movantrix! \n\nPlease check connection.");
const QString kAccessFailed =
    QStringLiteral("USB2Movantrix access failed! \n\nPlease check connection.");
const QString kDeviceFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");
const QStringList kDefaultTree = {"Baudrate 1", "  ID 1",       "  ID 2",      "  ID 3",
                                  "  ID 4",     "  ID 9",       "Baudrate 34", "  ID 7",
                                  "  ID 100",   "Baudrate 207", "  ID 21"};

QStringList portLines(QDialog& dialog) {
    auto* list = dialog.findChild<QComboBox*>(QStringLiteral("portList"));
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) {
        lines << list->itemText(i);
    }
    return lines;
}

// Chooses adapter `index` and presses OK; the open's result is in when it returns.
void choosePort(GuiHarness& h, QDialog& dialog, int index) {
    dialog.findChild<QComboBox*>(QStringLiteral("portList"))->setCurrentIndex(index);
    GuiHarness::click(dialog, "okButton");
    h.settle();
}

// Enabled states of Open, Close, Search and Firmware Update as the menu shows them.
QList<bool> menuStates(GuiHarness& h) {
    QMenu* menu = h.window().findChild<QMenu*>(QStringLiteral("connectionMenu"));
    emit menu->aboutToShow();
    QList<bool> states;
    for (Command c : {Command::Open, Command::Close, Command::Search, Command::FirmwareUpdate}) {
        states << h.window().action(c)->isEnabled();
    }
    return states;
}

// A shortcut key as the user presses it, with the focus in `target`; then the harness settles.
void pressKey(GuiHarness& h, QWidget* target, int key) {
    target->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(target->window()));
    target->setFocus();
    QTest::keyClick(target, static_cast<Qt::Key>(key), Qt::ControlModifier);
    h.settle();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void windowFrameAndMenus() {
        GuiHarness h;
        h.adapters.count = 0;
        h.startUp();
        QCOMPARE(h.window().windowTitle(), QStringLiteral("Movantrix Manager for Linux"));
        QCOMPARE(h.window().size(), QSize(644, 454));
        QCOMPARE(h.window().minimumSize(), h.window().maximumSize());
        QVERIFY(!(h.window().windowFlags() & Qt::WindowMaximizeButtonHint));
        QStringList menus;
        for (QAction* menu : h.window().menuBar()->actions()) {
            menus << menu->text();
            for (QAction* item : menu->menu()->actions()) {
                menus << QStringLiteral("  ") + (item->isSeparator() ? "-" : item->text());
            }
        }
        QCOMPARE(menus, (QStringList{"Connection (&C)",
                                     "  Open          Ctrl+O",
                                     "  Close         Ctrl+C",
                                     "  -",
                                     "  Search       Ctrl+S",
                                     "  -",
                                     "  Exit           Ctrl+X",
                                     "Advance (&A)",
                                     "  Firmware Update   Ctrl+U",
                                     "  Telemetry              Ctrl+T",
                                     "  -",
                                     "  Save Settings...",
                                     "  Load Settings...",
                                     "  -",
                                     "  Set Up Actuators...",
                                     "  Save Robot Profile...",
                                     "  Check Robot...",
                                     "  -",
                                     "  Bus Log...",
                                     "Help (&H)",
                                     "  About MovantrixManager (&A)"}));
    }

    void startUpWithoutAdapter() {
        GuiHarness h;
        h.adapters.count = 0;
        h.startUp();
        QCOMPARE(h.ops().messages, QStringList{kNotFound});
        QVERIFY(h.ops().dialogsRun.isEmpty());  // the port dialog is never shown
        QVERIFY(h.window().isVisible());
        QVERIFY(h.treeTexts().isEmpty());
        QCOMPARE(h.countText(), QStringLiteral("0 Movantrix(s) Found"));
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QCOMPARE(menuStates(h), (QList<bool>{true, false, false, false}));
    }

    void startUpWithOneAdapterSearchesAndShowsTheDevices() {
        GuiHarness h;
        h.dialogs().push_back(h.searchAndOk());
        h.startUp();
        QCOMPARE(h.ops().dialogsRun, QStringList{"Movantrix Search"});
        QVERIFY(h.ops().messages.isEmpty());
        QCOMPARE(h.adapters.opened, std::vector<std::uint32_t>{0});
        QCOMPARE(h.treeTexts(), kDefaultTree);
        QCOMPARE(h.countText(), QStringLiteral("8 Movantrix(s) Found"));
        // The first device of the first group is shown.
        QCOMPARE(h.sheet().currentBaud(), 1);
        QCOMPARE(h.sheet().currentId(), 1);
        QCOMPARE(h.tabTitles(),
                 (QStringList{"Operation", "Configure", "Network", "Control Table"}));
        QCOMPARE(menuStates(h), (QList<bool>{false, true, true, true}));
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    void startUpWithOneAdapterThatFailsToOpen() {
        GuiHarness h;
        h.adapters.failingOpens = {0};
        h.startUp();
        QCOMPARE(h.ops().messages, QStringList{kAccessFailed});
        QVERIFY(h.ops().dialogsRun.isEmpty());
        QVERIFY(!h.busOpen());
    }

    void adapterLimitationsAreNoticedOncePerRun() {
        GuiHarness h;
        h.driver().setLimitations(
            {"ttyUSB0: CBUS3 is not driven: no permission to use "
             "/dev/gpiochip2"});
        h.startUp();
        const QString notice = QStringLiteral(
            "The adapter works, but not every setting took effect:\n\n- ttyUSB0: CBUS3 is not "
            "driven: no permission to use /dev/gpiochip2\n\nFor all its settings, give your "
            "user access to the adapter over USB (the udev rules installed with Movantrix "
            "Manager); see ADAPTER ACCESS in movantrix-manager(1).");
        QCOMPARE(h.ops().messages, QStringList{notice});
        // Before the search dialog, which still follows.
        QCOMPARE(h.ops().dialogsRun, QStringList{"Movantrix Search"});
        h.command(Command::Close);
        h.command(Command::Open);
        QCOMPARE(h.ops().messages, QStringList{notice});  // not again for the same adapter
    }

    void searchLeftWithoutRunningItRefreshesNothing() {
        GuiHarness h;
        h.dialogs().push_back(&GuiHarness::okWithoutSearch);
        h.startUp();
        QVERIFY(h.busOpen());
        QVERIFY(h.treeTexts().isEmpty());
        QCOMPARE(h.countText(), QStringLiteral("0 Movantrix(s) Found"));
        QVERIFY(h.bus().traffic().empty());  // not even a refresh's ping
    }

    void severalAdaptersAreListedAndTheChosenOneOpens() {
        GuiHarness h;
        h.adapters.count = 2;
        h.adapters.descriptions = {std::string("USB2Movantrix A"), std::nullopt};
        QStringList shown;
        int selected = -2;
        h.dialogs().push_back([&](QDialog& dialog) {
            shown = portLines(dialog);
            selected = dialog.findChild<QComboBox*>(QStringLiteral("portList"))->currentIndex();
            choosePort(h, dialog, 1);
            return dialog.result();
        });
        h.dialogs().push_back(&GuiHarness::okWithoutSearch);
        h.startUp();
        QCOMPARE(h.ops().dialogsRun, (QStringList{"USB2Movantrix Open", "Movantrix Search"}));
        QCOMPARE(shown, (QStringList{"USB2Movantrix A", "Unknown device name"}));
        QCOMPARE(selected, 0);
        QCOMPARE(h.adapters.opened, std::vector<std::uint32_t>{1});
    }

    void failedOpenOffersTheListAgain() {
        GuiHarness h;
        h.adapters.count = 2;
        h.adapters.descriptions = {std::string("A"), std::string("B")};
        h.adapters.failingOpens = {0};
        QStringList afterFailure;
        QStringList afterUnplug;
        h.dialogs().push_back([&](QDialog& dialog) {
            choosePort(h, dialog, 0);  // fails: message, recount, same list once
            afterFailure = portLines(dialog);
            h.adapters.count = 0;  // unplugged meanwhile
            choosePort(h, dialog, 1);
            afterUnplug = portLines(dialog);
            GuiHarness::click(dialog, "okButton");  // no line: nothing happens
            h.settle();
            return QDialog::Rejected;
        });
        h.startUp();
        QCOMPARE(afterFailure, (QStringList{"A", "B"}));
        QVERIFY(afterUnplug.isEmpty());
        QCOMPARE(h.ops().messages, (QStringList{kAccessFailed, kAccessFailed, kNotFound}));
        QVERIFY(!h.busOpen());
    }

    void failedListingShowsAnEmptyList() {
        GuiHarness h;
        h.adapters.count = -1;
        QStringList shown{"sentinel"};
        h.dialogs().push_back([&](QDialog& dialog) {
            shown = portLines(dialog);
            GuiHarness::click(dialog, "cancelButton");
            return dialog.result();
        });
        h.startUp();
        QVERIFY(shown.isEmpty());
        QVERIFY(h.ops().messages.isEmpty());
    }

    void disabledCommandsAreIgnoredHoweverTheyArrive() {
        GuiHarness h;
        h.adapters.count = 0;
        h.startUp();
        const int runs = h.ops().dialogsRun.size();
        // Search and Close while closed: from the window, from inside the sheet, and directly.
        pressKey(h, &h.window(), Qt::Key_S);
        pressKey(h, h.sheet().currentWidget(), Qt::Key_S);
        pressKey(h, h.sheet().currentWidget(), Qt::Key_C);
        h.command(Command::Search);
        h.command(Command::FirmwareUpdate);
        QCOMPARE(h.ops().dialogsRun.size(), runs);
        QVERIFY(h.bus().traffic().empty());

        // Once open, Ctrl+S from inside a page runs the search dialog and Ctrl+O is ignored.
        h.adapters.count = 1;
        h.dialogs().push_back(h.searchAndOk());  // after Ctrl+O opens the adapter
        pressKey(h, &h.window(), Qt::Key_O);
        QVERIFY(h.busOpen());
        h.clickDevice(1, 2);
        h.dialogs().push_back(&GuiHarness::okWithoutSearch);
        pressKey(h, h.sheet().currentWidget(), Qt::Key_S);
        pressKey(h, h.sheet().currentWidget(), Qt::Key_O);
        QCOMPARE(h.ops().dialogsRun, (QStringList{"Movantrix Search", "Movantrix Search"}));
        QCOMPARE(h.adapters.opened, std::vector<std::uint32_t>{0});
    }

    void closeEmptiesTreeAndSheet() {
        GuiHarness h;
        h.dialogs().push_back(h.searchAndOk());
        h.startUp();
        h.clickDevice(34, 7);
        QCOMPARE(h.sheet().currentId(), 7);
        pressKey(h, h.sheet().currentWidget(), Qt::Key_C);  // Ctrl+C is Close, also in a page
        QVERIFY(!h.busOpen());
        QCOMPARE(h.registry().entryCount(), 0);
        QVERIFY(h.treeTexts().isEmpty());
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QCOMPARE(h.countText(), QStringLiteral("0 Movantrix(s) Found"));
        QCOMPARE(menuStates(h), (QList<bool>{true, false, false, false}));
        QCOMPARE(h.app().busBusy.load(), 0);
    }

    void reportBusFailure_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("reacted");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("openAfter");
        QTest::newRow("101") << 101 << true << QStringList{kAccessFailed} << false;
        QTest::newRow("103") << 103 << true << QStringList{kDeviceFailed} << true;
        QTest::newRow("104") << 104 << true << QStringList{kDeviceFailed} << true;
        QTest::newRow("102") << 102 << false << QStringList{} << true;
        QTest::newRow("105") << 105 << false << QStringList{} << true;
        QTest::newRow("100") << 100 << false << QStringList{} << true;
    }

    void reportBusFailure() {
        QFETCH(int, result);
        QFETCH(bool, reacted);
        QFETCH(QStringList, messages);
        QFETCH(bool, openAfter);
        GuiHarness h;
        h.dialogs().push_back(h.searchAndOk());
        h.startUp();
        h.clickDevice(1, 3);
        // The selected device has gone silent: a refresh drops it and selects the first one.
        h.bus().find(1, 3)->setFaults(GuiHarness::silent());
        h.ops().messages.clear();
        QCOMPARE(h.window().reportBusFailure(result), reacted);
        h.settle();
        QCOMPARE(h.ops().messages, messages);
        QCOMPARE(h.busOpen(), openAfter);
        if (!openAfter) {
            QVERIFY(h.treeTexts().isEmpty());
            QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        } else if (reacted) {
            QVERIFY(!h.treeTexts().contains("  ID 3"));
            QCOMPARE(h.sheet().currentId(), 1);
        } else {
            QCOMPARE(h.treeTexts(), kDefaultTree);
            QCOMPARE(h.sheet().currentId(), 3);
        }
    }

    void busStaysBusyUntilTheOutermostUserEnds() {
        GuiHarness h;
        h.startSearched();
        int busyAfterClose = -1;
        h.dialogs().push_back(GuiHarness::handler([&](QDialog&) {
            // The download's adapter failure, reported while the wizard is open: Close runs.
            QVERIFY(h.window().reportBusFailure(AdapterFailure));
            h.settle();
            busyAfterClose = h.app().busBusy;
        }));
        h.command(Command::FirmwareUpdate);
        QVERIFY(!h.busOpen());
        QCOMPARE(busyAfterClose, 1);  // the wizard still holds the bus
        QCOMPARE(h.app().busBusy, 0);
    }

    void failureWithNoDeviceLeftShowsNoInformation() {
        BusDescription one;
        one.devices.push_back(mvx::test::simSpec(1, 5, 28));
        GuiHarness h(one);
        h.dialogs().push_back(h.searchAndOk());
        h.startUp();
        QCOMPARE(h.sheet().currentId(), 5);
        h.bus().setFaults(GuiHarness::silent());
        QVERIFY(h.window().reportBusFailure(Timeout));
        h.settle();
        QVERIFY(h.treeTexts().isEmpty());
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QCOMPARE(h.countText(), QStringLiteral("0 Movantrix(s) Found"));
    }

    void toolTipsAreWrappedToTheirWidth_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("quick search") << QStringLiteral(
                                             "Search common baud rates (1Mbps, 500Kbps, 400Kbps, "
                                             "250Kbps, 200Kbps, 115200bps, "
                                             "57600bps, 19200bps, 9600bps) ")
                                      << 250;
        QTest::newRow("own break kept") << QStringLiteral("Set \nLED On") << 250;
        QTest::newRow("one long word") << QString(80, QLatin1Char('W')) << 100;
    }

    void toolTipsAreWrappedToTheirWidth() {
        QFETCH(QString, text);
        QFETCH(int, width);
        const QFontMetrics metrics(QApplication::font());
        const QString wrapped = ToolTipWidth::wrap(text, metrics, width);
        for (const QString& line : wrapped.split('\n')) {
            QVERIFY2(metrics.horizontalAdvance(line) <= width, qPrintable(line));
        }
        // Only breaks were added: spaces became line feeds, long words were split.
        QString joined = wrapped;
        QCOMPARE(joined.remove('\n').remove(' '), QString(text).remove('\n').remove(' '));
        QVERIFY(wrapped.count('\n') >= text.count('\n'));
    }

    // A held label sits where it was in its layout, keeps its text, and is given room for every
    // text of its kind (any digits), also after a font change.
    void steadyLabelHolderTakesTheLabelsPlace() {
        QWidget page;
        auto* grid = new QGridLayout(&page);
        grid->addWidget(new QLabel(QStringLiteral("Present Temperature:")), 0, 0);
        auto* label = new QLabel(QStringLiteral("7"));
        grid->addWidget(label, 0, 1);
        auto* holder = new SteadyLabelHolder(*label, {QStringLiteral("888\u2103")});
        QCOMPARE(label->parentWidget(), holder);
        QCOMPARE(grid->itemAtPosition(0, 1)->widget(), holder);
        QCOMPARE(label->text(), QStringLiteral("7"));
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const auto holdsAll = [&] {
            for (int value = 0; value <= 999; value += 37) {
                label->setText(QString::asprintf("%3d\u2103", value));
                const QSize needed = label->sizeHint();
                if (needed.width() > holder->width() || needed.height() > holder->height() ||
                    label->geometry() != holder->rect()) {
                    return false;
                }
            }
            return label->isVisible();
        };
        QVERIFY(holdsAll());
        const QSize before = holder->sizeHint();
        QFont larger = page.font();
        larger.setPointSizeF(larger.pointSizeF() * 2);
        page.setFont(larger);
        QVERIFY(holder->sizeHint().width() > before.width());
        QVERIFY(holder->sizeHint().height() > before.height());
        grid->activate();
        QVERIFY(holdsAll());
    }

    void aboutAndExit() {
        GuiHarness h;
        h.adapters.count = 0;
        h.startUp();
        QString version;
        int busyDuring = -1;
        h.dialogs().push_back([&](QDialog& dialog) {
            version = dialog.findChild<QLabel*>(QStringLiteral("versionLabel"))->text();
            busyDuring = h.app().busBusy;
            GuiHarness::click(dialog, "okButton");
            return dialog.result();
        });
        h.window().action(Command::About)->trigger();
        QCOMPARE(h.ops().dialogsRun, QStringList{"MovantrixManager Information"});
        QCOMPARE(version, QStringLiteral("v0.98"));
        QCOMPARE(busyDuring, 1);
        QCOMPARE(h.app().busBusy.load(), 0);
        pressKey(h, &h.window(), Qt::Key_X);
        QVERIFY(!h.window().isVisible());
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::MainWindowTest)
#include "MainWindowTest.moc"
