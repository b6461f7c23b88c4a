// The rows of the Bus Log window: the entries the window copied out of the bus log's store
// (at most `capacity`, the oldest pushed out first, as in the store), and of those the ones
// the filter shows. Columns: time (µs), direction, code, bytes, decoding.
#pragma once

#include <QAbstractTableModel>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "buslog/BusLogEntry.h"
#include "buslog/PackedLogEntries.h"
#include "gui/buslog/BusLogFilter.h"

namespace mvx::gui {

class BusLogModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { TimeColumn, DirectionColumn, CodeColumn, BytesColumn, DecodingColumn, kColumns };

    explicit BusLogModel(std::size_t capacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes new entries (in log order), pushing out the oldest beyond the capacity.
    void append(std::vector<BusLogEntry> entries);
    // Drops every entry.
    void clear();
    void setFilter(const BusLogFilter& filter);
    const BusLogFilter& filter() const { return filter_; }

    // The entry shown in `row`, unpacked; the reference holds until the next call. The view
    // asks for every role of every cell of a row in turn, so the last row's entry is kept.
    const BusLogEntry& entryAt(int row) const;
    // Entries kept (shown or not).
    std::size_t kept() const { return entries_.size(); }

    // The rows shown, as the log's text lines, or as CSV with a header line (numbers without
    // locale, text fields quoted).
    std::string text() const;
    std::string csv() const;

private:
    void rebuildShown();

    const std::size_t capacity_;
    PackedLogEntries entries_;
    std::uint64_t base_ = 0;  // running index of entries_.front()
    // The last entry unpacked, by running index (never reused, so never stale).
    mutable std::uint64_t unpackedIndex_ = UINT64_MAX;
    mutable BusLogEntry unpacked_;
    // Running indexes of the entries shown, ascending.
    std::deque<std::uint64_t> shown_;
    BusLogFilter filter_;
    BusLogFollow follow_;  // after the last entry taken
};

}  // namespace mvx::gui
