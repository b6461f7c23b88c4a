// The one owner of the bus: a thread that alone tunes, writes, reads and waits, running bus
// jobs one at a time, each whole (a rate change, its exchanges and its settling waits, as the
// core's operations do them). Whoever else wants the bus hands it a job and gets on with its
// own work; a job hands its results back itself (the desktop program posts them to its GUI
// thread).
//
// Three kinds of work, in this order of precedence:
//   commands     run in the order given, every one of them; a long job (a search, a firmware
//                download) is a command that runs until it ends or is stopped through the
//                flags its operation watches.
//   skippable    periodic work that a timer elsewhere hands in, one per tick (the Operation
//                page's status poll). It is never queued up: a job whose key is already
//                waiting is dropped. It runs once no command waits, and is skipped (called
//                with `skipped` true, nothing may go on the bus) while the bus is busy.
//   periodic     sources with a schedule of their own (the telemetry windows' sampling), run
//                whenever one is due and nothing else waits. A source due while a command
//                waits or the bus is busy runs yielded instead (no bus traffic), so it can note
//                the gap.
// "Busy" is the predicate given at construction (the desktop program's busBusy count): a
// command, a modal dialog or a page write owns the bus for longer than one job.
//
// The thread waits on the clock for new work or the next due time, so it runs on a virtual
// clock as well (the due times come at once there). Thread-safe; runUntilIdle and stop must
// not be called from the executor's own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "drivers/Clock.h"

namespace mvx {

class BusExecutor {
public:
    using Job = std::function<void()>;
    // Called with true when the job was skipped: nothing may go on the bus then.
    using SkippableJob = std::function<void(bool skipped)>;

    // A source of work on a schedule of its own. Its two functions run on the executor's
    // thread only.
    class PeriodicSource {
    public:
        virtual ~PeriodicSource() = default;
        // When the source is next due, in the executor clock's microseconds.
        virtual std::int64_t nextDueUs() = 0;
        // Does the due work; with `yielded` nothing may go on the bus (a command waits or the
        // bus is busy). False ends the source: it is removed.
        virtual bool runDue(bool yielded) = 0;
    };

    explicit BusExecutor(Clock& clock, std::function<bool()> busy = {});
    ~BusExecutor();  // stop()

    BusExecutor(const BusExecutor&) = delete;
    BusExecutor& operator=(const BusExecutor&) = delete;

    // Queues a command; false (the job dropped unrun) once the executor has stopped.
    bool submit(Job job);
    // Queues a skippable job; false (dropped unrun) when a job with the same key waits already
    // or the executor has stopped.
    bool submitSkippable(std::string key, SkippableJob job);
    // Adds a source; it is asked for its due time from the next round on.
    void addPeriodic(std::shared_ptr<PeriodicSource> source);
    // Removes a source: it is not run again once this returns, though a run under way ends
    // by itself (the source tells its results apart itself when that matters).
    void removePeriodic(const std::shared_ptr<PeriodicSource>& source);

    // Blocks until no command or skippable job waits or runs, and a periodic run under way at
    // the call has ended (later runs do not count: a source due all the time never holds it),
    // or the executor has stopped. For tests and start-up.
    void runUntilIdle();
    // Whether the caller is the executor's thread.
    bool onExecutorThread() const { return std::this_thread::get_id() == threadId_; }

    // Ends the executor: the job under way ends by its own timeouts, what waits is dropped
    // unrun, then `last` (when given) runs on the executor's thread, and the thread is joined.
    // Harmless when stopped already.
    void stop(Job last = {});

private:
    struct Skippable {
        std::string key;
        SkippableJob job;
    };

    void loop();
    // Runs a due source outside the lock, counted for runUntilIdle; removes it when it ends.
    // Lock held on entry and on return.
    void runSource(std::unique_lock<std::mutex>& lock, const std::shared_ptr<PeriodicSource>& due,
                   bool yielded);
    bool busy() const { return busy_ && busy_(); }
    // The due source that is most overdue, or null; `nextDueUs` gets the earliest due time of
    // all sources (Clock::kNever without any). Lock held.
    std::shared_ptr<PeriodicSource> dueSource(std::int64_t& nextDueUs);
    bool workWaiting() const { return !commands_.empty() || !skippables_.empty(); }

    Clock& clock_;
    const std::function<bool()> busy_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // new work, a changed source, a stop
    std::condition_variable idle_;  // a job ended
    std::deque<Job> commands_;
    std::deque<Skippable> skippables_;
    std::vector<std::shared_ptr<PeriodicSource>> sources_;
    bool sourcesChanged_ = false;
    bool jobRunning_ = false;
    std::uint64_t periodicRunsBegun_ = 0;
    std::uint64_t periodicRunsEnded_ = 0;
    bool stopping_ = false;
    bool stopped_ = false;
    Job last_;
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace mvx
