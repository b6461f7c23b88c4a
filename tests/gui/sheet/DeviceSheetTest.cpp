// The property sheet as the user meets it through the tree: the page set by class and return
// level, the tab kept across devices, one load per selection, keyboard selection, refused
// activations with their fallbacks, and failures reported from inside an activation.
#include <QTest>

#include "protocol/Packet.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QStringList kActuatorTabs = {"Operation", "Configure", "Network", "Control Table"};
const QString kDeviceFailed = QStringLiteral(
    "Movantrix access failed! \n\nPlease check USB2Movantrix, movantrix(s), and power "
    "connection. ");

// Device (1, 1), first in the tree, so that every refresh selects it again. Its faults from
// the next bus call on: `faults` for a packet after a ping or any other packet, `afterRead`
// for the packet right after a read of it. From the fourth message on it falls silent, so
// that the next refresh drops it and a chain of reports that would not end is cut short.
void faultFirstDevice(GuiHarness& h, SimFaults faults, SimFaults afterRead) {
    h.bus().clearTraffic();
    SimulatedDevice* device = h.bus().find(1, 1);
    h.hooked.hook = [&h, device, faults, afterRead](const std::string& call) {
        if (call == "write") {
            const auto sent = h.hostPackets();
            const bool readBefore = !sent.empty() && sent.back().bytes.size() > 4 &&
                                    sent.back().bytes[2] == 1 && sent.back().bytes[4] == Read;
            device->setFaults(h.ops().messageCount.load() > 3 ? GuiHarness::silent()
                              : readBefore                    ? afterRead
                                                              : faults);
        }
        return FT_OK;
    };
}

SimFaults unansweredReads() {
    SimFaults faults;
    faults.answerReads = 0;
    return faults;
}

}  // namespace

class DeviceSheetTest : public QObject {
    Q_OBJECT

private slots:
    void pageSetFollowsClassAndReturnLevel_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("tabs");
        QTest::newRow("actuator, level 2") << 1 << 1 << kActuatorTabs;
        QTest::newRow("actuator, level 1") << 34 << 7 << kActuatorTabs;
        QTest::newRow("actuator, level 0") << 1 << 9 << (QStringList{"Network", "Control Table"});
        QTest::newRow("sensor") << 34 << 100 << (QStringList{"Network", "Control Table"});
        QTest::newRow("nothing") << -1 << -1 << QStringList{"No Information"};
        QTest::newRow("not registered") << 5 << 5 << QStringList{"No Information"};
    }

    void pageSetFollowsClassAndReturnLevel() {
        QFETCH(int, code);
        QFETCH(int, id);
        QFETCH(QStringList, tabs);
        GuiHarness h;
        h.startSearched();
        h.sheet().showDevice(code, id);
        h.settle();
        QCOMPARE(h.tabTitles(), tabs);
        QCOMPARE(h.sheet().currentIndex(), 0);
        QCOMPARE(h.sheet().currentBaud(), code);
        QCOMPARE(h.sheet().currentId(), id);
    }

    void activeTabIsKeptAndOnlyThatPageLoads() {
        GuiHarness h;
        h.startSearched();
        h.clickTab("Configure");
        h.bus().clearTraffic();
        h.clickDevice(1, 2);
        QCOMPARE(h.activeTab(), QStringLiteral("Configure"));
        QCOMPARE(h.sheet().currentId(), 2);
        // One read of the limit registers (13 bytes from address 6) of ID 2, nothing else.
        const auto packets = h.hostPackets();
        QCOMPARE(packets.size(), std::size_t{1});
        QCOMPARE(packets[0].bytes,
                 (std::vector<std::uint8_t>{0xFF, 0xFF, 2, 4, Read, 6, 13,
                                            static_cast<std::uint8_t>(~(2 + 4 + Read + 6 + 13))}));
        // Pages are created anew: another device of the same kind keeps the tab.
        h.clickDevice(1, 4);
        QCOMPARE(h.activeTab(), QStringLiteral("Configure"));
        // A sensor has only the Network page.
        h.clickDevice(34, 100);
        QCOMPARE(h.tabTitles(), (QStringList{"Network", "Control Table"}));
        QCOMPARE(h.activeTab(), QStringLiteral("Network"));
        // Back to an actuator: Network is in its set too, so it stays.
        h.clickDevice(1, 1);
        QCOMPARE(h.tabTitles(), kActuatorTabs);
        QCOMPARE(h.activeTab(), QStringLiteral("Network"));
    }

    void arrowKeysShowTheNewlySelectedDevice() {
        GuiHarness h;
        h.startSearched();
        QCOMPARE(h.sheet().currentId(), 1);
        h.tree().setFocus();
        QTest::keyClick(&h.tree(), Qt::Key_Down);
        QCOMPARE(h.sheet().currentId(), 2);
        QTest::keyClick(&h.tree(), Qt::Key_Down);
        QTest::keyClick(&h.tree(), Qt::Key_Down);
        QTest::keyClick(&h.tree(), Qt::Key_Up);
        QCOMPARE(h.sheet().currentId(), 3);
        QCOMPARE(h.tree().rememberedId(), 3);
    }

    void failedActivationRefreshesAndLandsOnARemainingDevice() {
        GuiHarness h;
        h.startSearched();
        h.clickTab("Configure");
        h.bus().find(1, 2)->setFaults(GuiHarness::silent());
        h.clickDevice(1, 2);
        QCOMPARE(h.ops().messages,
                 QStringList{"Movantrix access failed! \n\nPlease check USB2Movantrix, "
                             "movantrix(s), and power connection. "});
        QVERIFY(!h.treeTexts().contains("  ID 2"));
        QCOMPARE(h.sheet().currentId(), 1);
        QCOMPARE(h.tabTitles(), kActuatorTabs);
        QCOMPARE(h.activeTab(), QStringLiteral("Configure"));
        QCOMPARE(h.countText(), QStringLiteral("7 Movantrix(s) Found"));
        QApplication::processEvents();  // the pages removed during the activation go now
    }

    void refusedActivationOfAGoneDeviceEndsOnNoInformation() {
        GuiHarness h;
        h.startSearched();
        // The device leaves the registry behind the sheet's back; Configure can't load it,
        // nor can the first page in its place.
        bool removed = false;
        h.onBus([&] { removed = h.registry().removeAt(h.registry().indexOf(1, 1)); });
        QVERIFY(removed);
        h.bus().clearTraffic();
        h.clickTab("Configure");
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QVERIFY(h.hostPackets().empty());
        QVERIFY(h.ops().messages.isEmpty());
        QApplication::processEvents();
    }

    void deviceWhoseReadsFailIsReportedOnceAndShownByItsFallback_data() {
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("tab");
        QTest::addColumn<bool>("pingAfterReadLost");
        QTest::addColumn<QStringList>("fallback");
        // An actuator that answers pings but not reads: its Network page still reads, since
        // the identity read takes a ping for an answer.
        QTest::newRow("actuator, Operation")
            << 28 << "Operation" << false << (QStringList{"Network", "Control Table"});
        QTest::newRow("actuator, Configure")
            << 28 << "Configure" << false << (QStringList{"Network", "Control Table"});
        // A sensor whose identity read fails (the ping after the read is lost too) while the
        // refresh's pings are answered.
        QTest::newRow("sensor") << 13 << "Network" << true << QStringList{"No Information"};
    }

    void deviceWhoseReadsFailIsReportedOnceAndShownByItsFallback() {
        QFETCH(int, model);
        QFETCH(QString, tab);
        QFETCH(bool, pingAfterReadLost);
        QFETCH(QStringList, fallback);
        BusDescription bus;
        bus.devices = {mvx::test::simSpec(1, 1, model), mvx::test::simSpec(1, 2, 28)};
        GuiHarness h(bus);
        h.startSearched();
        h.clickDevice(1, 2);
        h.clickTab(tab);
        faultFirstDevice(h, unansweredReads(),
                         pingAfterReadLost ? GuiHarness::silent() : unansweredReads());
        h.clickDevice(1, 1);
        QCOMPARE(h.ops().messages, QStringList{kDeviceFailed});
        // It answers pings: still listed and selected, shown by what still works for it.
        QCOMPARE(h.countText(), QStringLiteral("2 Movantrix(s) Found"));
        QCOMPARE(h.tree().rememberedId(), 1);
        QCOMPARE(h.sheet().currentId(), 1);
        QCOMPARE(h.tabTitles(), fallback);
        // The user goes on: another device, the search, Close.
        h.clickDevice(1, 2);
        QCOMPARE(h.tabTitles(), kActuatorTabs);
        h.dialogs().push_back(&GuiHarness::okWithoutSearch);
        h.command(Command::Search);
        h.command(Command::Close);
        h.settle();
        QVERIFY(!h.busOpen());
        QCOMPARE(h.ops().messages.size(), 1);
        QCOMPARE(h.app().busBusy, 0);
        QApplication::processEvents();
    }

    void adapterFailureDuringActivationClosesTheConnection() {
        GuiHarness h;
        h.startSearched();
        h.bus().failAdapterFrom(1);
        h.clickDevice(1, 3);
        QCOMPARE(h.ops().messages,
                 QStringList{"USB2Movantrix access failed! \n\nPlease check connection."});
        QVERIFY(!h.busOpen());
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QVERIFY(h.treeTexts().isEmpty());
        QApplication::processEvents();
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::DeviceSheetTest)
#include "DeviceSheetTest.moc"
