#include "gui/app/GuiOperations.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include "gui/app/Texts.h"

namespace mvx::gui {

namespace {

class QtRepeatingTimer final : public RepeatingTimer {
public:
    QtRepeatingTimer(QObject* owner, int periodMs, std::function<void()> tick)
        : timer_(new QTimer(owner)) {
        QObject::connect(timer_, &QTimer::timeout, timer_, std::move(tick));
        timer_->start(periodMs);
    }
    ~QtRepeatingTimer() override {
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }
    void stop() override {
        if (timer_) {
            timer_->stop();
        }
    }
    bool isActive() const override { return timer_ && timer_->isActive(); }

private:
    QPointer<QTimer> timer_;
};

}  // namespace

namespace {

// Carries a worker's end to the GUI thread: made on the GUI thread as a child of the receiver,
// it runs `finished` there when the worker posts to it, then goes. Going with the receiver, it
// drops a post that arrives too late. The worker posts by slot name, so everything handed
// between the threads is made and read inside Qt's own event queue.
class WorkerEndRelay final : public QObject {
    Q_OBJECT

public:
    WorkerEndRelay(QObject* receiver, std::function<void()> finished)
        : QObject(receiver), finished_(std::move(finished)) {}

public slots:
    void fire() {
        deleteLater();
        if (finished_) {
            finished_();
        }
    }

private:
    std::function<void()> finished_;
};

// Shows a file dialog set up for opening or saving with `filter` and `defaultSuffix`; the
// file chosen, or empty when the user cancelled.
QString chosenFile(QFileDialog& dialog, const QString& filter, const QString& defaultSuffix) {
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

}  // namespace

WorkerThread::WorkerThread(std::function<void()> body, QObject* receiver,
                           std::function<void()> finished) {
    auto* relay = new WorkerEndRelay(receiver, std::move(finished));
    thread_ = std::thread([body = std::move(body), relay] {
        body();
        // The receiver (and with it the relay) joins the worker before it goes away.
        QMetaObject::invokeMethod(relay, "fire", Qt::QueuedConnection);
    });
}

WorkerThread::~WorkerThread() {
    join();
}

void WorkerThread::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::unique_ptr<WorkerThread> GuiOperations::startWorker(std::function<void()> body,
                                                         QObject* receiver,
                                                         std::function<void()> finished) {
    return std::make_unique<WorkerThread>(std::move(body), receiver, std::move(finished));
}

QString GuiOperations::saveFileName(QWidget*, const QString&, const QString&) {
    return {};
}

GuiOperations::Answer QtGuiOperations::message(QWidget* parent, const QString& text,
                                               bool withCancel) {
    QMessageBox box(QMessageBox::Warning, texts::kMessageCaption, text,
                    withCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
    return box.exec() == QMessageBox::Ok ? Answer::Ok : Answer::Cancel;
}

QString QtGuiOperations::openFileName(QWidget* parent, const QString& filter,
                                      const QString& defaultSuffix) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    return chosenFile(dialog, filter, defaultSuffix);
}

QString QtGuiOperations::saveFileName(QWidget* parent, const QString& filter,
                                      const QString& defaultSuffix) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    return chosenFile(dialog, filter, defaultSuffix);
}

int QtGuiOperations::runDialog(QDialog& dialog) {
    return dialog.exec();
}

std::unique_ptr<RepeatingTimer> QtGuiOperations::startTimer(QObject* owner, int periodMs,
                                                            std::function<void()> tick) {
    return std::make_unique<QtRepeatingTimer>(owner, periodMs, std::move(tick));
}

}  // namespace mvx::gui

#include "GuiOperations.moc"
