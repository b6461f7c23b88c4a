// GUI operations for tests: message boxes and file dialogs are answered from queues and
// recorded, modal dialogs are shown and handed to a handler that drives them, timers tick only
// when the test calls tickTimers().
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "gui/app/GuiOperations.h"

namespace mvx::gui::test {

class ScriptedGuiOperations final : public GuiOperations {
public:
    ScriptedGuiOperations();
    ~ScriptedGuiOperations() override;

    Answer message(QWidget* parent, const QString& text, bool withCancel) override;
    QString openFileName(QWidget* parent, const QString& filter,
                         const QString& defaultSuffix) override;
    QString saveFileName(QWidget* parent, const QString& filter,
                         const QString& defaultSuffix) override;
    int runDialog(QDialog& dialog) override;
    std::unique_ptr<RepeatingTimer> startTimer(QObject* owner, int periodMs,
                                               std::function<void()> tick) override;

    // Ticks every running timer once (in start order); returns how many ticked.
    int tickTimers();
    // The same for the timers of one owner only.
    int tickTimersOf(const QObject* owner);
    int activeTimers() const;
    // Periods of the timers started so far, in start order.
    std::vector<int> timerPeriods() const;

    // Every message shown, in order; answers are taken from the front (Ok when empty).
    QStringList messages;
    // How many, for a driver hook on the bus executor's thread.
    std::atomic<int> messageCount{0};
    std::deque<Answer> answers;
    // Runs while each message is up, after it is recorded: what the real box's modal loop lets
    // happen meanwhile (timers, queued calls). Null: nothing.
    std::function<void()> whileMessageShown;
    // File-open answers (empty string: cancelled), and the filter and suffix last asked with.
    std::deque<QString> fileAnswers;
    QString lastFilter;
    QString lastSuffix;
    // File-save answers (empty string: cancelled); the filter and suffix go to the two above.
    std::deque<QString> saveAnswers;

    // Called with each modal dialog, shown; returns the dialog's result. Without a handler the
    // dialog is rejected. Handlers queued in `dialogHandlers` are used first, one per dialog.
    using DialogHandler = std::function<int(QDialog&)>;
    std::deque<DialogHandler> dialogHandlers;
    DialogHandler defaultDialogHandler;
    // Window titles of the dialogs run, in order.
    QStringList dialogsRun;

    struct Timer;

private:
    std::vector<std::shared_ptr<Timer>> timers_;
};

// Processes events until `done` holds or `timeoutMs` of real time pass; true when it holds.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000);

}  // namespace mvx::gui::test
