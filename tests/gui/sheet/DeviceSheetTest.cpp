// The property sheet as the user meets it through the tree: the page set by class and return
// level, the tab kept across devices, one load per selection, keyboard selection, refused
// activations and failures reported from inside an activation.
#include <QTabBar>
#include <QTest>

#include "protocol/Packet.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QStringList kActuatorTabs = {"Operation", "Configure", "Network"};

// The default bus, searched, with the window up.
void startSearched(GuiHarness& h) {
    h.dialogs().push_back(h.searchAndOk());
    h.startUp();
}

void clickTab(GuiHarness& h, const QString& title) {
    QTabBar* bar = h.sheet().tabBar();
    for (int i = 0; i < bar->count(); ++i) {
        if (bar->tabText(i) == title) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
            return;
        }
    }
    QFAIL("no such tab");
}

QString activeTab(GuiHarness& h) {
    return h.sheet().tabText(h.sheet().currentIndex());
}

// Host packets on the wire since the traffic was last cleared.
std::vector<SimTraffic> hostPackets(GuiHarness& h) {
    std::vector<SimTraffic> packets;
    for (const SimTraffic& t : h.bus().traffic()) {
        if (t.direction == SimTraffic::HostToBus) {
            packets.push_back(t);
        }
    }
    return packets;
}

SimFaults silent() {
    SimFaults faults;
    faults.dropReply = true;
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
        QTest::newRow("actuator, level 0") << 1 << 9 << QStringList{"Network"};
        QTest::newRow("sensor") << 34 << 100 << QStringList{"Network"};
        QTest::newRow("nothing") << -1 << -1 << QStringList{"No Information"};
        QTest::newRow("not registered") << 5 << 5 << QStringList{"No Information"};
    }

    void pageSetFollowsClassAndReturnLevel() {
        QFETCH(int, code);
        QFETCH(int, id);
        QFETCH(QStringList, tabs);
        GuiHarness h;
        startSearched(h);
        h.sheet().showDevice(code, id);
        QCOMPARE(h.tabTitles(), tabs);
        QCOMPARE(h.sheet().currentIndex(), 0);
        QCOMPARE(h.sheet().currentBaud(), code);
        QCOMPARE(h.sheet().currentId(), id);
    }

    void activeTabIsKeptAndOnlyThatPageLoads() {
        GuiHarness h;
        startSearched(h);
        clickTab(h, "Configure");
        h.bus().clearTraffic();
        h.clickDevice(1, 2);
        QCOMPARE(activeTab(h), QStringLiteral("Configure"));
        QCOMPARE(h.sheet().currentId(), 2);
        // One read of the limit registers (13 bytes from address 6) of ID 2, nothing else.
        const auto packets = hostPackets(h);
        QCOMPARE(packets.size(), std::size_t{1});
        QCOMPARE(packets[0].bytes,
                 (std::vector<std::uint8_t>{0xFF, 0xFF, 2, 4, Read, 6, 13,
                                            static_cast<std::uint8_t>(~(2 + 4 + Read + 6 + 13))}));
        // Pages are created anew: another device of the same kind keeps the tab.
        h.clickDevice(1, 4);
        QCOMPARE(activeTab(h), QStringLiteral("Configure"));
        // A sensor has only the Network page.
        h.clickDevice(34, 100);
        QCOMPARE(h.tabTitles(), QStringList{"Network"});
        QCOMPARE(activeTab(h), QStringLiteral("Network"));
        // Back to an actuator: Network is in its set too, so it stays.
        h.clickDevice(1, 1);
        QCOMPARE(h.tabTitles(), kActuatorTabs);
        QCOMPARE(activeTab(h), QStringLiteral("Network"));
    }

    void arrowKeysShowTheNewlySelectedDevice() {
        GuiHarness h;
        startSearched(h);
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
        startSearched(h);
        clickTab(h, "Configure");
        h.bus().find(1, 2)->setFaults(silent());
        h.clickDevice(1, 2);
        QCOMPARE(h.ops().messages,
                 QStringList{"Movantrix access failed! \n\nPlease check USB2Movantrix, "
                             "movantrix(s), and power connection. "});
        QVERIFY(!h.treeTexts().contains("  ID 2"));
        QCOMPARE(h.sheet().currentId(), 1);
        QCOMPARE(h.tabTitles(), kActuatorTabs);
        QCOMPARE(activeTab(h), QStringLiteral("Configure"));
        QCOMPARE(h.countText(), QStringLiteral("7 Movantrix(s) Found"));
        QApplication::processEvents();  // the pages removed during the activation go now
    }

    void refusedActivationFallsBackToTheFirstPage() {
        GuiHarness h;
        startSearched(h);
        // The device leaves the registry behind the sheet's back; Configure can't load it.
        QVERIFY(h.registry().removeAt(h.registry().indexOf(1, 1)));
        h.bus().clearTraffic();
        clickTab(h, "Configure");
        QCOMPARE(activeTab(h), QStringLiteral("Operation"));
        QVERIFY(hostPackets(h).empty());
        QVERIFY(h.ops().messages.isEmpty());
    }

    void adapterFailureDuringActivationClosesTheConnection() {
        GuiHarness h;
        startSearched(h);
        h.bus().failAdapterFrom(1);
        h.clickDevice(1, 3);
        QCOMPARE(h.ops().messages,
                 QStringList{"USB2Movantrix access failed! \n\nPlease check connection."});
        QVERIFY(!h.app().bus().isOpen());
        QCOMPARE(h.tabTitles(), QStringList{"No Information"});
        QVERIFY(h.treeTexts().isEmpty());
        QApplication::processEvents();
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::DeviceSheetTest)
#include "DeviceSheetTest.moc"
