#include "gui/telemetry/TelemetryWindow.h"

#include <QCloseEvent>
#include <QFile>

#include <array>

#include "drivers/RegularFile.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/telemetry/TelemetryPlots.h"
#include "protocol/ResultCode.h"
#include "ui_TelemetryWindow.h"

namespace mvx::gui {

namespace {

// The entries of the span and rate choices, in the forms' order.
constexpr std::array<double, 4> kSpansS = {10.0, 30.0, 120.0, 600.0};
constexpr std::array<double, 5> kRatesHz = {4.0, 10.0, 25.0, 50.0, 100.0};
// Fast buses get 25 Hz at first, the slow ones 10 Hz.
constexpr int kFastCodes = 16;
constexpr int kFastRateIndex = 2;
constexpr int kSlowRateIndex = 1;

}  // namespace

TelemetryWindow::TelemetryWindow(ManagerApp& app, int code, int id, int maxPosition)
    : QWidget(nullptr, Qt::Window),
      app_(app),
      code_(code),
      id_(id),
      ui_(std::make_unique<Ui::TelemetryWindow>()),
      worker_(app, code, id) {
    ui_->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(texts::telemetryTitle(id, code));
    plots_ = new TelemetryPlots(maxPosition, ui_->plotsFrame);
    ui_->plotsFrame->layout()->addWidget(plots_);
    ui_->rateCombo->setCurrentIndex(code < kFastCodes ? kFastRateIndex : kSlowRateIndex);

    connect(ui_->spanCombo, &QComboBox::currentIndexChanged, this, [this] { replot(true); });
    connect(ui_->rateCombo, &QComboBox::currentIndexChanged, this,
            [this] { worker_.setRate(rateHz()); });
    connect(ui_->pauseButton, &QAbstractButton::clicked, this, &TelemetryWindow::pauseOrResume);
    connect(ui_->clearButton, &QAbstractButton::clicked, this, &TelemetryWindow::clear);
    connect(ui_->saveButton, &QAbstractButton::clicked, this, &TelemetryWindow::saveCsv);
    startSampling();
}

TelemetryWindow::~TelemetryWindow() {
    worker_.stop();
}

double TelemetryWindow::spanS() const {
    return kSpansS[static_cast<std::size_t>(std::max(ui_->spanCombo->currentIndex(), 0))];
}

double TelemetryWindow::rateHz() const {
    return kRatesHz[static_cast<std::size_t>(std::max(ui_->rateCombo->currentIndex(), 0))];
}

bool TelemetryWindow::deviceAvailable(QString& why) {
    if (!app_.adapterOpen()) {
        why = texts::kTelemetryConnectionClosed;
        return false;
    }
    const DeviceSummary* device = app_.findDevice(code_, id_);
    if (device == nullptr || !device->hasRecord) {
        why = texts::telemetryDeviceGone(id_);
        return false;
    }
    return true;
}

void TelemetryWindow::startSampling() {
    QString why;
    if (!deviceAvailable(why)) {
        ui_->messageLabel->setText(why);
        ui_->pauseButton->setText(texts::kTelemetryResume);
        return;
    }
    ui_->messageLabel->clear();
    trace_.beginRun();
    runStartS_ = static_cast<double>(app_.clock().nowUs()) / 1e6;
    worker_.start(rateHz(), this, [this](TelemetrySampler::End end) { runEnded(end); });
    if (timer_ == nullptr) {
        timer_ = app_.operations().startTimer(this, kTickMs, [this] { tick(); });
    }
    ui_->pauseButton->setText(texts::kTelemetryPause);
}

void TelemetryWindow::stopSampling() {
    worker_.stop();
    // The samples the run took before it stopped still belong to it.
    drain();
    timer_.reset();
    adapterFailurePending_ = false;
    showStatus();
    replot(true);
    ui_->pauseButton->setText(texts::kTelemetryResume);
}

void TelemetryWindow::suspendSampling() {
    resumeAfterRefresh_ = resumeAfterRefresh_ || worker_.running();
    if (worker_.running()) {
        stopSampling();
    }
}

void TelemetryWindow::resumeSampling() {
    if (resumeAfterRefresh_) {
        resumeAfterRefresh_ = false;
        startSampling();
    }
}

void TelemetryWindow::endSampling(const QString& line) {
    resumeAfterRefresh_ = false;
    stopSampling();
    ui_->messageLabel->setText(line);
}

void TelemetryWindow::drain() {
    drained_.clear();
    worker_.takeSamples(drained_);
    for (const StatusSample& sample : drained_) {
        trace_.add(sample, runStartS_);
    }
}

void TelemetryWindow::tick() {
    drain();
    if (adapterFailurePending_ && app_.busBusy.load() == 0) {
        reportAdapterFailure();
        return;
    }
    if (!drained_.empty()) {
        showStatus();
        replot(false);
    }
}

void TelemetryWindow::runEnded(TelemetrySampler::End end) {
    // The worker has been joined; what it took last is still to be shown.
    drain();
    showStatus();
    replot(true);
    ui_->pauseButton->setText(texts::kTelemetryResume);
    switch (end) {
        case TelemetrySampler::End::NoAnswer:
            timer_.reset();
            ui_->messageLabel->setText(texts::telemetryNoAnswer(id_));
            break;
        case TelemetrySampler::End::AdapterLost:
            // Reported once no command or dialog holds the bus, so that closing the
            // connection does not pull it from under them; the timer waits for that.
            adapterFailurePending_ = true;
            if (app_.busBusy.load() == 0) {
                reportAdapterFailure();
            }
            break;
        case TelemetrySampler::End::Stopped:
            timer_.reset();
            break;
    }
}

void TelemetryWindow::reportAdapterFailure() {
    adapterFailurePending_ = false;
    timer_.reset();
    // Someone else may have met the failure first and closed the connection already.
    if (app_.adapterOpen()) {
        app_.shell().reportBusFailure(AdapterFailure);
    }
    if (ui_->messageLabel->text().isEmpty()) {
        ui_->messageLabel->setText(texts::kTelemetryConnectionClosed);
    }
}

void TelemetryWindow::pauseOrResume() {
    if (worker_.running()) {
        stopSampling();
    } else {
        startSampling();
    }
}

void TelemetryWindow::clear() {
    drain();
    trace_.clear();
    showStatus();
    replot(true);
}

void TelemetryWindow::saveCsv() {
    const QString path = app_.operations().saveFileName(this, QStringLiteral("CSV files (*.csv)"),
                                                        QStringLiteral("csv"));
    if (path.isEmpty()) {
        return;
    }
    drain();
    // Written whole or not at all, and only as a regular file; the samples stay either way.
    const QByteArray text = trace_.csv();
    std::string error;
    if (!writeFileAtomically(QFile::encodeName(path).toStdString(), text.toStdString(), error)) {
        app_.operations().message(this, texts::telemetrySaveFailed(QString::fromStdString(error)));
    }
}

void TelemetryWindow::showStatus() {
    const double rate = worker_.running() ? trace_.recentRate(kRateWindowS) : 0.0;
    ui_->statusLabel->setText(texts::telemetryStatus(rate, trace_.readCount(), trace_.gapCount()));
}

void TelemetryWindow::replot(bool force) {
    const double newestS = trace_.lastTimeS();
    if (!force && newestS - plottedS_ < spanS() / plots_->plotWidth()) {
        return;
    }
    plots_->showTrace(trace_, spanS());
    plottedS_ = newestS;
}

void TelemetryWindow::closeEvent(QCloseEvent* event) {
    worker_.stop();
    timer_.reset();
    QWidget::closeEvent(event);
}

}  // namespace mvx::gui
