// The one layer between the program and Qt's modal and timed machinery: message boxes, the
// file-open and file-save dialogs, modal dialogs, repeating timers and worker threads. The program
// uses the Qt implementation; tests put in their own, so nothing modal ever blocks a test and
// timers tick when the test says so.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <thread>

class QDialog;
class QObject;
class QWidget;

namespace mvx::gui {

// A repeating timer started through GuiOperations; it stops when stopped or destroyed.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// A worker thread that runs one function. Its end is reported to the GUI thread by one queued
// call on the receiver given at start. The receiver must join the worker before it is
// destroyed; join() waits for the thread (the queued call may then still be pending, and is
// dropped with its receiver).
class WorkerThread {
public:
    WorkerThread(std::function<void()> body, QObject* receiver, std::function<void()> finished);
    ~WorkerThread();  // joins

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void join();
    bool joinable() const { return thread_.joinable(); }

private:
    std::thread thread_;
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
    // Runs `body` on a new thread; `finished` then runs on the GUI thread as one queued call on
    // `receiver`, unless the receiver is gone by then (it joins the worker before it goes).
    virtual std::unique_ptr<WorkerThread> startWorker(std::function<void()> body, QObject* receiver,
                                                      std::function<void()> finished);
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
