#include "support/ScriptedGuiOperations.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace mvx::gui::test {

struct ScriptedGuiOperations::Timer {
    QPointer<QObject> owner;
    int periodMs = 0;
    std::function<void()> tick;
    bool active = true;
};

namespace {

class ScriptedTimer final : public RepeatingTimer {
public:
    explicit ScriptedTimer(std::shared_ptr<ScriptedGuiOperations::Timer> timer)
        : timer_(std::move(timer)) {}
    ~ScriptedTimer() override { timer_->active = false; }
    void stop() override { timer_->active = false; }
    bool isActive() const override { return timer_->active; }

private:
    std::shared_ptr<ScriptedGuiOperations::Timer> timer_;
};

}  // namespace

ScriptedGuiOperations::ScriptedGuiOperations() = default;
ScriptedGuiOperations::~ScriptedGuiOperations() = default;

GuiOperations::Answer ScriptedGuiOperations::message(QWidget*, const QString& text, bool) {
    messages.push_back(text);
    ++messageCount;
    if (whileMessageShown) {
        whileMessageShown();
    }
    if (answers.empty()) {
        return Answer::Ok;
    }
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

QString ScriptedGuiOperations::openFileName(QWidget*, const QString& filter,
                                            const QString& defaultSuffix) {
    lastFilter = filter;
    lastSuffix = defaultSuffix;
    if (fileAnswers.empty()) {
        return {};
    }
    QString answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

QString ScriptedGuiOperations::saveFileName(QWidget*, const QString& filter,
                                            const QString& defaultSuffix) {
    lastFilter = filter;
    lastSuffix = defaultSuffix;
    if (saveAnswers.empty()) {
        return {};
    }
    QString answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

int ScriptedGuiOperations::runDialog(QDialog& dialog) {
    dialogsRun.push_back(dialog.windowTitle());
    DialogHandler handler = defaultDialogHandler;
    if (!dialogHandlers.empty()) {
        handler = std::move(dialogHandlers.front());
        dialogHandlers.pop_front();
    }
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    QCoreApplication::processEvents();
    const int result = handler ? handler(dialog) : QDialog::Rejected;
    if (dialog.isVisible()) {
        dialog.done(result);
    }
    return dialog.result();
}

std::unique_ptr<RepeatingTimer> ScriptedGuiOperations::startTimer(QObject* owner, int periodMs,
                                                                  std::function<void()> tick) {
    auto timer = std::make_shared<Timer>();
    timer->owner = owner;
    timer->periodMs = periodMs;
    timer->tick = std::move(tick);
    timers_.push_back(timer);
    return std::make_unique<ScriptedTimer>(timer);
}

int ScriptedGuiOperations::tickTimers() {
    int ticked = 0;
    const auto running = timers_;  // a tick may start or stop timers
    for (const auto& timer : running) {
        if (timer->active && timer->owner) {
            timer->tick();
            ++ticked;
        }
    }
    return ticked;
}

int ScriptedGuiOperations::tickTimersOf(const QObject* owner) {
    int ticked = 0;
    const auto running = timers_;
    for (const auto& timer : running) {
        if (timer->active && timer->owner && timer->owner == owner) {
            timer->tick();
            ++ticked;
        }
    }
    return ticked;
}

int ScriptedGuiOperations::activeTimers() const {
    int count = 0;
    for (const auto& timer : timers_) {
        count += timer->active && timer->owner ? 1 : 0;
    }
    return count;
}

std::vector<int> ScriptedGuiOperations::timerPeriods() const {
    std::vector<int> periods;
    for (const auto& timer : timers_) {
        periods.push_back(timer->periodMs);
    }
    return periods;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace mvx::gui::test
