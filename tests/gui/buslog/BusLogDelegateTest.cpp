// The Bus Log table's cells drawn by its own delegate look as the standard delegate draws them:
// the same pixels for short and long packets, elided texts, an error row in red and a selected
// row; and its elision against QFontMetrics::elidedText.
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QTableView>
#include <QTest>

#include <vector>

#include "gui/buslog/BusLogDelegate.h"
#include "gui/buslog/BusLogModel.h"
#include "protocol/Packet.h"

namespace mvx::gui::test {

namespace {

BusLogEntry packet(std::uint64_t sequence, LogKind kind, std::vector<std::uint8_t> bytes) {
    BusLogEntry e;
    e.sequence = sequence;
    e.timeUs = static_cast<std::int64_t>(sequence) * 1234567;
    e.kind = kind;
    e.code = 1;
    e.bytes = std::move(bytes);
    e.bytes.push_back(packetChecksum(e.bytes.data() + 2, e.bytes.size() - 2));
    return e;
}

// A READ of the whole table and its long reply, a WRITE, a timeout and a refused status.
std::vector<BusLogEntry> sampleEntries() {
    std::vector<BusLogEntry> out;
    out.push_back(packet(0, LogKind::HostPacket, {0xFF, 0xFF, 1, 4, Read, 0, 50}));
    std::vector<std::uint8_t> reply = {0xFF, 0xFF, 1, 52, 0};
    for (int i = 0; i < 50; ++i) {
        reply.push_back(static_cast<std::uint8_t>(i * 7));
    }
    out.push_back(packet(1, LogKind::DevicePacket, reply));
    out.push_back(packet(2, LogKind::HostPacket, {0xFF, 0xFF, 1, 5, Write, 30, 0x2C, 0x01}));
    BusLogEntry none;
    none.sequence = 3;
    none.timeUs = 4000;
    none.kind = LogKind::DevicePacket;
    none.code = 1;
    none.state = PacketState::NoReply;
    none.result = 103;
    out.push_back(none);
    out.push_back(packet(4, LogKind::DevicePacket, {0xFF, 0xFF, 1, 2, 0x08}));
    return out;
}

QImage drawn(QAbstractItemDelegate* delegate, const std::vector<int>& widths, int rowHeight,
             int selectedRow) {
    BusLogModel model(100);
    model.append(sampleEntries());
    QTableView view;
    view.setItemDelegate(delegate);
    view.setModel(&model);
    view.setWordWrap(false);
    view.verticalHeader()->setVisible(false);
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    if (rowHeight > 0) {
        view.verticalHeader()->setDefaultSectionSize(rowHeight);
    }
    view.resize(1000, 200);
    for (int column = 0; column < BusLogModel::kColumns; ++column) {
        view.horizontalHeader()->resizeSection(column, widths[static_cast<std::size_t>(column)]);
    }
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    if (selectedRow >= 0) {
        view.selectRow(selectedRow);
    }
    view.show();
    if (!QTest::qWaitForWindowExposed(&view)) {
        qFatal("the table was not shown");
    }
    return view.viewport()->grab().toImage();
}

}  // namespace

class BusLogDelegateTest : public QObject {
    Q_OBJECT

private slots:
    void looksAsTheStandardDelegate_data() {
        QTest::addColumn<std::vector<int>>("widths");
        QTest::addColumn<int>("rowHeight");  // -1: the style's
        QTest::addColumn<int>("selectedRow");
        const std::vector<int> window = {96, 32, 48, 288, 400};
        const int windowRow = QFontMetrics(QFont()).height() + 4;
        QTest::newRow("the window's widths") << window << windowRow << -1;
        QTest::newRow("a row selected") << window << windowRow << 1;
        QTest::newRow("everything elided") << std::vector<int>{30, 6, 12, 70, 60} << windowRow << 3;
        QTest::newRow("all wide, odd rows")
            << std::vector<int>{200, 60, 60, 2000, 600} << windowRow + 1 << -1;
        QTest::newRow("the style's rows") << window << -1 << 0;
    }
    void looksAsTheStandardDelegate() {
        QFETCH(std::vector<int>, widths);
        QFETCH(int, rowHeight);
        QFETCH(int, selectedRow);
        auto* standard = new QStyledItemDelegate(this);
        auto* own = new BusLogDelegate(this);
        const QImage expected = drawn(standard, widths, rowHeight, selectedRow);
        const QImage actual = drawn(own, widths, rowHeight, selectedRow);
        QCOMPARE(actual.size(), expected.size());
        QVERIFY(actual == expected);
    }

    void elidesAsTheFontMetrics() {
        QFont font;
        const QFontMetrics metrics(font);
        const QString texts[] = {
            QStringLiteral("FF FF 01 04 02 00 32 C6"),
            QStringLiteral("ID 1 status no error"),
            QStringLiteral("ID 1 READ torque-enable..present-load [32 bytes] = 1 0 0 300"),
            QString(300, QLatin1Char('W')),
            QStringLiteral("AVAVAV WAVE To Ta LT Yo 7/4 ff fi").repeated(4),  // kerning pairs
            QStringLiteral("tab\there"),
            QStringLiteral("temperature 41 °C, voltage 11.8 V"),
            QString(),
        };
        BusLogDelegate delegate;
        for (const QString& text : texts) {
            for (int width = 0; width <= metrics.horizontalAdvance(text) + 20; width += 3) {
                QCOMPARE(delegate.fitted(text, font, width),
                         metrics.elidedText(text, Qt::ElideRight, width));
            }
        }
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::BusLogDelegateTest)
#include "BusLogDelegateTest.moc"
