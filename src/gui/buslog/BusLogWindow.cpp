#include "gui/buslog/BusLogWindow.h"

#include <QFile>
#include <QHeaderView>
#include <QScrollBar>

#include "drivers/RegularFile.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/buslog/BusLogDelegate.h"
#include "protocol/Packet.h"
#include "ui_BusLogWindow.h"

namespace mvx::gui {

BusLogWindow::BusLogWindow(ManagerApp& app, QWidget* parent)
    : QWidget(parent, Qt::Window),
      app_(app),
      ui_(std::make_unique<Ui::BusLogWindow>()),
      model_(new BusLogModel(app.busLog().store().capacity(), this)) {
    ui_->setupUi(this);
    ui_->table->setModel(model_);
    ui_->table->setItemDelegate(new BusLogDelegate(ui_->table));
    // Every row as high as the next: the header never measures one.
    QHeaderView* rows = ui_->table->verticalHeader();
    rows->setVisible(false);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView* header = ui_->table->horizontalHeader();
    header->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    header->resizeSection(BusLogModel::TimeColumn, digit * 12);
    header->resizeSection(BusLogModel::DirectionColumn, digit * 4);
    header->resizeSection(BusLogModel::CodeColumn, digit * 6);
    header->resizeSection(BusLogModel::BytesColumn, digit * 36);

    QComboBox* instruction = ui_->instructionFilter;
    instruction->addItem(tr("Any"), -1);
    instruction->addItem(QStringLiteral("PING"), int{Ping});
    instruction->addItem(QStringLiteral("READ"), int{Read});
    instruction->addItem(QStringLiteral("WRITE"), int{Write});
    instruction->addItem(QStringLiteral("KEYED-WRITE"), int{KeyedWrite});
    instruction->addItem(QStringLiteral("INSTRUCTION-7"), int{Instruction7});

    connect(ui_->idFilter, &QSpinBox::valueChanged, this, &BusLogWindow::filterChanged);
    connect(ui_->codeFilter, &QSpinBox::valueChanged, this, &BusLogWindow::filterChanged);
    connect(instruction, &QComboBox::currentIndexChanged, this, &BusLogWindow::filterChanged);
    connect(ui_->errorsOnly, &QCheckBox::toggled, this, &BusLogWindow::filterChanged);
    connect(ui_->pauseButton, &QPushButton::toggled, this, &BusLogWindow::paused);
    connect(ui_->clearButton, &QPushButton::clicked, this, &BusLogWindow::clear);
    connect(ui_->saveButton, &QPushButton::clicked, this, &BusLogWindow::save);

    refresh();
    timer_ = app_.operations().startTimer(this, kPeriodMs, [this] { refresh(); });
}

BusLogWindow::~BusLogWindow() = default;

void BusLogWindow::refresh() {
    if (ui_->pauseButton->isChecked()) {
        paceDrawing(false);
        return;
    }
    std::vector<BusLogEntry> entries = app_.busLog().store().since(next_, kEntriesPerStep);
    if (entries.empty()) {
        paceDrawing(false);
        return;
    }
    next_ = entries.back().sequence + 1;
    const bool more = entries.size() == kEntriesPerStep;
    if (more && !stepQueued_) {
        stepQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                stepQueued_ = false;
                refresh();
            },
            Qt::QueuedConnection);
    }
    // Follows the tail only while the user has not scrolled up.
    QScrollBar* bar = ui_->table->verticalScrollBar();
    const bool atTail = bar->value() >= bar->maximum();
    model_->append(std::move(entries));
    if (atTail) {
        ui_->table->scrollToBottom();
    }
    showCount();
    paceDrawing(more);
}

void BusLogWindow::paceDrawing(bool more) {
    QTableView* table = ui_->table;
    if (!more) {
        drawn_.invalidate();
        table->setUpdatesEnabled(true);
        return;
    }
    if (!drawn_.isValid()) {
        drawn_.start();
    } else if (drawn_.elapsed() >= kPeriodMs) {
        // What came so far, now, before the next step holds the drawing again.
        table->setUpdatesEnabled(true);
        table->repaint();
        drawn_.start();
    }
    table->setUpdatesEnabled(false);
}

bool BusLogWindow::behind() const {
    return !ui_->pauseButton->isChecked() && app_.busLog().store().nextSequence() > next_;
}

void BusLogWindow::filterChanged() {
    BusLogFilter filter;
    filter.id = ui_->idFilter->value();
    filter.code = ui_->codeFilter->value();
    filter.instruction = ui_->instructionFilter->currentData().toInt();
    filter.errorsOnly = ui_->errorsOnly->isChecked();
    model_->setFilter(filter);
    ui_->table->scrollToBottom();
    showCount();
}

void BusLogWindow::paused(bool on) {
    if (on) {
        paceDrawing(false);  // the table stands still as it is now
    } else {
        refresh();
    }
}

void BusLogWindow::clear() {
    // Whatever the log holds now is gone from the table, including what a pause held back.
    next_ = app_.busLog().store().nextSequence();
    model_->clear();
    showCount();
}

void BusLogWindow::save() {
    const QString path = app_.operations().saveFileName(
        this, tr("Text files (*.txt);;CSV files (*.csv)"), QStringLiteral("txt"));
    if (path.isEmpty()) {
        return;
    }
    const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    std::string error;
    if (!writeFileAtomically(QFile::encodeName(path).toStdString(),
                             csv ? model_->csv() : model_->text(), error)) {
        app_.operations().message(this, texts::busLogSaveFailed(QString::fromStdString(error)));
    }
}

void BusLogWindow::showCount() {
    ui_->countLabel->setText(texts::busLogCount(model_->rowCount(), model_->kept()));
}

}  // namespace mvx::gui
