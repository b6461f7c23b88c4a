#include "facade/LongCall.h"

#include <stop_token>
#include <thread>

namespace movantrix::detail {

void LongCall::post(std::function<void()> callback) {
    {
        const std::lock_guard lock(mutex_);
        posted_.push_back(std::move(callback));
        ++postedCount_;
    }
    wake_.notify_one();
}

void LongCall::postAndWait(std::function<void()> callback) {
    std::unique_lock lock(mutex_);
    posted_.push_back(std::move(callback));
    const std::uint64_t mine = ++postedCount_;
    wake_.notify_one();
    served_.wait(lock, [this, mine] { return servedCount_ >= mine; });
}

void LongCall::requestStop() {
    if (!flag_.exchange(true) && onStop_) {
        onStop_();
    }
}

void LongCall::callerSide(const std::function<void()>& fn) {
    if (callerError_) {
        return;
    }
    try {
        fn();
    } catch (...) {
        callerError_ = std::current_exception();
        requestStop();
    }
}

void LongCall::run(const std::function<void()>& work, const std::function<void()>& tick) {
    if (stop_.token.stop_requested()) {
        flag_.store(true);
    }
    const std::stop_callback onStop(stop_.token, [this] { requestStop(); });
    std::exception_ptr workError;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            workError = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
    });
    for (;;) {
        std::deque<std::function<void()>> batch;
        bool done = false;
        std::uint64_t upTo = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kPollPeriod, [this] { return done_ || !posted_.empty(); });
            batch.swap(posted_);
            upTo = postedCount_;
            done = done_;
        }
        for (const auto& callback : batch) {
            callerSide(callback);
        }
        if (tick) {
            callerSide(tick);
        }
        if (stop_.requested && !flag_.load()) {
            callerSide([this] {
                if (stop_.requested()) {
                    requestStop();
                }
            });
        }
        {
            const std::lock_guard lock(mutex_);
            servedCount_ = upTo;
        }
        served_.notify_all();
        if (done) {
            break;
        }
    }
    worker.join();
    if (workError) {
        std::rethrow_exception(workError);
    }
    if (callerError_) {
        std::rethrow_exception(callerError_);
    }
}

}  // namespace movantrix::detail
