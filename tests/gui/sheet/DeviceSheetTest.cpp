// The property sheet as the user meets it through the tree: the page set by class and return
// level, the tab kept across devices, one load per selection, keyboard selection, refused
// activations and failures reported from inside an activation.
#include <QTest>

#include "protocol/Packet.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QStringList kActuatorTabs = {"Operation", "Configure", "Network"};

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
        h.startSearched();
        h.sheet().showDevice(code, id);
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
        QCOMPARE(h.tabTitles(), QStringList{"Network"});
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

    void refusedActivationFallsBackToTheFirstPage() {
        GuiHarness h;
        h.startSearched();
        // The device leaves the registry behind the sheet's back; Configure can't load it.
        QVERIFY(h.registry().removeAt(h.registry().indexOf(1, 1)));
        h.bus().clearTraffic();
        h.clickTab("Configure");
        QCOMPARE(h.activeTab(), QStringLiteral("Operation"));
        QVERIFY(h.hostPackets().empty());
        QVERIFY(h.ops().messages.isEmpty());
    }

    void adapterFailureDuringActivationClosesTheConnection() {
        GuiHarness h;
        h.startSearched();
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
