#include "gui/app/GuiOperations.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
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
