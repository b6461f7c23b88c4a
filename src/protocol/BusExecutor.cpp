#include "protocol/BusExecutor.h"

#include <algorithm>

namespace mvx {

namespace {

// Runs one piece of work. A job that throws ends there; the executor carries on with the next
// (the core's operations answer with result codes, so this is for what they cannot foresee,
// such as memory running out).
template <typename F>
void guarded(F&& work) {
    try {
        work();
    } catch (...) {
    }
}

}  // namespace

BusExecutor::BusExecutor(Clock& clock, std::function<bool()> busy)
    : clock_(clock), busy_(std::move(busy)) {
    thread_ = std::thread([this] { loop(); });
    threadId_ = thread_.get_id();
}

BusExecutor::~BusExecutor() {
    stop();
}

bool BusExecutor::submit(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (!stopping_) {
            commands_.push_back(std::move(job));
            wake_.notify_all();
            return true;
        }
    }
    return false;  // `job` goes here, outside the lock
}

bool BusExecutor::submitSkippable(std::string key, SkippableJob job) {
    {
        std::lock_guard lock(mutex_);
        const bool waiting =
            std::any_of(skippables_.begin(), skippables_.end(),
                        [&key](const Skippable& queued) { return queued.key == key; });
        if (!stopping_ && !waiting) {
            skippables_.push_back({std::move(key), std::move(job)});
            wake_.notify_all();
            return true;
        }
    }
    return false;
}

void BusExecutor::addPeriodic(std::shared_ptr<PeriodicSource> source) {
    std::lock_guard lock(mutex_);
    if (stopping_ || !source) {
        return;
    }
    sources_.push_back(std::move(source));
    sourcesChanged_ = true;
    wake_.notify_all();
}

void BusExecutor::removePeriodic(const std::shared_ptr<PeriodicSource>& source) {
    std::shared_ptr<PeriodicSource> removed;  // let go of outside the lock
    std::lock_guard lock(mutex_);
    const auto it = std::find(sources_.begin(), sources_.end(), source);
    if (it != sources_.end()) {
        removed = std::move(*it);
        sources_.erase(it);
        sourcesChanged_ = true;
        wake_.notify_all();
    }
}

void BusExecutor::runUntilIdle() {
    std::unique_lock lock(mutex_);
    const std::uint64_t begun = periodicRunsBegun_;
    idle_.wait(lock, [this, begun] {
        return stopped_ || (!workWaiting() && !jobRunning_ && periodicRunsEnded_ >= begun);
    });
}

void BusExecutor::stop(Job last) {
    std::deque<Job> commands;
    std::deque<Skippable> skippables;
    std::vector<std::shared_ptr<PeriodicSource>> sources;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        last_ = std::move(last);
        commands.swap(commands_);
        skippables.swap(skippables_);
        sources.swap(sources_);
        wake_.notify_all();
    }
    // The dropped jobs go here, on the caller's thread and outside the lock.
    commands.clear();
    skippables.clear();
    sources.clear();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::shared_ptr<BusExecutor::PeriodicSource> BusExecutor::dueSource(std::int64_t& nextDueUs) {
    nextDueUs = Clock::kNever;
    std::shared_ptr<PeriodicSource> due;
    std::int64_t dueAtUs = Clock::kNever;
    const std::int64_t nowUs = clock_.nowUs();
    for (const std::shared_ptr<PeriodicSource>& source : sources_) {
        const std::int64_t atUs = source->nextDueUs();
        nextDueUs = std::min(nextDueUs, atUs);
        if (atUs <= nowUs && atUs < dueAtUs) {
            due = source;
            dueAtUs = atUs;
        }
    }
    return due;
}

void BusExecutor::runSource(std::unique_lock<std::mutex>& lock,
                            const std::shared_ptr<PeriodicSource>& due, bool yielded) {
    ++periodicRunsBegun_;
    lock.unlock();
    bool goesOn = true;
    guarded([&] { goesOn = due->runDue(yielded); });
    lock.lock();
    ++periodicRunsEnded_;
    if (!goesOn) {
        sources_.erase(std::remove(sources_.begin(), sources_.end(), due), sources_.end());
    }
    idle_.notify_all();
}

void BusExecutor::loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        std::int64_t nextDueUs = Clock::kNever;
        const std::shared_ptr<PeriodicSource> due = dueSource(nextDueUs);

        // A source due while a command waits or the bus is busy yields: it notes the gap
        // without the bus, and the command goes first.
        if (due && (!commands_.empty() || busy())) {
            runSource(lock, due, true);
            continue;
        }

        if (!commands_.empty() || !skippables_.empty()) {
            Job command;
            Skippable skippable;
            if (!commands_.empty()) {
                command = std::move(commands_.front());
                commands_.pop_front();
            } else {
                skippable = std::move(skippables_.front());
                skippables_.pop_front();
            }
            const bool skipped = !command && busy();
            jobRunning_ = true;
            lock.unlock();
            if (command) {
                guarded(command);
                command = nullptr;  // its captures go before the job counts as ended
            } else {
                guarded([&] { skippable.job(skipped); });
                skippable.job = nullptr;
            }
            lock.lock();
            jobRunning_ = false;
            idle_.notify_all();
            continue;
        }

        if (due) {
            runSource(lock, due, false);
            continue;
        }

        sourcesChanged_ = false;
        clock_.waitUntil(wake_, lock, nextDueUs,
                         [this] { return stopping_ || workWaiting() || sourcesChanged_; });
    }
    Job last = std::move(last_);
    lock.unlock();
    if (last) {
        guarded(last);
    }
    lock.lock();
    stopped_ = true;
    idle_.notify_all();
}

}  // namespace mvx
