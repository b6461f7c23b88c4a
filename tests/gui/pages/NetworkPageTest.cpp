// The Network page over the simulated bus: the lists it builds around the device, and what
// "Apply" writes, asks and refreshes.
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "device/DeviceRegistry.h"
#include "gui/app/Texts.h"
#include "protocol/Packet.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kLevelZeroWarning = QStringLiteral(
    "Warning! Setting 'Status Return Level' to 0, will disable getting any movantrix "
    "information.\n\nContinue?");
const QString kAddressTaken = QStringLiteral(
    "Existing ID in the same baudrate found.\n\nPlease, choose another ID or baudrate.");
const QStringList kActuatorTabs = {"Operation", "Configure", "Network", "Control Table"};

struct Controls {
    QWidget* page = nullptr;
    QComboBox* id = nullptr;
    QComboBox* baud = nullptr;
    QComboBox* level = nullptr;
    QComboBox* delay = nullptr;
    QPushButton* apply = nullptr;
    bool complete() const { return page && id && baud && level && delay && apply; }
};

// Shows device (code, id) on the Network page, probing it first when the quick search at
// start-up could not find it (codes outside the common ones).
Controls openNetworkPage(GuiHarness& h, int code, int id) {
    bool probed = false;
    h.onBus([&] {
        probed = h.registry().find(code, id) == nullptr &&
                 h.registry().appendPlaceholder()->probe(code, id) == 100;
    });
    if (probed) {
        h.app().shell().refreshDeviceList(code, id);
        h.settle();
    }
    h.clickDevice(code, id);
    h.clickTab("Network");
    Controls c;
    c.page = h.sheet().currentWidget();
    if (c.page != nullptr) {
        c.id = c.page->findChild<QComboBox*>("idCombo");
        c.baud = c.page->findChild<QComboBox*>("baudCombo");
        c.level = c.page->findChild<QComboBox*>("levelCombo");
        c.delay = c.page->findChild<QComboBox*>("delayCombo");
        c.apply = c.page->findChild<QPushButton*>("applyButton");
    }
    return c;
}

// The register addresses of the host's write packets since the traffic was cleared.
QList<int> writtenRegisters(const GuiHarness& h) {
    QList<int> registers;
    for (const SimTraffic& packet : h.hostPackets()) {
        if (packet.bytes.size() > 5 && packet.bytes[4] == Write) {
            registers.push_back(packet.bytes[5]);
        }
    }
    return registers;
}

QList<int> occupiedItems(const QComboBox& list) {
    QList<int> occupied;
    for (int i = 0; i < list.count(); ++i) {
        if (list.itemText(i) == QStringLiteral("%1 (occupied)").arg(i)) {
            occupied.push_back(i);
        } else if (list.itemText(i) != QString::number(i)) {
            occupied.push_back(-1);  // neither form: shows up as a mismatch
        }
    }
    return occupied;
}

}  // namespace

class NetworkPageTest : public QObject {
    Q_OBJECT

private slots:
    void idListMarksTheIdsAtTheDevicesCode_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("id");
        QTest::addColumn<QList<int>>("occupied");
        QTest::newRow("code 1") << 1 << 3 << QList<int>{1, 2, 3, 4, 9};
        // ID 1 at code 1 does not mark item 1 here.
        QTest::newRow("code 34") << 34 << 7 << QList<int>{7, 100};
    }

    void idListMarksTheIdsAtTheDevicesCode() {
        QFETCH(int, code);
        QFETCH(int, id);
        QFETCH(QList<int>, occupied);
        GuiHarness h;
        h.startSearched();
        const Controls c = openNetworkPage(h, code, id);
        QVERIFY(c.complete());
        QCOMPARE(c.id->count(), 254);
        QCOMPARE(occupiedItems(*c.id), occupied);
        QCOMPARE(c.id->currentIndex(), id);
        QVERIFY(!c.apply->isEnabled());
        // The form's own texts, and a page that fits the sheet's page area.
        QCOMPARE(c.delay->toolTip(), QStringLiteral("Change return delay time\\"));
        QCOMPARE(c.level->itemText(2), QStringLiteral("2 (All return)"));
        QCOMPARE(c.delay->count(), 255);
        QCOMPARE(c.delay->itemText(254), QStringLiteral("254 (508usec)"));
        QVERIFY(c.page->minimumSizeHint().width() <= 470);
        QVERIFY(c.page->minimumSizeHint().height() <= 395);
    }

    void baudListHoldsTheDevicesCodeInItsPlace_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("text");
        QTest::newRow("common code") << 34 << 9 << 6 << "34 (57142bps)";
        QTest::newRow("between 1 and 3") << 2 << 10 << 1 << "2 (666666bps)";
        QTest::newRow("above 207") << 208 << 10 << 9 << "208 (9569bps)";
        QTest::newRow("highest") << 255 << 10 << 9 << "255 (7812bps)";
    }

    void baudListHoldsTheDevicesCodeInItsPlace() {
        QFETCH(int, code);
        QFETCH(int, count);
        QFETCH(int, selected);
        QFETCH(QString, text);
        BusDescription bus = SimulatedBus::defaultBus();
        bus.devices.push_back(mvx::test::simSpec(code, 5, 28));
        GuiHarness h(bus);
        h.startSearched();
        const Controls c = openNetworkPage(h, code, 5);
        QVERIFY(c.complete());
        QCOMPARE(c.baud->count(), count);
        QCOMPARE(c.baud->itemText(0), QStringLiteral("1 (1000000bps)"));
        QCOMPARE(c.baud->currentIndex(), selected);
        QCOMPARE(c.baud->currentText(), text);
        QCOMPARE(c.baud->itemText(count - 1), code > 207 ? text : QStringLiteral("207 (9615bps)"));
    }

    // Apply without an address change: which registers are written and whether the device
    // list is refreshed (the page is then replaced).
    void applyWritesOnlyWhatChanged_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("delay");
        QTest::addColumn<int>("level");
        QTest::addColumn<QList<int>>("written");
        QTest::addColumn<bool>("refreshed");
        QTest::addColumn<QStringList>("tabs");
        QTest::newRow("nothing changed") << 1 << -1 << -1 << QList<int>{} << false << kActuatorTabs;
        QTest::newRow("delay only") << 1 << 120 << -1 << QList<int>{5} << false << kActuatorTabs;
        QTest::newRow("level 2 to 1") << 1 << -1 << 1 << QList<int>{16} << false << kActuatorTabs;
        // At level 0 the delay list is off: only the level is written, and the actuator
        // pages come back.
        QTest::newRow("out of level 0") << 9 << 120 << 2 << QList<int>{16} << true << kActuatorTabs;
    }

    void applyWritesOnlyWhatChanged() {
        QFETCH(int, id);
        QFETCH(int, delay);
        QFETCH(int, level);
        QFETCH(QList<int>, written);
        QFETCH(bool, refreshed);
        QFETCH(QStringList, tabs);
        GuiHarness h;
        h.startSearched();
        const Controls c = openNetworkPage(h, 1, id);
        QVERIFY(c.complete());
        QCOMPARE(c.delay->isEnabled(), id != 9);
        const int oldDelay = c.delay->currentIndex();
        c.delay->setCurrentIndex(delay >= 0 ? delay : (oldDelay + 1) % 255);
        if (delay < 0) {
            c.delay->setCurrentIndex(oldDelay);  // changed and changed back
        }
        if (level >= 0) {
            c.level->setCurrentIndex(level);
        }
        QVERIFY(c.apply->isEnabled());
        h.bus().clearTraffic();
        QPointer<QWidget> page = c.page;
        QTest::mouseClick(c.apply, Qt::LeftButton);
        h.settle();
        QCOMPARE(writtenRegisters(h), written);
        QCOMPARE(h.sheet().currentWidget() != page.data(), refreshed);
        QVERIFY(page.isNull() || !c.apply->isEnabled());
        QCOMPARE(h.tabTitles(), tabs);
        QCOMPARE(h.sheet().currentId(), id);
        QVERIFY(h.ops().messages.isEmpty());
        QApplication::processEvents();
    }

    void levelZeroIsWrittenOnlyAfterTheWarning_data() {
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("Cancel") << false;
        QTest::newRow("OK") << true;
    }

    void levelZeroIsWrittenOnlyAfterTheWarning() {
        QFETCH(bool, confirmed);
        GuiHarness h;
        h.startSearched();
        const Controls c = openNetworkPage(h, 1, 2);
        QVERIFY(c.complete());
        c.delay->setCurrentIndex(77);
        c.level->setCurrentIndex(0);
        h.ops().answers.push_back(confirmed ? GuiOperations::Answer::Ok
                                            : GuiOperations::Answer::Cancel);
        h.bus().clearTraffic();
        QPointer<QWidget> page = c.page;
        QTest::mouseClick(c.apply, Qt::LeftButton);
        h.settle();
        QCOMPARE(h.ops().messages, QStringList{kLevelZeroWarning});
        // The delay written before the question stays written.
        QCOMPARE(writtenRegisters(h), confirmed ? (QList<int>{5, 16}) : QList<int>{5});
        if (confirmed) {
            QCOMPARE(h.tabTitles(), (QStringList{"Network", "Control Table"}));
            QCOMPARE(h.sheet().currentId(), 2);
            QCOMPARE(h.registry().find(1, 2)->returnLevel(), 0);
        } else {
            QCOMPARE(h.sheet().currentWidget(), page.data());
            QCOMPARE(c.level->currentIndex(), 2);
            QVERIFY(!c.apply->isEnabled());
            QCOMPARE(h.tabTitles(), kActuatorTabs);
        }
        QApplication::processEvents();
    }

    void addressChangeMovesTheDeviceOrIsRefused_data() {
        QTest::addColumn<int>("newCode");
        QTest::addColumn<int>("newId");
        QTest::addColumn<bool>("refused");
        QTest::newRow("new ID") << 1 << 5 << false;
        QTest::newRow("new baud rate") << 34 << 1 << false;
        QTest::newRow("both") << 207 << 30 << false;
        QTest::newRow("occupied ID") << 1 << 2 << true;
        QTest::newRow("occupied at another code") << 34 << 7 << true;
        // The ID is written first: ID 2 at code 1 is taken on the way to code 34.
        QTest::newRow("ID taken on the way") << 34 << 2 << true;
    }

    void addressChangeMovesTheDeviceOrIsRefused() {
        QFETCH(int, newCode);
        QFETCH(int, newId);
        QFETCH(bool, refused);
        GuiHarness h;
        h.startSearched();
        const Controls c = openNetworkPage(h, 1, 1);
        QVERIFY(c.complete());
        c.id->setCurrentIndex(newId);
        c.baud->setCurrentIndex(
            c.baud->findText(QStringLiteral("%1 (").arg(newCode), Qt::MatchStartsWith));
        h.bus().clearTraffic();
        QTest::mouseClick(c.apply, Qt::LeftButton);
        h.settle();

        const int code = refused ? 1 : newCode;
        const int id = refused ? 1 : newId;
        QCOMPARE(h.ops().messages, refused ? QStringList{kAddressTaken} : QStringList{});
        if (refused) {
            QCOMPARE(writtenRegisters(h), QList<int>{});
        }
        QVERIFY(h.bus().find(code, id) != nullptr);
        QVERIFY(h.registry().find(code, id) != nullptr);
        QCOMPARE(h.registry().find(1, 1) != nullptr, refused);
        QTreeWidgetItem* item = deviceItem(h.tree(), code, id);
        QVERIFY(item != nullptr);
        QCOMPARE(h.tree().currentItem(), item);
        QCOMPARE(h.sheet().currentBaud(), code);
        QCOMPARE(h.sheet().currentId(), id);
        QCOMPARE(h.activeTab(), QStringLiteral("Network"));
        QApplication::processEvents();
    }

    // Failed writes are reported with the device message: the list is rebuilt around the
    // devices that still answer, and the removed page does nothing more. A device that ignored
    // its new ID is looked for at the new ID, then found at the old one, and stays there.
    void failedWriteIsReported_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QList<int>>("written");
        QTest::addColumn<QList<int>>("firstPings");
        // Gone silent: the delay write fails and ends the Apply before the address.
        QTest::newRow("delay write unanswered") << 1 << 3 << true << QList<int>{5} << QList<int>{};
        // Level 1: the ID write gets no reply, the device answers at neither ID 40 (asked by
        // the ID change, then by the registry) but at 7.
        QTest::newRow("ID write ignored")
            << 34 << 7 << false << QList<int>{5, 3} << QList<int>{40, 40, 7};
    }

    // The adapter is lost as the Network page of another device loads: while the message is up
    // the page shows no setting (not "0 (No return)"), and then "No Information".
    void aPageWithoutItsReadShowsNoSetting() {
        GuiHarness h;
        h.startSearched();
        h.clickTab("Network");
        QStringList shown;
        h.ops().whileMessageShown = [&h, &shown] {
            if (auto* level = h.sheet().currentWidget()->findChild<QComboBox*>("levelCombo")) {
                shown << level->currentText();
            }
        };
        h.hooked.hook = [](const std::string&) { return FT_IO_ERROR; };
        h.clickDevice(1, 3);
        h.hooked.hook = nullptr;
        QCOMPARE(h.ops().messages,
                 QStringList("USB2Movantrix access failed! \n\nPlease check connection."));
        QCOMPARE(shown, QStringList{QString()});
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
    }

    void failedWriteIsReported() {
        QFETCH(int, code);
        QFETCH(int, id);
        QFETCH(bool, silent);
        QFETCH(QList<int>, written);
        QFETCH(QList<int>, firstPings);
        GuiHarness h;
        h.startSearched();
        const Controls c = openNetworkPage(h, code, id);
        QVERIFY(c.complete());
        c.delay->setCurrentIndex(9);
        c.id->setCurrentIndex(40);
        SimFaults faults = silent ? GuiHarness::silent() : SimFaults{};
        faults.ignoreWrites = !silent;
        h.bus().find(code, id)->setFaults(faults);
        h.bus().clearTraffic();
        QTest::mouseClick(c.apply, Qt::LeftButton);
        h.settle();
        QCOMPARE(h.ops().messages, QStringList{texts::kDeviceAccessFailed});
        QCOMPARE(writtenRegisters(h), written);
        QList<int> pings;
        for (const SimTraffic& packet : h.hostPackets()) {
            if (packet.bytes[4] == Ping && pings.size() < firstPings.size()) {
                pings.push_back(packet.bytes[2]);
            }
        }
        QCOMPARE(pings, firstPings);
        QCOMPARE(deviceItem(h.tree(), code, id) != nullptr, !silent);
        QCOMPARE(h.registry().find(code, id) != nullptr, !silent);
        QVERIFY(deviceItem(h.tree(), code, 40) == nullptr);
        QVERIFY(h.registry().find(code, 40) == nullptr);
        QApplication::processEvents();
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::NetworkPageTest)
#include "NetworkPageTest.moc"
