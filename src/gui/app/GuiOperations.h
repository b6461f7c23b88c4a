// The one layer between the program and Qt's modal and timed machinery: message boxes, the
// file-open and file-save dialogs, modal dialogs and repeating timers. The program uses the Qt
// implementation; tests put in their own, so nothing modal ever blocks a test and timers tick
// when the test says so. (Work on the bus goes to the bus executor: see BusJobs.)
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QDialog;
class QObject;
class QWidget;

namespace mvx::gui {

// How often a dialog shows the progress of the bus job it waits for.
inline constexpr int kProgressTickMs = 300;

// A repeating timer started through GuiOperations; it stops when stopped or destroyed.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class GuiOperations {
public:
    enum class Answer { Ok, Cancel };

    virtual ~GuiOperations() = default;

    // A message box captioned "Movantrix Manager" with a warning icon and an "OK" button (and
    // "Cancel" when asked for); returns the button pressed.
    virtual Answer message(QWidget* parent, const QString& text, bool withCancel = false) = 0;
    // The file-open dialog: the file must exist, no read-only option. Empty when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    // The file-save dialog: asks before replacing a file; `defaultSuffix` is added to a name
    // without one. Empty when cancelled, which is all that operations without one answer.
    virtual QString saveFileName(QWidget* parent, const QString& filter,
                                 const QString& defaultSuffix);
    // Shows `dialog` modally; returns its result (QDialog::Accepted or Rejected).
    virtual int runDialog(QDialog& dialog) = 0;
    // Calls `tick` every `periodMs` on the GUI thread until the timer is stopped or destroyed.
    virtual std::unique_ptr<RepeatingTimer> startTimer(QObject* owner, int periodMs,
                                                       std::function<void()> tick) = 0;
};

// The real thing: QMessageBox, QFileDialog, QDialog::exec, QTimer.
class QtGuiOperations final : public GuiOperations {
public:
    Answer message(QWidget* parent, const QString& text, bool withCancel) override;
    QString openFileName(QWidget* parent, const QString& filter,
                         const QString& defaultSuffix) override;
    QString saveFileName(QWidget* parent, const QString& filter,
                         const QString& defaultSuffix) override;
    int runDialog(QDialog& dialog) override;
    std::unique_ptr<RepeatingTimer> startTimer(QObject* owner, int periodMs,
                                               std::function<void()> tick) override;
};

}  // namespace mvx::gui
