#include "gui/pages/ControlTablePage.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHeaderView>
#include <QTableWidgetItem>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "device/CsvField.h"
#include "device/ModelCatalogue.h"
#include "device/NamedRegister.h"
#include "drivers/RegularFile.h"
#include "gui/app/Texts.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/Transaction.h"
#include "ui_ControlTablePage.h"

namespace mvx::gui {

namespace {

// A number without locale: "12.1", "150.146", "-300".
std::string plainNumber(double value) {
    return QString::number(value, 'g', 10).toStdString();
}

// The live refresh's choices after Off; 0: as fast as the bus allows.
constexpr double kRefreshHz[] = {1, 2, 5, 10, 0};
constexpr int kHighlightMs = 700;
const QColor kChanged(255, 236, 140);

// Inside a job: every block of the model's items, in as few reads as readBlocks allows.
ControlTableRead readTable(DeviceRegistry& registry, int code, int id) {
    ControlTableRead read;
    DeviceEntry* entry = registry.find(code, id);
    if (entry == nullptr) {
        return read;
    }
    read.registered = true;
    read.modelNumber = entry->modelNumber();
    std::shared_ptr<AdapterLink> link;
    read.result = entry->tuneLink(link);
    for (const auto& [first, length] : readBlocks(registerItems(read.modelNumber))) {
        if (read.result != Success) {
            break;
        }
        read.result = readBlock(*link, static_cast<std::uint8_t>(id), first, length,
                                read.table.data() + first);
    }
    return read;
}

// The raw value of an edit: "N raw" is the register's raw number, "D°" a position in degrees,
// anything else the value as `set` takes it (volts, on/off, flag names, numbers). False with
// `error` set when it is not one or out of the register's range.
bool parseEdit(const NamedRegister& reg, const RegisterItem& item, int modelNumber,
               const QString& entered, int& value, std::string& error) {
    QString text = entered.trimmed();
    const QString raw = QStringLiteral("raw");
    const QString degreesSign = QStringLiteral("\u00B0");
    if (text.endsWith(raw, Qt::CaseInsensitive)) {
        text.chop(raw.size());
        bool ok = false;
        value = text.trimmed().toInt(&ok);
        if (!ok) {
            error = std::string(reg.name) + ": \"" + entered.trimmed().toStdString() +
                    "\" is not a whole number";
            return false;
        }
        if (value < reg.min || value > reg.max) {
            error = std::string(reg.name) + ": " + std::to_string(value) + " is out of range (" +
                    std::to_string(reg.min) + "-" + std::to_string(reg.max) + ")";
            return false;
        }
        return true;
    }
    if (item.unit == RegisterUnit::Flags) {
        text.remove(QLatin1Char(' '));  // "overload, overheating" as the table shows it
    }
    if (item.unit == RegisterUnit::Position && text.endsWith(degreesSign)) {
        text.chop(degreesSign.size());
        bool ok = false;
        const double degrees = text.trimmed().toDouble(&ok);
        if (!ok) {
            error = std::string(reg.name) + ": \"" + entered.trimmed().toStdString() +
                    "\" is not a number of degrees";
            return false;
        }
        const long steps = std::lround(degrees * (maxPositionOf(modelNumber) + 1) / 300.0);
        return parseRegisterValue(reg, std::to_string(steps), value, error);
    }
    return parseRegisterValue(reg, text.toStdString(), value, error);
}

// A write of the table's editor and the table read back at the device's address after it.
struct TableWrite {
    int result = 0;  // the write's; 0 with `refusal` set when it was refused
    std::string refusal;
    int code = -1;  // where the device is after the write
    int id = -1;
    ControlTableRead read;

    static TableWrite jobFailed() {
        TableWrite failed;
        failed.result = AdapterFailure;
        failed.read = ControlTableRead::jobFailed();
        return failed;
    }
};

}  // namespace

ControlTablePage::ControlTablePage(DeviceSheet& sheet)
    : DevicePage(sheet, QStringLiteral("Control Table")),
      ui_(std::make_unique<Ui::ControlTablePage>()) {
    ui_->setupUi(this);
    QTableWidget* table = ui_->table;
    table->setColumnCount(ValueColumn + 1);
    table->setHorizontalHeaderLabels(
        {tr("Addr"), tr("Name"), tr("Size"), tr("Access"), tr("Raw"), tr("Value")});
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // A value wider than its column (several flags, at a large font a rate) goes on to a
    // second line of its row rather than being cut: the rows are fitted once the table is
    // filled (fitting them on every change would measure the whole table for each cell).
    table->setWordWrap(true);
    table->horizontalHeader()->setStretchLastSection(true);
    ui_->noteLabel->hide();
    table->setEditTriggers(QAbstractItemView::DoubleClicked);
    connect(table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!filling_ && item->column() == ValueColumn) {
            edited(item->row(), item->text());
        }
    });
    ui_->refreshCombo->setEnabled(false);  // until the table is read
    connect(ui_->refreshCombo, &QComboBox::currentIndexChanged, this,
            &ControlTablePage::refreshChosen);
    connect(ui_->readAllButton, &QPushButton::clicked, this, [this] { readAll({}); });
    connect(ui_->copyButton, &QPushButton::clicked, this, &ControlTablePage::copy);
    connect(ui_->saveButton, &QPushButton::clicked, this, &ControlTablePage::save);
}

ControlTablePage::~ControlTablePage() = default;

void ControlTablePage::activate(Activated activated) {
    if (sheet().rebuilding() != 0) {
        activated(true);
        return;
    }
    const DeviceSummary* device = app().findDevice(code(), id());
    if (device == nullptr) {
        activated(false);
        return;
    }
    // Nothing to list: the page says why and reads nothing.
    QString why;
    if (device->returnLevel == 0) {
        why = texts::controlTableNoReads(device->id);
    } else if (device->modelClass == UnknownModel) {
        why = texts::controlTableUnknownModel(device->modelNumber);
    }
    if (!why.isEmpty()) {
        ui_->noteLabel->setText(why);
        ui_->noteLabel->show();
        ui_->table->hide();
        ui_->readAllButton->setEnabled(false);
        ui_->copyButton->setEnabled(false);
        ui_->saveButton->setEnabled(false);
        activated(true);
        return;
    }
    readAll(std::move(activated));
}

void ControlTablePage::edited(int row, const QString& text) {
    const RegisterRow shown = rows_[static_cast<std::size_t>(row)];
    const NamedRegister* reg = findNamedRegister(shown.item.name);
    auto restore = [this, row] {
        filling_ = true;
        ui_->table->item(row, ValueColumn)
            ->setText(shownValue(rows_[static_cast<std::size_t>(row)]));
        filling_ = false;
    };
    if (reg == nullptr) {
        restore();
        return;
    }
    int value = 0;
    std::string error;
    if (!parseEdit(*reg, shown.item, modelNumber_, text, value, error)) {
        restore();
        app().operations().message(this, texts::controlTableRefused(QString::fromStdString(error)));
        return;
    }
    restore();  // until the device's value is read back
    ui_->table->setEnabled(false);
    ui_->readAllButton->setEnabled(false);
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    runWrite(
        [&registry, reg, value, code, id] {
            TableWrite write;
            DeviceEntry* entry = registry.find(code, id);
            if (entry == nullptr) {
                return write;  // read.registered false
            }
            write.result = applyNamedRegister(*reg, value, registry, *entry, write.refusal);
            write.code = entry->baudCode();
            write.id = entry->id();
            write.read = readTable(registry, write.code, write.id);
            return write;
        },
        [](const WriteTarget& target, const TableWrite& write) {
            if (ControlTablePage* page = target.page<ControlTablePage>()) {
                page->ui_->table->setEnabled(true);
                page->ui_->readAllButton->setEnabled(true);
            }
            if (!write.read.registered) {
                target.fallBack(false);
                return;
            }
            if (!write.refusal.empty()) {
                target.app().operations().message(
                    target.parentWidget(),
                    texts::controlTableRefused(QString::fromStdString(write.refusal)));
            } else if (target.report(write.result)) {
                return;
            }
            if (write.code != target.code() || write.id != target.id()) {
                target.refreshList(write.code, write.id);
                return;
            }
            if (target.report(write.read.result)) {
                return;
            }
            if (ControlTablePage* page = target.page<ControlTablePage>()) {
                page->show(write.read);
            }
        });
}

void ControlTablePage::deactivate() {
    stopRefresh();
    DevicePage::deactivate();
}

void ControlTablePage::stopRefresh() {
    if (refresh_ != nullptr) {
        refresh_->stop();
    }
    const QSignalBlocker blocker(ui_->refreshCombo);
    ui_->refreshCombo->setCurrentIndex(0);
}

void ControlTablePage::refreshChosen(int index) {
    if (refresh_ == nullptr || retired()) {
        return;
    }
    if (index <= 0) {
        refresh_->stop();
        return;
    }
    refresh_->start(kRefreshHz[index - 1], this,
                    [this](const RefreshRead& read) { refreshed(read); });
}

void ControlTablePage::refreshed(const RefreshRead& read) {
    if (retired()) {
        return;
    }
    if (!read.registered) {
        stopRefresh();
        app().forgetDevice(code(), id());
        showFallback(false);
        return;
    }
    if (read.result != Success) {
        stopRefresh();
        report(read.result);
        return;
    }
    QTableWidget* table = ui_->table;
    const QSignalBlocker blocker(table);
    std::vector<int> changed;
    const std::uint64_t refresh = ++refreshes_;
    changedIn_.resize(rows_.size());
    for (const RegisterItem& item : volatileItems(modelNumber_)) {
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            if (rows_[r].item.address != item.address) {
                continue;
            }
            const int raw = rawValue(item, read.table.data());
            if (raw != rows_[r].raw) {
                rows_[r] = registerRow(item, raw, modelNumber_);
                const int row = static_cast<int>(r);
                table->item(row, RawColumn)->setText(QString::number(raw));
                table->item(row, ValueColumn)->setText(shownValue(rows_[r]));
                for (int c : {RawColumn, ValueColumn}) {
                    table->item(row, c)->setBackground(kChanged);
                }
                changed.push_back(row);
                changedIn_[r] = refresh;
            }
        }
    }
    if (!changed.empty()) {
        // A value that changed again meanwhile stays highlighted until its own moment ends.
        QTimer::singleShot(kHighlightMs, this, [this, changed, refresh] {
            for (int row : changed) {
                const auto r = static_cast<std::size_t>(row);
                if (r < changedIn_.size() && changedIn_[r] == refresh) {
                    for (int c : {RawColumn, ValueColumn}) {
                        ui_->table->item(row, c)->setBackground(QBrush());
                    }
                }
            }
        });
    }
}

void ControlTablePage::readAll(Activated activated) {
    if (reading_) {
        return;
    }
    reading_ = true;
    ui_->readAllButton->setEnabled(false);
    DeviceRegistry& registry = app().registry();
    const int code = this->code();
    const int id = this->id();
    auto done = [this, activated](const ControlTableRead& read) {
        reading_ = false;
        ui_->readAllButton->setEnabled(true);
        if (!read.registered) {
            app().forgetDevice(this->code(), this->id());
            if (activated) {
                activated(false);
            } else {
                showFallback(false);
            }
            return;
        }
        if (report(read.result)) {
            if (activated) {
                activated(false);
            }
            return;
        }
        show(read);
        if (activated) {
            activated(true);
        }
    };
    auto work = [&registry, code, id] { return readTable(registry, code, id); };
    if (activated) {
        runActivationJob(std::move(work), std::move(done));
    } else {
        runJob(std::move(work), std::move(done));
    }
}

void ControlTablePage::show(const ControlTableRead& read) {
    if (read.modelNumber != modelNumber_) {
        stopRefresh();
        refresh_ = std::make_unique<ControlTableRefresh>(app(), code(), id(), read.modelNumber);
        modelNumber_ = read.modelNumber;
    }
    ui_->refreshCombo->setEnabled(!volatileItems(read.modelNumber).empty());
    rows_.clear();
    changedIn_.clear();  // a highlight still on its way clears nothing
    for (const RegisterItem& item : registerItems(read.modelNumber)) {
        rows_.push_back(registerRow(item, rawValue(item, read.table.data()), read.modelNumber));
    }
    QTableWidget* table = ui_->table;
    const bool wasFilling = filling_;
    filling_ = true;
    table->setRowCount(static_cast<int>(rows_.size()));
    for (int r = 0; r < table->rowCount(); ++r) {
        const RegisterRow& row = rows_[static_cast<std::size_t>(r)];
        const QString cells[] = {
            QString::number(row.item.address),
            QString::fromLatin1(row.item.name),
            QString::fromLatin1(sizeText(row.item)),
            QString::fromLatin1(accessText(row.item.access)),
            QString::number(row.raw),
            shownValue(row),
        };
        for (int c = AddressColumn; c <= ValueColumn; ++c) {
            QTableWidgetItem* item = table->item(r, c);
            if (item == nullptr) {
                item = new QTableWidgetItem;
                table->setItem(r, c, item);
            }
            item->setText(cells[c]);
            item->setBackground(QBrush());
            item->setToolTip(QString::fromUtf8(row.item.description));
            if (c == AddressColumn || c == RawColumn) {
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            const bool editable = c == ValueColumn && row.item.access != RegisterAccess::ReadOnly &&
                                  findNamedRegister(row.item.name) != nullptr;
            item->setFlags(editable ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable
                                    : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
    }
    filling_ = wasFilling;
    fitColumns();
    table->resizeRowsToContents();
}

void ControlTablePage::fitColumns() {
    // Every column but the value's as wide as its widest text (the raw number's as wide as the
    // largest its size holds, so that the refresh never needs more); the value takes the rest.
    QTableWidget* table = ui_->table;
    for (int c = AddressColumn; c < RawColumn; ++c) {
        table->resizeColumnToContents(c);
    }
    const QFontMetrics metrics(table->font());
    bool words = false;
    int widestName = 0;
    for (const RegisterRow& row : rows_) {
        words = words || row.item.size == 2;
        widestName = std::max(widestName, metrics.horizontalAdvance(QLatin1String(row.item.name)));
    }
    const int padding = std::max(0, table->columnWidth(NameColumn) - widestName);
    table->setColumnWidth(RawColumn,
                          std::max(table->horizontalHeader()->sectionSizeHint(RawColumn),
                                   metrics.horizontalAdvance(words ? QStringLiteral("65535")
                                                                   : QStringLiteral("255")) +
                                       padding));
}

QString ControlTablePage::shownValue(const RegisterRow& row) {
    return QString::fromStdString(valueInUnit(row));
}

std::string ControlTablePage::text() const {
    std::string out = "ADDR\tNAME\tSIZE\tACCESS\tRAW\tVALUE\n";
    for (const RegisterRow& row : rows_) {
        out += std::to_string(row.item.address) + '\t' + row.item.name + '\t' + sizeText(row.item) +
               '\t' + accessText(row.item.access) + '\t' + std::to_string(row.raw) + '\t' +
               row.text + '\n';
    }
    return out;
}

std::string ControlTablePage::csv() const {
    std::string out = "address,name,size,access,raw,value,unit,text\n";
    for (const RegisterRow& row : rows_) {
        out += std::to_string(row.item.address) + ',' + row.item.name + ',' + sizeText(row.item) +
               ',' + accessText(row.item.access) + ',' + std::to_string(row.raw) + ',' +
               plainNumber(row.value) + ',' + csvField(row.unit) + ',' + csvField(row.text) + '\n';
    }
    return out;
}

void ControlTablePage::copy() {
    QApplication::clipboard()->setText(QString::fromStdString(text()));
}

void ControlTablePage::save() {
    const QString path =
        app().operations().saveFileName(this, tr("CSV files (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty()) {
        return;
    }
    std::string error;
    if (!writeFileAtomically(QFile::encodeName(path).toStdString(), csv(), error)) {
        app().operations().message(this, texts::busLogSaveFailed(QString::fromStdString(error)));
    }
}

}  // namespace mvx::gui
