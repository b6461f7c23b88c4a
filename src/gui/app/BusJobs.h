// How the desktop program hands its bus work to the bus executor and gets the results back on
// the GUI thread. A job's work runs on the executor's thread and returns a plain value (a
// result code with copies of what the GUI shows: a ServoImage, a device list); its completion
// runs on the GUI thread with that value, through a queued call, unless the context object it
// was bound to is gone by then: a destroyed page never gets its completion.
//
//   app.jobs().command(this, [&registry, code, id] { ...core calls...; return result; },
//                      [this](const Result& r) { ...update widgets, report failures... },
//                      BusJobs::RaiseBusy);
//
// The work may touch the registry, its entries and records and the bus connection, and captures
// values (never widgets); the completion may touch widgets and reads the value it is given.
// With RaiseBusy, busBusy counts the job from submission until its completion has run (or was
// dropped), which keeps the Operation page's poll and the telemetry sampling off the bus.
//
// A work that throws delivers a failure value instead (see JobFailure.h): its completion runs as
// for any failure.
//
// Tests settle by running the executor until idle and delivering the queued completions until
// inFlight() is 0 (see tests/gui/support/GuiHarness).
#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "gui/app/JobFailure.h"
#include "protocol/BusExecutor.h"

namespace mvx::gui {

class BusJobs : public QObject {
    Q_OBJECT

public:
    enum Busy { LeaveBusy, RaiseBusy };

    // `busBusy` is the application's count (ManagerApp::busBusy).
    BusJobs(BusExecutor& executor, std::atomic<int>& busBusy);
    ~BusJobs() override;

    // Runs `work` (a callable returning a value R) as a command, then `done(const R&)` on the
    // GUI thread while `context` lives.
    template <typename Work, typename Done>
    void command(QObject* context, Work work, Done done, Busy busy = LeaveBusy);

    // Runs `work` as a skippable job under `key` (see BusExecutor); `done` gets the value, or
    // nothing when the job was skipped. False when a job of that key waits already: then
    // neither runs.
    template <typename Work, typename Done>
    bool skippable(QObject* context, std::string key, Work work, Done done);

    // Runs `completion` on the GUI thread while `context` lives; callable from any thread
    // (a periodic source's end). `context` is a guard made on the GUI thread.
    void post(QPointer<QObject> context, std::function<void()> completion);

    // Jobs submitted whose completion has not run (or been dropped) yet. GUI thread.
    int inFlight() const { return inFlight_.load(); }
    // Of those, the ones whose completion has not started: the jobs in flight less the
    // completions running now (one may run a modal dialog, inside which more jobs come and go).
    int waiting() const { return inFlight_.load() - delivering_; }
    // Runs a local event loop until inFlight() is 0: for the start-up, before the main window
    // is shown, so that its dialogs follow one another as they always have. GUI thread.
    void waitUntilIdle();

    BusExecutor& executor() { return executor_; }

signals:
    // inFlight() has come down to 0.
    void idle();

private:
    // One submitted job: counted in flight (and in busBusy) from its making on the GUI thread
    // until the last copy goes, on whichever thread.
    class Ticket {
    public:
        Ticket(BusJobs& jobs, QObject* context, Busy busy);
        ~Ticket();
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        // GUI thread only.
        bool contextAlive() const { return !context_.isNull(); }

    private:
        BusJobs& jobs_;
        QPointer<QObject> context_;
        bool busy_;
    };

    // A completion on its way to the GUI thread; `counted` when it ends a job in flight.
    struct Delivery {
        std::function<void()> run;
        bool counted = true;
    };

    // Queues `completion` (holding its ticket) for the GUI thread; from the executor thread.
    void deliver(std::function<void()> completion);
    // Hands `delivery` to the GUI thread: into the queue below, and one queued call for it.
    void enqueue(Delivery delivery);
    // The queued call: runs the oldest delivery. GUI thread.
    Q_INVOKABLE void runNextDelivery();

    BusExecutor& executor_;
    std::atomic<int>& busBusy_;
    std::atomic<int> inFlight_{0};
    int delivering_ = 0;  // GUI thread
    // The deliveries pass from the executor's thread to the GUI thread here, under the lock,
    // rather than inside the queued calls: what the executor made is read on the GUI thread only
    // after the lock says it is complete.
    std::mutex deliveriesMutex_;
    std::deque<Delivery> deliveries_;
};

template <typename Work, typename Done>
void BusJobs::command(QObject* context, Work work, Done done, Busy busy) {
    using Result = std::decay_t<std::invoke_result_t<Work&>>;
    auto ticket = std::make_shared<Ticket>(*this, context, busy);
    executor_.submit([this, ticket, work = std::move(work), done = std::move(done)]() mutable {
        std::shared_ptr<Result> result;
        try {
            result = std::make_shared<Result>(work());
        } catch (...) {
            result = std::make_shared<Result>(failedJob<Result>());
        }
        // The ticket travels on with the completion, so it ends on the GUI thread.
        deliver([ticket = std::move(ticket), result, done] {
            if (ticket->contextAlive()) {
                done(*result);
            }
        });
    });
}

template <typename Work, typename Done>
bool BusJobs::skippable(QObject* context, std::string key, Work work, Done done) {
    using Result = std::decay_t<std::invoke_result_t<Work&>>;
    auto ticket = std::make_shared<Ticket>(*this, context, LeaveBusy);
    return executor_.submitSkippable(
        std::move(key),
        [this, ticket, work = std::move(work), done = std::move(done)](bool skipped) mutable {
            auto result = std::make_shared<std::optional<Result>>();
            if (!skipped) {
                try {
                    result->emplace(work());
                } catch (...) {
                    result->emplace(failedJob<Result>());
                }
            }
            deliver([ticket = std::move(ticket), result, done] {
                if (ticket->contextAlive()) {
                    done(*result);
                }
            });
        });
}

}  // namespace mvx::gui
