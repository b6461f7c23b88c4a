// The Bus Log window over the simulated bus on the virtual clock: its rows against what the
// simulated bus saw on the wire during a search, the filters, Pause and Clear, and what Save
// writes.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include "buslog/BusLogText.h"
#include "device/DeviceRegistry.h"
#include "gui/buslog/BusLogWindow.h"
#include "protocol/Packet.h"
#include "protocol/Transaction.h"
#include "support/GuiHarness.h"

namespace mvx::gui::test {

namespace {

template <typename T>
T* control(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) {
        qFatal("no control %s", name);
    }
    return widget;
}

// Actuators at (1, 1) and (1, 3) and a sensor at (1, 100).
BusDescription smallBus() {
    BusDescription bus;
    bus.devices.push_back(mvx::test::simSpec(1, 1, 28));
    bus.devices.push_back(mvx::test::simSpec(1, 3, 28));
    bus.devices.push_back(mvx::test::simSpec(1, 100, 13));
    return bus;
}

// The window's timer ticks, and the steps it queues to catch up with the log run.
void tick(GuiHarness& h, BusLogWindow* window) {
    h.ops().tickTimersOf(window);
    for (int i = 0; i < 1000 && window->behind(); ++i) {
        QCoreApplication::sendPostedEvents(window, QEvent::MetaCall);
    }
}

BusLogWindow* openWindow(GuiHarness& h) {
    h.command(Command::BusLog);
    BusLogWindow* window = h.window().busLogWindow();
    if (window == nullptr || !window->isVisible()) {
        qFatal("the Bus Log window did not open");
    }
    tick(h, window);
    return window;
}

QString cell(BusLogWindow* window, int row, int column) {
    const BusLogModel& model = window->model();
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

QStringList column(BusLogWindow* window, int col, const QString& direction = {}) {
    QStringList cells;
    for (int row = 0; row < window->model().rowCount(); ++row) {
        if (direction.isEmpty() || cell(window, row, BusLogModel::DirectionColumn) == direction) {
            cells << cell(window, row, col);
        }
    }
    return cells;
}

QString hex(const std::vector<std::uint8_t>& bytes) {
    return QString::fromStdString(hexBytes(bytes));
}

// The host's packets on the wire (as the simulated bus recorded them) that `keep` accepts.
QStringList wireHostPackets(GuiHarness& h, const std::function<bool(const SimTraffic&)>& keep) {
    QStringList packets;
    for (const SimTraffic& t : h.hostPackets()) {
        if (keep(t)) {
            packets << hex(t.bytes);
        }
    }
    return packets;
}

// The device at (1, 1) on its Control Table page with the window open and emptied, the
// traffic record too.
BusLogWindow* openOnControlTable(GuiHarness& h) {
    h.startSearched();
    h.clickDevice(1, 1);
    h.clickTab(QStringLiteral("Control Table"));
    BusLogWindow* window = openWindow(h);
    QTest::mouseClick(control<QPushButton>(window, "clearButton"), Qt::LeftButton);
    h.bus().clearTraffic();
    return window;
}

// Every packet since then, both ways, in the window as the simulated bus saw it on the wire.
void expectRowsMatchWire(GuiHarness& h, BusLogWindow* window) {
    tick(h, window);
    QCOMPARE(column(window, BusLogModel::BytesColumn, QStringLiteral(">")),
             wireHostPackets(h, [](const SimTraffic&) { return true; }));
    QByteArray heard;
    for (const SimTraffic& t : h.bus().traffic()) {
        if (t.direction == SimTraffic::BusToHost && t.heardByHost) {
            heard.append(reinterpret_cast<const char*>(t.bytes.data()),
                         static_cast<qsizetype>(t.bytes.size()));
        }
    }
    QByteArray logged;
    for (const QString& bytes : column(window, BusLogModel::BytesColumn, QStringLiteral("<"))) {
        logged.append(QByteArray::fromHex(bytes.toLatin1()));
    }
    QCOMPARE(logged, heard);
}

}  // namespace

class BusLogWindowTest : public QObject {
    Q_OBJECT

private slots:
    void rowsMatchTheWireOfASearch() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickDevice(1, 3);
        BusLogWindow* window = openWindow(h);
        // From start-up on: every packet the host put on the wire, in order, and every reply
        // byte the host heard.
        expectRowsMatchWire(h, window);
        // The link's events are there too, and the decodings name what went on.
        const QStringList decodings = column(window, BusLogModel::DecodingColumn);
        QVERIFY(decodings.contains(QStringLiteral("ID 3 PING")));
        QVERIFY(decodings.contains(QStringLiteral("no reply [103 timeout]")));
        QVERIFY(column(window, BusLogModel::DirectionColumn).contains(QStringLiteral("#")));
        QCOMPARE(control<QLabel>(window, "countLabel")->text(),
                 QStringLiteral("%1 of %1 lines shown").arg(window->model().rowCount()));
        // Times climb, and the table follows the tail.
        const QStringList times = column(window, BusLogModel::TimeColumn);
        for (qsizetype i = 1; i < times.size(); ++i) {
            QVERIFY(times[i].toLongLong() >= times[i - 1].toLongLong());
        }
        // Opening it again raises the same window.
        h.command(Command::BusLog);
        QCOMPARE(h.window().busLogWindow(), window);
        QCOMPARE(h.window().findChildren<BusLogWindow*>().size(), 1);
    }

    void aPageWriteAsTheWireHadIt() {
        GuiHarness h(smallBus());
        BusLogWindow* window = openOnControlTable(h);
        // The Control Table's edit of the goal: the write, its status, the table read back.
        auto* table = h.sheet().currentWidget()->findChild<QTableWidget*>(QStringLiteral("table"));
        for (int row = 0; row < table->rowCount(); ++row) {
            if (table->item(row, 1)->text() == QStringLiteral("goal-position")) {
                table->item(row, 5)->setText(QStringLiteral("300 raw"));  // as the editor ends
            }
        }
        h.settle();
        QCOMPARE(h.ops().messages, QStringList());
        expectRowsMatchWire(h, window);
        const QStringList decodings = column(window, BusLogModel::DecodingColumn);
        QVERIFY(decodings.contains(QStringLiteral("ID 1 WRITE goal-position=300")));
        QVERIFY(decodings.contains(QStringLiteral("ID 1 status no error")));
        QVERIFY(column(window, BusLogModel::BytesColumn, QStringLiteral(">"))
                    .contains(QStringLiteral("FF FF 01 05 03 1E 2C 01 AB")));
    }

    // Read All while the device answers no reads (its pings still), or while its replies come
    // with a bad checksum.
    void failedReadsAsTheWireHadThem_data() {
        QTest::addColumn<bool>("timeout");
        QTest::addColumn<QString>("decodingEnd");
        QTest::newRow("timeout") << true << QStringLiteral("no reply [103 timeout]");
        QTest::newRow("corrupt") << false << QStringLiteral("bad checksum [104 checksum]");
    }
    void failedReadsAsTheWireHadThem() {
        QFETCH(bool, timeout);
        QFETCH(QString, decodingEnd);
        GuiHarness h(smallBus());
        BusLogWindow* window = openOnControlTable(h);
        SimFaults faults;
        faults.answerReads = timeout ? 0 : -1;
        faults.corruptChecksum = !timeout;
        h.bus().setFaults(faults);
        QTest::mouseClick(
            h.sheet().currentWidget()->findChild<QPushButton*>(QStringLiteral("readAllButton")),
            Qt::LeftButton);
        h.settle();
        h.bus().setFaults({});
        expectRowsMatchWire(h, window);
        const QStringList decodings = column(window, BusLogModel::DecodingColumn);
        QVERIFY2(std::any_of(decodings.begin(), decodings.end(),
                             [&](const QString& d) { return d.endsWith(decodingEnd); }),
                 qPrintable(decodings.join(QLatin1Char('\n'))));
        QVERIFY(!h.ops().messages.isEmpty());  // the failure was reported
        control<QCheckBox>(window, "errorsOnly")->setChecked(true);
        QVERIFY(window->model().rowCount() > 0);
    }

    void aLongLogComesInStepsThatLetTheLoopRun() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.onBus([&] {
            for (std::size_t i = 0; i < BusLogWindow::kEntriesPerStep; ++i) {
                ping(*h.registry().bus().link(), 1);  // and its status: two entries
            }
        });
        const std::size_t logged = h.app().busLog().store().size();
        QVERIFY(logged > 2 * BusLogWindow::kEntriesPerStep);
        // The window takes one step as it opens; the rest follows step by step, each queued
        // behind the events waiting meanwhile.
        BusLogWindow own(h.app());
        BusLogWindow* window = &own;
        QCOMPARE(window->model().kept(), BusLogWindow::kEntriesPerStep);
        QVERIFY(window->behind());
        QCoreApplication::sendPostedEvents(window, QEvent::MetaCall);
        QCOMPARE(window->model().kept(), 2 * BusLogWindow::kEntriesPerStep);
        tick(h, window);
        QVERIFY(!window->behind());
        QCOMPARE(window->model().kept(), logged);
        QCOMPARE(window->model().entryAt(window->model().rowCount() - 1).sequence,
                 h.app().busLog().store().nextSequence() - 1);
    }

    // While it catches up, the table is drawn once in a while rather than after every step;
    // caught up, or paused, it is drawn again as the log comes.
    void theTableIsDrawnAgainWhenCaughtUpOrPaused_data() {
        QTest::addColumn<bool>("pause");
        QTest::newRow("caught up") << false;
        QTest::newRow("paused") << true;
    }
    void theTableIsDrawnAgainWhenCaughtUpOrPaused() {
        QFETCH(bool, pause);
        GuiHarness h(smallBus());
        h.startSearched();
        h.onBus([&] {
            for (std::size_t i = 0; i < 2 * BusLogWindow::kEntriesPerStep; ++i) {
                ping(*h.registry().bus().link(), 1);
            }
        });
        BusLogWindow own(h.app());
        own.show();
        auto* table = control<QTableView>(&own, "table");
        QVERIFY(own.behind());
        QVERIFY(!table->updatesEnabled());
        if (pause) {
            QTest::mouseClick(control<QPushButton>(&own, "pauseButton"), Qt::LeftButton);
        } else {
            tick(h, &own);
            QVERIFY(!own.behind());
        }
        QVERIFY(table->updatesEnabled());
        // Under the step, the log's next entries are drawn as they come.
        const int rows = own.model().rowCount();
        h.onBus([&] { ping(*h.registry().bus().link(), 1); });
        h.ops().tickTimersOf(&own);
        QCOMPARE(own.model().rowCount(), pause ? rows : rows + 2);
        QVERIFY(table->updatesEnabled());
    }

    void filters() {
        GuiHarness h(smallBus());
        h.startSearched();
        h.clickDevice(1, 1);
        h.clickDevice(1, 100);
        BusLogWindow* window = openWindow(h);
        auto* id = control<QSpinBox>(window, "idFilter");
        auto* code = control<QSpinBox>(window, "codeFilter");
        auto* instruction = control<QComboBox>(window, "instructionFilter");
        auto* errors = control<QCheckBox>(window, "errorsOnly");
        const int all = window->model().rowCount();

        struct Case {
            const char* name;
            int id;
            int code;
            const char* instruction;
            std::function<bool(const SimTraffic&)> wire;
        };
        const Case cases[] = {
            {"ID 100", 100, -1, "Any", [](const SimTraffic& t) { return t.bytes[2] == 100; }},
            {"reads", -1, -1, "READ", [](const SimTraffic& t) { return t.bytes[4] == Read; }},
            {"pings of ID 3", 3, -1, "PING",
             [](const SimTraffic& t) { return t.bytes[2] == 3 && t.bytes[4] == Ping; }},
            {"code 1", -1, 1, "Any", [](const SimTraffic& t) { return t.rateBps == 1000000; }},
        };
        for (const Case& c : cases) {
            id->setValue(c.id);
            code->setValue(c.code);
            instruction->setCurrentText(QString::fromLatin1(c.instruction));
            const QStringList host = column(window, BusLogModel::BytesColumn, QStringLiteral(">"));
            QVERIFY2(!host.isEmpty(), c.name);
            QCOMPARE(host, wireHostPackets(h, c.wire));
            // No link events under a filter.
            QVERIFY2(!column(window, BusLogModel::DirectionColumn).contains(QStringLiteral("#")),
                     c.name);
        }
        // Errors only: the search's pings nobody answered, and nothing else.
        id->setValue(-1);
        code->setValue(-1);
        instruction->setCurrentText(QStringLiteral("Any"));
        errors->setChecked(true);
        const QStringList failed = column(window, BusLogModel::DecodingColumn);
        QVERIFY(!failed.isEmpty());
        for (const QString& decoding : failed) {
            QCOMPARE(decoding, QStringLiteral("no reply [103 timeout]"));
        }
        errors->setChecked(false);
        QCOMPARE(window->model().rowCount(), all);
    }

    void pauseAndClear() {
        GuiHarness h(smallBus());
        h.startSearched();
        BusLogWindow* window = openWindow(h);
        const int before = window->model().rowCount();
        QVERIFY(before > 0);

        QTest::mouseClick(control<QPushButton>(window, "pauseButton"), Qt::LeftButton);
        h.bus().clearTraffic();
        h.clickDevice(1, 3);  // reads the device while the table stands still
        h.ops().tickTimersOf(window);
        QCOMPARE(window->model().rowCount(), before);
        // The log kept recording: Resume shows it all.
        QTest::mouseClick(control<QPushButton>(window, "pauseButton"), Qt::LeftButton);
        QStringList after = column(window, BusLogModel::BytesColumn, QStringLiteral(">"));
        QCOMPARE(after.mid(after.size() - static_cast<qsizetype>(h.hostPackets().size())),
                 wireHostPackets(h, [](const SimTraffic&) { return true; }));

        // Clear: the table is empty, and shows what comes after.
        QTest::mouseClick(control<QPushButton>(window, "clearButton"), Qt::LeftButton);
        QCOMPARE(window->model().rowCount(), 0);
        QCOMPARE(control<QLabel>(window, "countLabel")->text(),
                 QStringLiteral("0 of 0 lines shown"));
        h.bus().clearTraffic();
        h.clickDevice(1, 1);
        tick(h, window);
        QCOMPARE(column(window, BusLogModel::BytesColumn, QStringLiteral(">")),
                 wireHostPackets(h, [](const SimTraffic&) { return true; }));
    }

    void saveTextAndCsv() {
        GuiHarness h(smallBus());
        h.startSearched();
        BusLogWindow* window = openWindow(h);
        control<QSpinBox>(window, "idFilter")->setValue(3);
        control<QComboBox>(window, "instructionFilter")->setCurrentText(QStringLiteral("PING"));
        const int rows = window->model().rowCount();
        QVERIFY(rows >= 2);  // the search's pings and their answers
        // The line of row 0 as the table shows it.
        QStringList cells;
        for (int col = 0; col < BusLogModel::kColumns; ++col) {
            cells << cell(window, 0, col);
        }

        QTemporaryDir dir;
        const QString text = dir.filePath(QStringLiteral("log.txt"));
        const QString csv = dir.filePath(QStringLiteral("log.csv"));
        h.ops().saveAnswers = {text, csv, dir.path()};
        auto* save = control<QPushButton>(window, "saveButton");
        QTest::mouseClick(save, Qt::LeftButton);
        QTest::mouseClick(save, Qt::LeftButton);
        QFile textFile(text);
        QVERIFY(textFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = textFile.readAll().split('\n');
        QCOMPARE(lines.size(), rows + 1);
        QCOMPARE(QString::fromLatin1(lines[0]),
                 QStringLiteral("%1 %2 code=%3 %4 | %5")
                     .arg(cells[0], cells[1], cells[2], cells[3], cells[4]));
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QByteArray& line) {
            return line.endsWith(" > code=1 FF FF 03 02 01 F9 | ID 3 PING");
        }));
        QFile csvFile(csv);
        QVERIFY(csvFile.open(QIODevice::ReadOnly));
        const QList<QByteArray> csvLines = csvFile.readAll().split('\n');
        QCOMPARE(csvLines.size(), rows + 2);
        QCOMPARE(QString::fromLatin1(csvLines[0]),
                 QStringLiteral("time_us,direction,code,bytes,decoding"));
        QCOMPARE(QString::fromLatin1(csvLines[1]),
                 QStringLiteral("%1,%2,%3,%4,\"%5\"")
                     .arg(cells[0], cells[1], cells[2], cells[3], cells[4]));
        QVERIFY(h.ops().messages.isEmpty());

        // A folder is no file: the message says why, and the rows stay.
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(h.ops().messages.size(), 1);
        QVERIFY(h.ops().messages[0].startsWith(QStringLiteral("Can not write the file!\n\n")));
        QCOMPARE(window->model().rowCount(), rows);
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::BusLogWindowTest)
#include "BusLogWindowTest.moc"
