#include "gui/robot/RobotSetupWindow.h"

#include <QCloseEvent>
#include <QFile>
#include <QPointer>

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/robot/RobotSurvey.h"
#include "protocol/ResultCode.h"
#include "robot/AssignFlow.h"
#include "robot/IdList.h"
#include "ui_RobotSetupWindow.h"

namespace mvx::gui {

namespace {

const QString kNoAdapter = QStringLiteral("No adapter is open: open one first.");
const QString kBadIds = QStringLiteral("IDs to give: %1");
const QString kPrompt = QStringLiteral("Connect the next actuator (ID %1, %2 of %3)...");
const QString kStopping = QStringLiteral("Stopping after the step in hand...");
const QString kStopped = QStringLiteral("Stopped.");
const QString kDone = QStringLiteral("Done.");
const QString kNotDone = QStringLiteral("not done");

enum SetupColumn { IdColumn, StateColumn, SetupDetailsColumn };

// Hands the flow's events, copied, to the window on the GUI thread; called on the executor.
class EventRelay final : public AssignObserver {
public:
    EventRelay(BusJobs& jobs, QPointer<QObject> guard,
               std::function<void(const AssignEvent&)> deliver)
        : jobs_(jobs), guard_(std::move(guard)), deliver_(std::move(deliver)) {}

    void onAssignEvent(const AssignEvent& event) override {
        jobs_.post(guard_, [deliver = deliver_, event] { deliver(event); });
    }

private:
    BusJobs& jobs_;
    QPointer<QObject> guard_;
    std::function<void(const AssignEvent&)> deliver_;
};

// The row's line without its "ID n: ", which the table shows in a column of its own.
QString details(const AssignRow& row) {
    if (row.state == AssignState::Waiting && !row.foundAt.valid()) {
        return {};
    }
    const std::string line = assignLine(row);
    const std::size_t colon = line.find(": ");
    return QString::fromStdString(colon == std::string::npos ? line : line.substr(colon + 2));
}

QColor stateColour(AssignState state) {
    switch (state) {
        case AssignState::Checked:
            return QColor(0x1b, 0x7f, 0x2a);
        case AssignState::Skipped:
            return QColor(0xa0, 0x60, 0x00);
        case AssignState::Failed:
            return QColor(0xb0, 0x1c, 0x1c);
        default:
            return {};
    }
}

}  // namespace

RobotSetupWindow::RobotSetupWindow(ManagerApp& app, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app), ui_(std::make_unique<Ui::RobotSetupWindow>()) {
    ui_->setupUi(this);
    ui_->networkCheck->setEnabled(false);
    ui_->rowsTable->horizontalHeader()->setSectionResizeMode(IdColumn,
                                                             QHeaderView::ResizeToContents);
    ui_->rowsTable->horizontalHeader()->setSectionResizeMode(StateColumn,
                                                             QHeaderView::ResizeToContents);
    ui_->noticeList->hide();
    connect(ui_->startButton, &QPushButton::clicked, this, &RobotSetupWindow::onStart);
    connect(ui_->idsEdit, &QLineEdit::returnPressed, this, &RobotSetupWindow::onStart);
    connect(ui_->stopButton, &QPushButton::clicked, this, &RobotSetupWindow::stopRun);
    connect(ui_->closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(ui_->browseButton, &QPushButton::clicked, this, &RobotSetupWindow::onBrowse);
    connect(ui_->clearButton, &QPushButton::clicked, this, [this] {
        settings_.reset();
        ui_->settingsEdit->clear();
        ui_->networkCheck->setChecked(false);
        ui_->networkCheck->setEnabled(false);
    });
    connect(ui_->returnDelayCheck, &QCheckBox::toggled, ui_->returnDelaySpin, &QWidget::setEnabled);
}

RobotSetupWindow::~RobotSetupWindow() {
    // Gone before its result (the program ends): the run ends after its step in hand, and its
    // result is dropped.
    stopRun();
}

void RobotSetupWindow::onBrowse() {
    GuiOperations& ops = app_.operations();
    const QString path = ops.openFileName(this, texts::kSettingsFilter, texts::kJsonSuffix);
    if (path.isEmpty()) {
        return;
    }
    DeviceSettings settings;
    std::string error;
    if (!readSettingsFile(QFile::encodeName(path).toStdString(), settings, error)) {
        ops.message(this, texts::kSettingsLoadRefused.arg(QString::fromStdString(error)));
        return;
    }
    settings_ = std::move(settings);
    ui_->settingsEdit->setText(path);
    ui_->networkCheck->setEnabled(true);
}

void RobotSetupWindow::setIdleControls(bool idle) {
    ui_->planGroup->setEnabled(idle);
    ui_->startButton->setEnabled(idle);
    ui_->stopButton->setEnabled(!idle);
}

void RobotSetupWindow::notice(const QString& text) {
    ui_->noticeList->show();
    ui_->noticeList->addItem(text);
    ui_->noticeList->scrollToBottom();
}

void RobotSetupWindow::onStart() {
    if (running_) {
        return;
    }
    GuiOperations& ops = app_.operations();
    if (!app_.adapterOpen()) {
        ops.message(this, kNoAdapter);
        return;
    }
    AssignPlan plan;
    std::string error;
    if (!parseNumberList(ui_->idsEdit->text().trimmed().toStdString(), 0, 253, "ID", plan.ids,
                         error)) {
        ops.message(this, kBadIds.arg(QString::fromStdString(error)));
        return;
    }
    plan.targetCode = ui_->baudSpin->value();
    if (ui_->fullOption->isChecked()) {
        for (int code = 1; code <= 255; ++code) {
            plan.codes.push_back(code);
        }
    } else {
        plan.codes = quickCodes();
    }
    plan.settings = settings_;
    plan.network = settings_.has_value() && ui_->networkCheck->isChecked();
    plan.returnDelay = ui_->returnDelayCheck->isChecked() ? ui_->returnDelaySpin->value() : -1;

    total_ = static_cast<int>(plan.ids.size());
    ui_->rowsTable->setRowCount(total_);
    for (int k = 0; k < total_; ++k) {
        AssignRow row;
        row.id = plan.ids[static_cast<std::size_t>(k)];
        row.code = plan.targetCode;
        showRow(k, row);
    }
    ui_->noticeList->clear();
    ui_->noticeList->hide();
    ui_->summaryLabel->clear();
    stop_ = std::make_shared<std::atomic<bool>>(false);
    running_ = true;
    closeWhenEnded_ = false;
    setIdleControls(false);
    emit runStarted();

    DeviceRegistry& registry = app_.registry();
    BusJobs& jobs = app_.jobs();
    const QPointer<QObject> guard(this);
    auto deliver = [this](const AssignEvent& event) { onEvent(event); };
    app_.jobs().command(
        this,
        [&registry, &jobs, guard, deliver, plan, stop = stop_] {
            EventRelay relay(jobs, guard, deliver);
            AssignFlow flow(registry, relay);
            return flow.run(plan, *stop);
        },
        [this](const AssignReport& report) { onEnded(report); }, BusJobs::RaiseBusy);
}

void RobotSetupWindow::stopRun() {
    if (!running_ || !stop_) {
        return;
    }
    *stop_ = true;
    ui_->stopButton->setEnabled(false);
    ui_->promptLabel->setText(kStopping);
}

void RobotSetupWindow::showRow(int index, const AssignRow& row, bool ended) {
    if (index < 0 || index >= ui_->rowsTable->rowCount()) {
        return;
    }
    // Once the run is over nothing waits any more: a row it did not come to is not done.
    const bool open = ended && row.state != AssignState::Checked &&
                      row.state != AssignState::Skipped && row.state != AssignState::Failed;
    const QString texts[] = {QString::number(row.id),
                             open ? kNotDone : QString::fromLatin1(assignStateWord(row.state)),
                             details(row)};
    for (int column = IdColumn; column <= SetupDetailsColumn; ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        item->setToolTip(texts[column]);
        if (column == StateColumn && stateColour(row.state).isValid()) {
            item->setForeground(stateColour(row.state));
        }
        ui_->rowsTable->setItem(index, column, item);
    }
}

void RobotSetupWindow::onEvent(const AssignEvent& event) {
    const QString text = QString::fromStdString(event.text);
    switch (event.kind) {
        case AssignEventKind::Searching:
            if (!stop_ || !*stop_) {
                ui_->promptLabel->setText(text + QStringLiteral("..."));
            }
            break;
        case AssignEventKind::Waiting:
            ui_->summaryLabel->clear();
            showRow(event.index, event.row);
            if (!stop_ || !*stop_) {
                ui_->promptLabel->setText(
                    kPrompt.arg(event.row.id).arg(event.index + 1).arg(total_));
            }
            break;
        case AssignEventKind::StillLooking:
            // Below the table until the run's summary takes its place; the prompt stays.
            if (!stop_ || !*stop_) {
                ui_->summaryLabel->setText(text);
            }
            break;
        case AssignEventKind::Present:
            if (!text.isEmpty()) {
                notice(text);
            }
            break;
        case AssignEventKind::Refused:
        case AssignEventKind::Trouble:
        case AssignEventKind::Ignored:
            notice(text);
            break;
        case AssignEventKind::Row:
            showRow(event.index, event.row);
            break;
        case AssignEventKind::Finished:
            ui_->summaryLabel->setText(text);
            break;
    }
}

void RobotSetupWindow::onEnded(const AssignReport& report) {
    running_ = false;
    for (std::size_t k = 0; k < report.rows.size(); ++k) {
        showRow(static_cast<int>(k), report.rows[k], true);
    }
    ui_->summaryLabel->setText(QString::fromStdString(report.summary()));
    ui_->promptLabel->setText(report.stopped ? kStopped : kDone);
    setIdleControls(true);
    emit runEnded(report.adapterLost);
    if (report.adapterLost) {
        // Where the actuator in hand may be now stays in the window's notices.
        if (!report.failure.empty()) {
            notice(QString::fromStdString(report.failure));
        }
        app_.shell().reportBusFailure(AdapterFailure);
    }
    if (closeWhenEnded_) {
        close();
    }
}

void RobotSetupWindow::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The run ends after its step in hand; the window goes when its result is in.
        stopRun();
        closeWhenEnded_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace mvx::gui
