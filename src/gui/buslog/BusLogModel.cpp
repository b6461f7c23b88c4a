#include "gui/buslog/BusLogModel.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

#include "buslog/BusLogText.h"
#include "device/CsvField.h"

namespace mvx::gui {

namespace {

const char* direction(LogKind kind) {
    switch (kind) {
        case LogKind::HostPacket:
            return ">";
        case LogKind::DevicePacket:
            return "<";
        case LogKind::Event:
            break;
    }
    return "#";
}

}  // namespace

BusLogModel::BusLogModel(std::size_t capacity, QObject* parent)
    : QAbstractTableModel(parent), capacity_(capacity) {}

int BusLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int BusLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

const BusLogEntry& BusLogModel::entryAt(int row) const {
    const std::uint64_t index = shown_[static_cast<std::size_t>(row)];
    if (index != unpackedIndex_) {
        entries_.read(static_cast<std::size_t>(index - base_), unpacked_);
        unpackedIndex_ = index;
    }
    return unpacked_;
}

QVariant BusLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const BusLogEntry& entry = entryAt(index.row());
    if (role == Qt::ForegroundRole) {
        return isError(entry) ? QVariant(QBrush(QColor(0xb0, 0x00, 0x20))) : QVariant();
    }
    if (role == Qt::TextAlignmentRole && index.column() != DecodingColumn &&
        index.column() != BytesColumn) {
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    switch (index.column()) {
        case TimeColumn:
            return QString::number(entry.timeUs);
        case DirectionColumn:
            return QString::fromLatin1(direction(entry.kind));
        case CodeColumn:
            return entry.kind == LogKind::Event || entry.code < 0 ? QString()
                                                                  : QString::number(entry.code);
        case BytesColumn:
            return QString::fromStdString(hexBytes(entry.bytes));
        case DecodingColumn:
            return QString::fromStdString(describeEntry(entry));
        default:
            return {};
    }
}

QVariant BusLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case TimeColumn:
            return tr("Time (µs)");
        case DirectionColumn:
            return tr("Dir");
        case CodeColumn:
            return tr("Code");
        case BytesColumn:
            return tr("Bytes");
        case DecodingColumn:
            return tr("Decoding");
        default:
            return {};
    }
}

void BusLogModel::append(std::vector<BusLogEntry> entries) {
    if (entries.empty()) {
        return;
    }
    // Pushed out first, so that the rows below never point at an entry that goes.
    std::size_t drop = entries_.size() + entries.size() > capacity_
                           ? entries_.size() + entries.size() - capacity_
                           : 0;
    const std::size_t dropKept = std::min(drop, entries_.size());
    if (dropKept > 0) {
        const std::uint64_t end = base_ + dropKept;
        std::size_t rows = 0;
        while (rows < shown_.size() && shown_[rows] < end) {
            ++rows;
        }
        if (rows > 0) {
            beginRemoveRows({}, 0, static_cast<int>(rows) - 1);
            shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(rows));
            entries_.pop_front(dropKept);
            base_ = end;
            endRemoveRows();
        } else {
            entries_.pop_front(dropKept);
            base_ = end;
        }
    }
    // More new entries than the capacity: only their last ones are kept.
    std::size_t first = drop - dropKept;
    base_ += first;
    for (std::size_t i = 0; i < first; ++i) {
        // Not kept, but a reply after them goes with the instruction among them.
        filter_.accepts(entries[i], follow_);
    }
    std::vector<std::uint64_t> added;
    for (std::size_t i = first; i < entries.size(); ++i) {
        const std::uint64_t index = base_ + entries_.size();
        if (filter_.accepts(entries[i], follow_)) {
            added.push_back(index);
        }
        entries_.push_back(entries[i]);
    }
    if (!added.empty()) {
        const int row = rowCount();
        beginInsertRows({}, row, row + static_cast<int>(added.size()) - 1);
        shown_.insert(shown_.end(), added.begin(), added.end());
        endInsertRows();
    }
}

void BusLogModel::clear() {
    beginResetModel();
    base_ += entries_.size();
    entries_.clear();
    shown_.clear();
    follow_ = {};
    endResetModel();
}

void BusLogModel::setFilter(const BusLogFilter& filter) {
    beginResetModel();
    filter_ = filter;
    rebuildShown();
    endResetModel();
}

void BusLogModel::rebuildShown() {
    shown_.clear();
    follow_ = {};
    BusLogEntry entry;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        entries_.read(i, entry);
        if (filter_.accepts(entry, follow_)) {
            shown_.push_back(base_ + i);
        }
    }
}

std::string BusLogModel::text() const {
    std::string out;
    for (int row = 0; row < rowCount(); ++row) {
        out += formatEntry(entryAt(row));
        out += '\n';
    }
    return out;
}

std::string BusLogModel::csv() const {
    std::string out = "time_us,direction,code,bytes,decoding\n";
    for (int row = 0; row < rowCount(); ++row) {
        const BusLogEntry& entry = entryAt(row);
        out += std::to_string(entry.timeUs) + ',' + direction(entry.kind) + ',';
        if (entry.kind != LogKind::Event && entry.code >= 0) {
            out += std::to_string(entry.code);
        }
        out += ',' + hexBytes(entry.bytes) + ',' + csvField(describeEntry(entry)) + '\n';
    }
    return out;
}

}  // namespace mvx::gui
