#include "gui/wizard/FirmwareWizard.h"

#include <QCloseEvent>
#include <QFile>

#include "firmware/FirmwareDownload.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UpdateResultText.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/ManagerApp.h"
#include "protocol/ResultCode.h"
#include "ui_DownloadStep.h"
#include "ui_FileStep.h"
#include "ui_FirmwareWizard.h"
#include "ui_ResultStep.h"
#include "ui_StartStep.h"
#include "ui_SummaryStep.h"

namespace mvx::gui {

namespace {

const QString kQuitQuestion = QStringLiteral("Are you sure to quit?");
const QString kInvalidFile = QStringLiteral("Invalid Firmware File!");
const QString kNoFile = QStringLiteral("No file");
const QString kFileFilter = QStringLiteral("Movantrix Firmware Files (*.mvx)");
const QString kFileSuffix = QStringLiteral("mvx");

QString percent(int value) {
    return QStringLiteral("%1%").arg(value);
}

// The text boxes break lines at "\n"; the texts end their lines with "\r\n".
QString forTextBox(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

}  // namespace

QString firmwareSummaryText(DeviceRegistry& registry, bool oldOnly) {
    const FirmwareImage& firmware = registry.firmware;
    if (!firmware.valid) {
        return kInvalidFile;
    }
    QString text = QStringLiteral("*** Firmware Information ***\r\n");
    text += QStringLiteral("- Model number: %1\r\n").arg(firmware.modelNumber);
    text += QStringLiteral("- Version: %1\r\n").arg(firmware.version);
    // The size lets a file cut short be noticed before anything is written.
    text += QStringLiteral("- Image size: %1 bytes\r\n\r\n").arg(firmware.imageLength);
    text += QStringLiteral("*** Update List ***\r\n");
    BuildUpdateList(registry, oldOnly ? 1 : 0);
    const UpdateList& updates = registry.updates;
    for (int k = 0; k < updates.count; ++k) {
        const DeviceEntry* entry = registry.find(updates.baudCodes[k], updates.ids[k]);
        text += QStringLiteral("> Baud:%1  ID:%2 [Version: %3]\r\n")
                    .arg(updates.baudCodes[k])
                    .arg(updates.ids[k])
                    .arg(entry ? entry->firmwareVersion() : 0);
    }
    text += QStringLiteral("- Total number: %1\r\n").arg(updates.count);
    if (updates.leftOut > 0) {
        text += QStringLiteral("- Left out: %1 (at most %2 devices per update)\r\n")
                    .arg(updates.leftOut)
                    .arg(kUpdateListCapacity);
    }
    return text;
}

QString firmwareResultText(const UpdateList& updates) {
    QString text = QStringLiteral("*** Update Result ***\r\n");
    for (int k = 0; k < updates.count; ++k) {
        text += QStringLiteral("- Baud:%1 ID:%2 >> %3\r\n")
                    .arg(updates.baudCodes[k])
                    .arg(updates.ids[k])
                    .arg(QString::fromStdString(UpdateOutcomeText(updates, k)));
    }
    return text + QString::fromStdString(UpdateTotalsText(CountUpdateResults(updates))) +
           QStringLiteral("\r\n");
}

FirmwareWizard::FirmwareWizard(ManagerApp& app, QWidget* parent)
    : QDialog(parent),
      app_(app),
      ui_(std::make_unique<Ui::FirmwareWizard>()),
      start_(std::make_unique<Ui::StartStep>()),
      file_(std::make_unique<Ui::FileStep>()),
      summary_(std::make_unique<Ui::SummaryStep>()),
      download_(std::make_unique<Ui::DownloadStep>()),
      result_(std::make_unique<Ui::ResultStep>()),
      firmwarePath_(kNoFile) {
    ui_->setupUi(this);
    // A title bar without a close box (and without the help button).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto addStep = [this](auto& form) {
        auto* page = new QWidget(ui_->steps);
        form->setupUi(page);
        ui_->steps->addWidget(page);
    };
    addStep(start_);
    addStep(file_);
    addStep(summary_);
    addStep(download_);
    addStep(result_);

    connect(ui_->backButton, &QPushButton::clicked, this, [this] { showStep(currentStep() - 1); });
    connect(ui_->nextButton, &QPushButton::clicked, this, [this] { showStep(currentStep() + 1); });
    connect(ui_->finishButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &FirmwareWizard::askQuit);
    connect(file_->searchButton, &QPushButton::clicked, this, &FirmwareWizard::onSearch);
    connect(summary_->oldVersionOnly, &QCheckBox::clicked, this, [this] { showSummary(false); });
    showStep(Start);
}

FirmwareWizard::~FirmwareWizard() = default;

int FirmwareWizard::currentStep() const {
    return ui_->steps->currentIndex();
}

void FirmwareWizard::setButtons(int buttons) {
    ui_->backButton->setEnabled(buttons & Back);
    ui_->nextButton->setEnabled(buttons & Next);
    ui_->finishButton->setEnabled(buttons & Finish);
    ui_->cancelButton->setEnabled(buttons & Cancel);
}

void FirmwareWizard::showStep(int step) {
    ui_->steps->setCurrentIndex(step);
    ui_->stepTitle->setText(ui_->steps->currentWidget()->windowTitle());
    switch (step) {
        case Start:
            setButtons(Next | Cancel);
            break;
        case ChooseFile:
            file_->pathLabel->setText(firmwarePath_);
            setButtons(Back | Cancel | (fileChosen_ ? Next : 0));
            break;
        case Summary:
            // Read anew each time, so coming back with another file replaces the image.
            summary_->oldVersionOnly->setChecked(true);
            showSummary(true);
            break;
        case Download:
            startDownload();
            break;
        case Result:
            showResults();
            break;
        default:
            break;
    }
}

void FirmwareWizard::askQuit() {
    if (currentStep() > Summary) {
        return;
    }
    if (app_.operations().message(this, kQuitQuestion, true) == GuiOperations::Answer::Ok) {
        QDialog::reject();
    }
}

void FirmwareWizard::reject() {
    // Escape: the quit question on the first three steps, nothing later.
    askQuit();
}

void FirmwareWizard::closeEvent(QCloseEvent* event) {
    // The window manager's close request follows Escape; the wizard closes, if at all, by
    // QDialog::reject, so the event itself is always refused.
    event->ignore();
    askQuit();
}

void FirmwareWizard::done(int result) {
    if (downloading_) {
        return;  // the download must finish first
    }
    QDialog::done(result);
}

void FirmwareWizard::onSearch() {
    const QString path = app_.operations().openFileName(this, kFileFilter, kFileSuffix);
    if (path.isEmpty()) {
        return;
    }
    firmwarePath_ = path;
    file_->pathLabel->setText(firmwarePath_);
    setButtons(Back | Next | Cancel);
    fileChosen_ = true;
}

namespace {

// The summary as a job built it.
struct SummaryBuilt {
    QString text;
    bool ready = false;    // a valid file and at least one device to update
    int result = Success;  // AdapterFailure when the job threw
};

// The download's end: its result, the results text and the devices with their new versions.
struct Downloaded {
    int result = 0;
    QString text;
    std::vector<DeviceSummary> devices;
};

}  // namespace

void FirmwareWizard::showSummary(bool load) {
    // The file is opened by its name on the file system (the local 8-bit encoding).
    const std::string path = QFile::encodeName(firmwarePath_).toStdString();
    const bool oldOnly = summary_->oldVersionOnly->isChecked();
    DeviceRegistry& registry = app_.registry();
    setButtons(Cancel);
    summary_->oldVersionOnly->setEnabled(false);
    app_.jobs().command(
        this,
        [&registry, path, load, oldOnly] {
            if (load) {
                LoadFirmware(path, registry.firmware, registry.updates);
            }
            SummaryBuilt built;
            built.text = forTextBox(firmwareSummaryText(registry, oldOnly));
            built.ready = registry.firmware.valid && registry.updates.count > 0;
            return built;
        },
        [this](const SummaryBuilt& built) {
            summary_->oldVersionOnly->setEnabled(true);
            if (built.result != Success) {
                // The common report closes the connection; the wizard can be left.
                app_.shell().reportBusFailure(built.result);
            }
            if (currentStep() != Summary) {
                return;
            }
            summary_->summaryText->setPlainText(built.text);
            setButtons(Back | Cancel | (built.ready ? Next : 0));
        });
}

void FirmwareWizard::startDownload() {
    setButtons(0);
    download_->progressBar->setRange(0, 100);
    download_->progressBar->setValue(0);
    download_->percentLabel->setText(percent(0));
    DeviceRegistry& registry = app_.registry();
    downloading_ = true;
    app_.jobs().command(
        this,
        [&registry] {
            Downloaded downloaded;
            downloaded.result = DownloadAll(registry);
            downloaded.text = forTextBox(firmwareResultText(registry.updates));
            downloaded.devices = registry.snapshot();
            return downloaded;
        },
        [this](const Downloaded& downloaded) {
            resultText_ = downloaded.text;
            // The tree is not rebuilt, but updated devices show their new version.
            app_.setDevices(downloaded.devices);
            onDownloadEnded(downloaded.result);
        });
    timer_ = app_.operations().startTimer(this, kProgressTickMs, [this] { onTick(); });
}

void FirmwareWizard::onTick() {
    // The download's progress, an atomic of the registry's update list.
    const int progress = DownloadProgress(app_.registry());
    download_->percentLabel->setText(percent(progress));
    download_->progressBar->setValue(progress);
}

void FirmwareWizard::onDownloadEnded(int result) {
    downloading_ = false;
    if (timer_) {
        timer_->stop();
    }
    download_->percentLabel->setText(percent(100));
    download_->progressBar->setValue(100);
    if (result == AdapterFailure) {
        // The adapter message, then the connection is closed; the results stay readable.
        app_.shell().reportBusFailure(AdapterFailure);
    }
    setButtons(Next);
}

void FirmwareWizard::showResults() {
    result_->resultText->setPlainText(resultText_);
    setButtons(Finish);
}

}  // namespace mvx::gui
