// The Control Table page over the simulated bus: its rows for an actuator and a sensor against
// the register table and the devices' values, the reads it puts on the wire, Read All, what
// Save writes, and a device it can not list.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "device/RegisterTable.h"
#include "gui/pages/ControlTablePage.h"
#include "gui/pages/ControlTableRefresh.h"
#include "protocol/Packet.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

const QString kTab = QStringLiteral("Control Table");

// An actuator at (1, 1) with its goal at 600, a sensor at (1, 100), a model nobody knows at
// (1, 7) and an actuator that answers no reads at (1, 9).
BusDescription tableBus() {
    BusDescription bus;
    bus.devices.push_back(mvx::test::simSpec(1, 1, 28, 30, 2, {{30, 600}}));
    bus.devices.push_back(mvx::test::simSpec(1, 100, 13));
    bus.devices.push_back(mvx::test::simSpec(1, 7, 77));
    bus.devices.push_back(mvx::test::simSpec(1, 9, 28, 30, 0));
    return bus;
}

QTableWidget* table(GuiHarness& h) {
    return h.sheet().currentWidget()->findChild<QTableWidget*>(QStringLiteral("table"));
}

QString cell(GuiHarness& h, const char* name, int column) {
    QTableWidget* t = table(h);
    for (int row = 0; row < t->rowCount(); ++row) {
        if (t->item(row, ControlTablePage::NameColumn)->text() == QLatin1String(name)) {
            return t->item(row, column)->text();
        }
    }
    return QStringLiteral("(no row %1)").arg(QLatin1String(name));
}

// The READ packets the host sent since the traffic was cleared: (address, length).
std::vector<std::pair<int, int>> readsOnWire(GuiHarness& h) {
    std::vector<std::pair<int, int>> reads;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() == 8 && t.bytes[4] == Read) {
            reads.emplace_back(t.bytes[5], t.bytes[6]);
        }
    }
    return reads;
}

std::vector<std::pair<int, int>> blocksOf(int model) {
    std::vector<std::pair<int, int>> blocks;
    for (const auto& [first, length] : readBlocks(registerItems(model))) {
        blocks.emplace_back(first, length);
    }
    return blocks;
}

int rowOf(GuiHarness& h, const char* name) {
    QTableWidget* t = table(h);
    for (int row = 0; row < t->rowCount(); ++row) {
        if (t->item(row, ControlTablePage::NameColumn)->text() == QLatin1String(name)) {
            return row;
        }
    }
    qFatal("no row %s", name);
}

// Edits the value of register `name` as the user does (the editor the double-click opens,
// then Enter); the write stays on its way.
void editOnly(GuiHarness& h, const char* name, const QString& text) {
    QTableWidget* t = table(h);
    QTableWidgetItem* item = t->item(rowOf(h, name), ControlTablePage::ValueColumn);
    QVERIFY(item->flags() & Qt::ItemIsEditable);
    t->editItem(item);
    auto* editor = t->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
}

// The same, settled.
void edit(GuiHarness& h, const char* name, const QString& text) {
    editOnly(h, name, text);
    h.settle();
}

// The WRITE packets the host sent since the traffic was cleared, as "address=data bytes".
QStringList writesOnWire(GuiHarness& h) {
    QStringList writes;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() > 6 && t.bytes[4] == Write) {
            QString text = QString::number(t.bytes[5]) + QLatin1Char('=');
            for (std::size_t i = 6; i + 1 < t.bytes.size(); ++i) {
                text += QString::number(t.bytes[i]) + (i + 2 < t.bytes.size() ? " " : "");
            }
            writes << text;
        }
    }
    return writes;
}

}  // namespace

class ControlTablePageTest : public QObject {
    Q_OBJECT

private slots:
    void rowsOfTwoModels_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("model");
        QTest::addColumn<QStringList>("tabs");
        QTest::newRow("actuator") << 1 << 28
                                  << QStringList{"Operation", "Configure", "Network", kTab};
        QTest::newRow("sensor") << 100 << 13 << QStringList{"Network", kTab};
    }
    void rowsOfTwoModels() {
        QFETCH(int, id);
        QFETCH(int, model);
        QFETCH(QStringList, tabs);
        GuiHarness h(tableBus());
        h.startSearched();
        h.clickDevice(1, id);
        QCOMPARE(h.tabTitles(), tabs);
        h.bus().clearTraffic();
        h.clickTab(kTab);
        QCOMPARE(h.activeTab(), kTab);
        // The whole table in as few reads as the blocks allow.
        QCOMPARE(readsOnWire(h), blocksOf(model));

        const std::vector<RegisterItem> items = registerItems(model);
        QTableWidget* t = table(h);
        QCOMPARE(t->rowCount(), static_cast<int>(items.size()));
        for (int row = 0; row < t->rowCount(); ++row) {
            const RegisterItem& item = items[static_cast<std::size_t>(row)];
            QCOMPARE(t->item(row, ControlTablePage::AddressColumn)->text().toInt(), item.address);
            QCOMPARE(t->item(row, ControlTablePage::NameColumn)->text(),
                     QString::fromLatin1(item.name));
            QCOMPARE(t->item(row, ControlTablePage::NameColumn)->toolTip(),
                     QString::fromUtf8(item.description));
            if (row > 0) {
                QVERIFY(t->item(row, 0)->text().toInt() > t->item(row - 1, 0)->text().toInt());
            }
        }
        QCOMPARE(cell(h, "model-number", ControlTablePage::RawColumn), QString::number(model));
        QCOMPARE(cell(h, "id", ControlTablePage::RawColumn), QString::number(id));
        QCOMPARE(cell(h, "id", ControlTablePage::AccessColumn), QStringLiteral("RW"));
        QCOMPARE(cell(h, "model-number", ControlTablePage::SizeColumn), QStringLiteral("word"));
        if (model == 28) {
            QCOMPARE(cell(h, "goal-position", ControlTablePage::RawColumn), QStringLiteral("600"));
        }

        // Read All reads it all again; the page stays.
        h.bus().clearTraffic();
        QTest::mouseClick(
            h.sheet().currentWidget()->findChild<QPushButton*>(QStringLiteral("readAllButton")),
            Qt::LeftButton);
        h.settle();
        QCOMPARE(readsOnWire(h), blocksOf(model));
        QCOMPARE(h.activeTab(), kTab);
        QVERIFY(h.ops().messages.isEmpty());
    }

    void liveRefreshReadsTheVolatileBlocks() {
        BusDescription bus;
        bus.devices.push_back(mvx::test::simSpec(1, 1, 28, 30, 2, {{30, 600}, {36, 300}}));
        GuiHarness h(bus);
        h.startSearched();
        h.clickDevice(1, 1);
        h.clickTab(kTab);
        QWidget* page = h.sheet().currentWidget();
        auto* rate = page->findChild<QComboBox*>(QStringLiteral("refreshCombo"));
        QVERIFY(rate->isEnabled());
        h.bus().clearTraffic();
        rate->setCurrentText(QStringLiteral("10 Hz"));
        std::vector<std::pair<int, int>> blocks;
        for (const auto& [first, length] : readBlocks(volatileItems(28))) {
            blocks.emplace_back(first, length);
        }
        QCOMPARE(blocks.size(), std::size_t{1});  // present-position to moving, one read
        QVERIFY(waitFor([&] { return readsOnWire(h).size() >= 3; }));
        // Only the volatile block goes on the wire, once per period of the virtual clock.
        rate->setCurrentText(QStringLiteral("Off"));
        h.settle();  // a read under way when Off was chosen ends
        const std::vector<std::pair<int, int>> reads = readsOnWire(h);
        for (const auto& read : reads) {
            QCOMPARE(read, blocks[0]);
        }
        std::vector<std::int64_t> times;
        for (const SimTraffic& t : h.hostPackets()) {
            times.push_back(t.startUs);
        }
        for (std::size_t i = 1; i < times.size(); ++i) {
            QVERIFY(times[i] - times[i - 1] >= 100000);
        }
        // Off: nothing more is read.
        h.bus().clearTraffic();
        h.settle();
        QTest::qWait(20);
        h.settle();
        QVERIFY(readsOnWire(h).empty());
    }

    void edits_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<QString>("value");    // the row's value afterwards
        QTest::addColumn<QString>("message");  // empty: none
        QTest::newRow("goal accepted")
            << "goal-position"
            << "700" << QStringList{"30=188 2"} << "205.1\u00B0" << QString();
        QTest::newRow("voltage in volts") << "max-voltage"
                                          << "14.5" << QStringList{"13=145"} << "14.5" << QString();
        QTest::newRow("flags as the table shows them")
            << "alarm-led"
            << "overload, overheating, input-voltage" << QStringList{"17=37"}
            << "overload, overheating, input-voltage" << QString();
        QTest::newRow("voltage raw") << "max-voltage"
                                     << "150 raw" << QStringList{"13=150"} << "15.0" << QString();
        QTest::newRow("goal in degrees")
            << "goal-position"
            << "90\u00B0" << QStringList{"30=51 1"} << "89.9\u00B0" << QString();
        QTest::newRow("raw out of range")
            << "max-voltage"
            << "300 raw" << QStringList{} << "(unchanged)"
            << "The value was not written!\n\nmax-voltage: 300 is out of range (50-250)";
        QTest::newRow("goal above the model's max position")
            << "goal-position"
            << "2000" << QStringList{} << "175.8\u00B0"
            << "The value was not written!\n\ngoal-position: 2000 is above the max position of "
               "this model (1023)";
        QTest::newRow("out of range") << "torque-limit"
                                      << "5000" << QStringList{} << "(unchanged)"
                                      << "(range)";
    }
    void edits() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QStringList, writes);
        QFETCH(QString, value);
        QFETCH(QString, message);
        GuiHarness h(tableBus());
        h.startSearched();
        h.clickDevice(1, 1);
        h.clickTab(kTab);
        const QByteArray reg = name.toLatin1();
        const QString before = cell(h, reg.constData(), ControlTablePage::ValueColumn);
        h.bus().clearTraffic();
        edit(h, reg.constData(), text);
        QCOMPARE(writesOnWire(h), writes);
        const QString after = cell(h, reg.constData(), ControlTablePage::ValueColumn);
        if (value == QLatin1String("(unchanged)")) {
            QCOMPARE(after, before);
        } else {
            QVERIFY2(after.startsWith(value), qPrintable(after));
        }
        if (message.isEmpty()) {
            QVERIFY(h.ops().messages.isEmpty());
            // Read back after the write.
            QVERIFY(readsOnWire(h) == blocksOf(28));
        } else if (message == QLatin1String("(range)")) {
            QCOMPARE(h.ops().messages.size(), 1);
            QVERIFY2(h.ops().messages[0].startsWith(
                         QStringLiteral("The value was not written!\n\ntorque-limit")),
                     qPrintable(h.ops().messages[0]));
        } else {
            QCOMPARE(h.ops().messages, QStringList{message});
        }
        QCOMPARE(h.activeTab(), kTab);
        // Read-only registers open no editor.
        QVERIFY(
            !(table(h)->item(rowOf(h, "present-position"), ControlTablePage::ValueColumn)->flags() &
              Qt::ItemIsEditable));
    }

    void editWithAnotherDeviceSelectedMeanwhile() {
        GuiHarness h(tableBus());
        h.startSearched();
        h.clickDevice(1, 1);
        h.clickTab(kTab);
        h.bus().clearTraffic();
        editOnly(h, "goal-position", QStringLiteral("700"));
        h.clickDeviceOnly(1, 100);
        h.settle();
        QCOMPARE(writesOnWire(h), QStringList{"30=188 2"});
        QVERIFY(h.ops().messages.isEmpty());
        QCOMPARE(h.sheet().currentId(), 100);
        h.clickDevice(1, 1);
        h.clickTab(kTab);
        QCOMPARE(cell(h, "goal-position", ControlTablePage::RawColumn), QStringLiteral("700"));
    }

    void idChangeMovesTheDevice() {
        GuiHarness h(tableBus());
        h.startSearched();
        h.clickDevice(1, 1);
        h.clickTab(kTab);
        edit(h, "id", QStringLiteral("5"));
        QVERIFY(h.ops().messages.isEmpty());
        QVERIFY(h.treeTexts().contains(QStringLiteral("  ID 5")));
        QVERIFY(!h.treeTexts().contains(QStringLiteral("  ID 1")));
        QCOMPARE(h.sheet().currentId(), 5);
        // Onto an ID that another device answers at: refused, nothing moves.
        h.clickTab(kTab);
        edit(h, "id", QStringLiteral("100"));
        QCOMPARE(h.ops().messages,
                 QStringList{"The value was not written!\n\nanother device answers at ID 100, "
                             "code 1; nothing was changed"});
        QCOMPARE(h.sheet().currentId(), 5);
        QCOMPARE(cell(h, "id", ControlTablePage::RawColumn), QStringLiteral("5"));
    }

    void saveAsCsv() {
        GuiHarness h(tableBus());
        h.startSearched();
        h.clickDevice(1, 1);
        h.clickTab(kTab);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("table.csv"));
        h.ops().saveAnswers = {path};
        QTest::mouseClick(
            h.sheet().currentWidget()->findChild<QPushButton*>(QStringLiteral("saveButton")),
            Qt::LeftButton);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines[0], QByteArray("address,name,size,access,raw,value,unit,text"));
        QCOMPARE(lines.size(), table(h)->rowCount() + 2);
        QVERIFY(lines.contains(QByteArray("3,id,byte,RW,1,1,\"\",\"1\"")));
    }

    void devicesWithNothingToList_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("why");
        QTest::newRow("unknown model")
            << 7 << "Model 77 is not in the catalogue: the registers of this device are not known.";
        QTest::newRow("no reads")
            << 9 << "ID 9 answers no reads (status return level 0): its registers can not be read.";
    }
    void devicesWithNothingToList() {
        QFETCH(int, id);
        QFETCH(QString, why);
        GuiHarness h(tableBus());
        h.startSearched();
        h.clickDevice(1, id);
        h.bus().clearTraffic();
        h.clickTab(kTab);
        QCOMPARE(h.activeTab(), kTab);
        QCOMPARE(h.sheet().currentWidget()->findChild<QLabel*>(QStringLiteral("noteLabel"))->text(),
                 why);
        QVERIFY(readsOnWire(h).empty());
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::ControlTablePageTest)
#include "ControlTablePageTest.moc"
