// A long call of the library (a search, a restore, a robot flow): the work runs on a thread of
// its own while the calling thread waits, runs the callbacks the work posts, calls `tick`,
// and asks the caller's Stop about every 20 ms. A stop sets the flag the core looks at between
// its steps. An exception of a callback or of the Stop's predicate stops the work too, and is
// thrown on the calling thread once the work has ended.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

#include "movantrix/types.h"

namespace movantrix::detail {

class LongCall {
public:
    static constexpr std::chrono::milliseconds kPollPeriod{20};

    // `onStop` (may be empty) runs once when the call is stopped, on the thread that stops it
    // (the caller's, or the one that requested the stop of the token).
    explicit LongCall(const Stop& stop, std::function<void()> onStop = {})
        : stop_(stop), onStop_(std::move(onStop)) {}

    // The core's stop flag for this call.
    std::atomic<bool>& flag() { return flag_; }
    bool stopped() const { return flag_.load(); }

    // From the work's thread: `callback` runs on the calling thread, in the order posted.
    void post(std::function<void()> callback);
    // The same, and the work waits until it has run: a stop it asks for is seen by the work's
    // next look at the flag.
    void postAndWait(std::function<void()> callback);

    // Runs `work` to its end; `tick` (may be empty) on the calling thread every poll.
    void run(const std::function<void()>& work, const std::function<void()>& tick = {});

private:
    void callerSide(const std::function<void()>& fn);
    void requestStop();

    const Stop& stop_;
    std::function<void()> onStop_;
    std::atomic<bool> flag_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable ran_;  // a callback posted with postAndWait has run
    std::deque<std::function<void()>> posted_;
    bool done_ = false;
    std::exception_ptr callerError_;
};

}  // namespace movantrix::detail
