#include "gui/robot/RobotCheckDialog.h"

#include <QFileInfo>
#include <QStringList>

#include "device/ModelCatalogue.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "protocol/ResultCode.h"
#include "robot/IdList.h"
#include "ui_RobotCheckDialog.h"

namespace mvx::gui {

namespace {

const QString kFileLine = QStringLiteral("Profile %1, taken %2; codes %3.");
const QString kChecking = QStringLiteral("Searching the profile's codes...");
const QString kAllOk = QStringLiteral("Every device is as in the profile.");
const QString kSomeDiffer = QStringLiteral("%1 of %2 rows differ from the profile.");
const QString kAdoptQuestion = QStringLiteral("Move the %1 at %2 to %3%4?");
const QString kAdoptSettings = QStringLiteral(" and give it the settings of the missing joint");
const QString kAdoptRefused = QStringLiteral("Can not adopt!\n\n%1");
const QString kAdoptFailed = QStringLiteral("Adopting failed: %1 -> %2: %3");
const QString kAdopted =
    QStringLiteral("%1 -> %2: %3 takes the place of the missing one, %4 restored, checked: %5");
const QString kNotApplied = QStringLiteral("Some settings were not written:\n\n%1");
const QString kApplied = QStringLiteral("Settings written to %1 of %2 devices.");

enum CheckColumn { KindColumn, ExpectedColumn, FoundColumn, DetailsColumn };

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

QString words(const DeviceAddress& at) {
    return text(addressWords(at));
}

QString deviceText(const DeviceAddress& at, int model, int version) {
    if (!at.valid()) {
        return QStringLiteral("-");
    }
    return QStringLiteral("%1: %2 v%3")
        .arg(words(at), QString::fromLatin1(displayName(model)))
        .arg(version);
}

}  // namespace

// What a job did: its action's result and the check after it.
struct RobotCheckDialog::Outcome {
    Action action = Action::Check;
    int applyResult = Success;
    std::vector<ApplyRow> applied;
    AdoptResult adopted;
    bool checked = false;  // the check after the action ran
    Surveyed surveyed;

    // A job that threw: taken as the adapter lost, which ends the dialog with the common report.
    static Outcome jobFailed() {
        Outcome failed;
        failed.surveyed.result = AdapterFailure;
        return failed;
    }
};

RobotCheckDialog::RobotCheckDialog(ManagerApp& app, RobotProfile profile, const QString& fileName,
                                   QWidget* parent)
    : QDialog(parent),
      app_(app),
      ui_(std::make_unique<Ui::RobotCheckDialog>()),
      profile_(std::move(profile)) {
    ui_->setupUi(this);
    ui_->fileLabel->setText(kFileLine.arg(QFileInfo(fileName).fileName(), text(profile_.takenAt),
                                          text(numberListText(profile_.codes))));
    QHeaderView* header = ui_->checkTable->horizontalHeader();
    for (int column : {KindColumn, ExpectedColumn, FoundColumn}) {
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    connect(ui_->applyButton, &QPushButton::clicked, this, [this] { start(Action::Apply); });
    connect(ui_->adoptButton, &QPushButton::clicked, this, &RobotCheckDialog::onAdopt);
    connect(ui_->checkAgainButton, &QPushButton::clicked, this, [this] { start(Action::Check); });
    connect(ui_->closeButton, &QPushButton::clicked, this, &RobotCheckDialog::reject);
    start(Action::Check);
}

RobotCheckDialog::~RobotCheckDialog() {
    if (progress_) {
        // Gone before its result: the search ends at its next step, its result is dropped.
        progress_->stop = true;
    }
}

QIcon RobotCheckDialog::kindIcon(CheckKind kind) {
    switch (kind) {
        case CheckKind::Ok:
            return QIcon(QStringLiteral(":/icons/check-ok.svg"));
        case CheckKind::Missing:
            return QIcon(QStringLiteral(":/icons/check-missing.svg"));
        case CheckKind::Moved:
            return QIcon(QStringLiteral(":/icons/check-moved.svg"));
        case CheckKind::OtherModel:
            return QIcon(QStringLiteral(":/icons/check-other-model.svg"));
        case CheckKind::FirmwareDiffers:
            return QIcon(QStringLiteral(":/icons/check-firmware.svg"));
        case CheckKind::SettingsDiffer:
            return QIcon(QStringLiteral(":/icons/check-settings.svg"));
        case CheckKind::Unexpected:
            return QIcon(QStringLiteral(":/icons/check-unexpected.svg"));
    }
    return {};
}

QColor RobotCheckDialog::kindColour(CheckKind kind) {
    switch (kind) {
        case CheckKind::Ok:
            return QColor(0xe6, 0xf4, 0xe7);
        case CheckKind::Missing:
            return QColor(0xfb, 0xe3, 0xe3);
        case CheckKind::Moved:
            return QColor(0xe3, 0xee, 0xfa);
        case CheckKind::OtherModel:
            return QColor(0xfd, 0xeb, 0xd9);
        case CheckKind::FirmwareDiffers:
            return QColor(0xf0, 0xe5, 0xf5);
        case CheckKind::SettingsDiffer:
            return QColor(0xfb, 0xf3, 0xd5);
        case CheckKind::Unexpected:
            return QColor(0xe9, 0xed, 0xef);
    }
    return {};
}

void RobotCheckDialog::setWorking(bool working) {
    working_ = working;
    const bool differ = std::any_of(rows_.begin(), rows_.end(), [](const CheckRow& row) {
        return row.kind == CheckKind::SettingsDiffer;
    });
    ui_->applyButton->setEnabled(!working && checked_ && differ);
    ui_->networkCheck->setEnabled(!working);
    ui_->adoptButton->setEnabled(!working && checked_ && !adopt_.refused);
    ui_->adoptButton->setToolTip(
        checked_ && adopt_.refused
            ? text(adopt_.reason)
            : QStringLiteral("Give the one newcomer the missing device's address and settings"));
    ui_->checkAgainButton->setEnabled(!working);
    ui_->progressBar->setVisible(working);
}

void RobotCheckDialog::start(Action action) {
    if (working_) {
        return;
    }
    progress_ = std::make_shared<SurveyProgress>();
    ui_->progressBar->setValue(0);
    ui_->statusLabel->setText(kChecking);
    setWorking(true);
    DeviceRegistry& registry = app_.registry();
    const bool network = ui_->networkCheck->isChecked();
    app_.jobs().command(
        this,
        [&registry, action, network, profile = profile_, found = found_, progress = progress_] {
            Outcome o;
            o.action = action;
            int result = Success;
            if (action == Action::Apply) {
                o.applyResult = applyProfile(registry, profile, found, network, false,
                                             &progress->stop, o.applied);
                result = o.applyResult;
            } else if (action == Action::Adopt) {
                o.adopted = adoptJoint(registry, profile, found);
                result = o.adopted.result;
            }
            if (result != AdapterFailure) {
                o.checked = true;
                o.surveyed = surveyOnBus(registry, profile.codes, profile.addresses(), progress);
            }
            return o;
        },
        [this](const Outcome& outcome) { onDone(outcome); });
    timer_ = app_.operations().startTimer(this, kProgressTickMs, [this] {
        if (progress_) {
            ui_->progressBar->setValue(progress_->percent);
        }
    });
}

void RobotCheckDialog::onAdopt() {
    if (working_ || adopt_.refused) {
        return;
    }
    int model = 0;
    for (const FoundDevice& f : found_) {
        if (f.at == adopt_.from) {
            model = f.modelNumber;
        }
    }
    const ProfileDevice* joint = profile_.find(adopt_.to);
    const bool settings = joint != nullptr && joint->settings.has_value();
    const QString question =
        kAdoptQuestion.arg(QString::fromLatin1(displayName(model)), words(adopt_.from),
                           words(adopt_.to), settings ? kAdoptSettings : QString());
    if (app_.operations().message(this, question, true) != GuiOperations::Answer::Ok) {
        return;
    }
    start(Action::Adopt);
}

void RobotCheckDialog::onDone(const Outcome& outcome) {
    timer_.reset();
    surveyStopped_ = outcome.surveyed.stopped;
    GuiOperations& ops = app_.operations();
    const bool adapterLost = outcome.applyResult == AdapterFailure ||
                             outcome.adopted.result == AdapterFailure ||
                             outcome.surveyed.result == AdapterFailure;
    if (adapterLost) {
        // The dialog ends; the common report closes the connection. A newcomer lost in its
        // move is named first with every place it may answer at.
        if (outcome.action == Action::Adopt && !outcome.adopted.reason.empty()) {
            const AdoptResult& a = outcome.adopted;
            ops.message(this, kAdoptFailed.arg(words(a.from), words(a.to), text(a.reason)));
        }
        working_ = false;
        QDialog::reject();
        app_.shell().reportBusFailure(AdapterFailure);
        return;
    }
    if (closeWhenEnded_ || outcome.surveyed.stopped) {
        working_ = false;
        QDialog::reject();
        return;
    }
    QString status;
    if (outcome.action == Action::Apply) {
        QStringList problems;
        int written = 0;
        int tried = 0;
        for (const ApplyRow& row : outcome.applied) {
            if (row.changes.empty()) {
                continue;
            }
            ++tried;
            written += row.applied ? 1 : 0;
            if (!row.problem.empty()) {
                problems << words(row.at) + QStringLiteral(": ") + text(row.problem);
            }
        }
        status = kApplied.arg(written).arg(tried);
        if (!problems.isEmpty()) {
            ops.message(this, kNotApplied.arg(problems.join(QLatin1Char('\n'))));
        }
    } else if (outcome.action == Action::Adopt) {
        const AdoptResult& a = outcome.adopted;
        if (a.refused) {
            ops.message(this, kAdoptRefused.arg(text(a.reason)));
        } else if (!a.reason.empty()) {
            ops.message(this, kAdoptFailed.arg(words(a.from), words(a.to), text(a.reason)));
        } else {
            const std::string detail = checkRowDetail(a.after);
            status = kAdopted.arg(words(a.from), words(a.to),
                                  QStringLiteral("%1 v%2")
                                      .arg(QString::fromLatin1(displayName(a.after.foundModel)))
                                      .arg(a.after.foundVersion),
                                  a.written == 1 ? QStringLiteral("1 setting")
                                                 : QStringLiteral("%1 settings").arg(a.written),
                                  QString::fromLatin1(checkKindWord(a.after.kind)) +
                                      (detail.empty() ? QString() : " (" + text(detail) + ")"));
        }
    }
    const Surveyed& surveyed = outcome.surveyed;
    if (surveyed.result != Success) {
        checked_ = false;
        found_.clear();
        rows_.clear();
        if (!app_.shell().reportBusFailure(surveyed.result)) {
            ops.message(this, texts::kRobotSearchFailed.arg(texts::resultWords(surveyed.result)));
        }
    } else {
        checked_ = true;
        found_ = surveyed.found;
        rows_ = compareWithProfile(profile_, found_);
        adopt_ = adoptPlan(profile_, found_);
    }
    ui_->statusLabel->setText(status);
    showRows();
    setWorking(false);
}

void RobotCheckDialog::showRows() {
    QTableWidget* table = ui_->checkTable;
    table->setRowCount(static_cast<int>(rows_.size()));
    int differ = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
        const CheckRow& row = rows_[static_cast<std::size_t>(r)];
        differ += row.kind == CheckKind::Ok ? 0 : 1;
        const QString cells[] = {
            QString::fromLatin1(checkKindWord(row.kind)),
            row.kind == CheckKind::Unexpected
                ? QStringLiteral("-")
                : deviceText(row.expectedAt, row.expectedModel, row.expectedVersion),
            deviceText(row.foundAt, row.foundModel, row.foundVersion),
            text(checkRowDetail(row)),
        };
        for (int column = KindColumn; column <= DetailsColumn; ++column) {
            auto* item = new QTableWidgetItem(cells[column]);
            item->setBackground(kindColour(row.kind));
            item->setForeground(QColor(Qt::black));
            item->setToolTip(cells[column]);
            if (column == KindColumn) {
                item->setIcon(kindIcon(row.kind));
            }
            table->setItem(r, column, item);
        }
    }
    table->resizeRowsToContents();
    if (!checked_) {
        ui_->summaryLabel->clear();
    } else if (differ == 0) {
        ui_->summaryLabel->setText(kAllOk);
    } else {
        ui_->summaryLabel->setText(kSomeDiffer.arg(differ).arg(rows_.size()));
    }
}

void RobotCheckDialog::reject() {
    // Escape, the close box, Close: a job under way is stopped at its next step, and the
    // dialog ends once its result is in.
    if (working_) {
        progress_->stop = true;
        closeWhenEnded_ = true;
        ui_->closeButton->setEnabled(false);
        return;
    }
    QDialog::reject();
}

}  // namespace mvx::gui
