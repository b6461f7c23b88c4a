// The Bus Log window's rows at their bound: the oldest entries pushed out first whatever the
// batches the window copies, the filter's rows going with them, and a reply shown by the
// instruction it answers even when that instruction was pushed out in the same batch.
#include <QTest>

#include <vector>

#include "gui/buslog/BusLogModel.h"
#include "protocol/Packet.h"

namespace mvx::gui::test {

namespace {

// A PING or READ to `id`, or the status that answers it, with running sequence numbers.
class Entries {
public:
    BusLogEntry host(int id, int instruction) {
        BusLogEntry e = next(LogKind::HostPacket);
        e.bytes = {
            0xFF, 0xFF, static_cast<std::uint8_t>(id), 2, static_cast<std::uint8_t>(instruction),
            0};
        e.bytes.back() = packetChecksum(e.bytes.data() + 2, e.bytes.size() - 3);
        return e;
    }
    BusLogEntry status(int id) {
        BusLogEntry e = next(LogKind::DevicePacket);
        e.bytes = {0xFF, 0xFF, static_cast<std::uint8_t>(id), 2, 0, 0};
        e.bytes.back() = packetChecksum(e.bytes.data() + 2, e.bytes.size() - 3);
        return e;
    }
    // `pairs` exchanges with IDs 1, 2, 1, 2...: a PING and its status each.
    std::vector<BusLogEntry> pings(int pairs) {
        std::vector<BusLogEntry> out;
        for (int i = 0; i < pairs; ++i) {
            out.push_back(host(1 + i % 2, Ping));
            out.push_back(status(1 + i % 2));
        }
        return out;
    }

private:
    BusLogEntry next(LogKind kind) {
        BusLogEntry e;
        e.sequence = sequence_++;
        e.timeUs = static_cast<std::int64_t>(e.sequence) * 100;
        e.kind = kind;
        e.code = 1;
        return e;
    }
    std::uint64_t sequence_ = 0;
};

std::vector<std::uint64_t> shownSequences(const BusLogModel& model) {
    std::vector<std::uint64_t> out;
    for (int row = 0; row < model.rowCount(); ++row) {
        out.push_back(model.entryAt(row).sequence);
    }
    return out;
}

}  // namespace

class BusLogModelTest : public QObject {
    Q_OBJECT

private slots:
    void theOldestGoFirst_data() {
        QTest::addColumn<std::vector<int>>("batches");  // exchanges per append
        QTest::addColumn<int>("id");                    // the ID filter, -1 none
        QTest::addColumn<std::vector<std::uint64_t>>("shown");
        // Capacity 6 entries: three exchanges, entries 0-1 to ID 1, 2-3 to ID 2, ...
        QTest::newRow("under the bound")
            << std::vector<int>{2} << -1 << std::vector<std::uint64_t>{0, 1, 2, 3};
        QTest::newRow("filled to it")
            << std::vector<int>{1, 2} << -1 << std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5};
        QTest::newRow("pushed out by a batch")
            << std::vector<int>{2, 2} << -1 << std::vector<std::uint64_t>{2, 3, 4, 5, 6, 7};
        QTest::newRow("one batch over it")
            << std::vector<int>{5} << -1 << std::vector<std::uint64_t>{4, 5, 6, 7, 8, 9};
        QTest::newRow("a batch larger than all kept")
            << std::vector<int>{2, 5} << -1 << std::vector<std::uint64_t>{8, 9, 10, 11, 12, 13};
        QTest::newRow("filtered rows go with their entries")
            << std::vector<int>{2, 2, 1} << 1 << std::vector<std::uint64_t>{4, 5, 8, 9};
        QTest::newRow("filtered, one batch over it")
            << std::vector<int>{6} << 2 << std::vector<std::uint64_t>{6, 7, 10, 11};
    }
    void theOldestGoFirst() {
        QFETCH(std::vector<int>, batches);
        QFETCH(int, id);
        QFETCH(std::vector<std::uint64_t>, shown);
        BusLogModel model(6);
        BusLogFilter filter;
        filter.id = id;
        model.setFilter(filter);
        Entries entries;
        int total = 0;
        for (int pairs : batches) {
            model.append(entries.pings(pairs));
            total += 2 * pairs;
        }
        QCOMPARE(model.kept(), std::size_t(std::min(total, 6)));
        QCOMPARE(shownSequences(model), shown);
        // A filter chosen afterwards sees only what is kept.
        model.setFilter({});
        QCOMPARE(model.rowCount(), int(model.kept()));
        QCOMPARE(model.entryAt(0).sequence, std::uint64_t(total - model.kept()));
    }

    void aReplyGoesWithItsInstructionAcrossTheBound() {
        // READ filter: the status after a PING is not shown, even when the PING itself was
        // pushed out by the batch that brought its status.
        BusLogModel model(3);
        BusLogFilter filter;
        filter.instruction = Read;
        model.setFilter(filter);
        Entries entries;
        std::vector<BusLogEntry> batch;
        batch.push_back(entries.host(1, Read));  // 0
        batch.push_back(entries.status(1));      // 1
        batch.push_back(entries.host(1, Ping));  // 2: pushed out with 0 and 1
        batch.push_back(entries.status(1));      // 3: answers the PING
        batch.push_back(entries.host(1, Read));  // 4
        batch.push_back(entries.status(1));      // 5
        model.append(std::move(batch));
        QCOMPARE(model.kept(), std::size_t(3));
        QCOMPARE(shownSequences(model), (std::vector<std::uint64_t>{4, 5}));
    }

    void clearEmptiesAndTheNextEntriesComeIn() {
        BusLogModel model(4);
        Entries entries;
        model.append(entries.pings(3));
        model.clear();
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.kept(), std::size_t(0));
        model.append(entries.pings(1));
        QCOMPARE(shownSequences(model), (std::vector<std::uint64_t>{6, 7}));
    }
};

}  // namespace mvx::gui::test

QTEST_MAIN(mvx::gui::test::BusLogModelTest)
#include "BusLogModelTest.moc"
