#include "facade/LongCall.h"

#include <memory>
#include <stop_token>
#include <thread>

namespace movantrix::detail {

void LongCall::post(std::function<void()> callback) {
    {
        const std::lock_guard lock(mutex_);
        // After a callback failed the others are passed over (the work is stopping).
        posted_.push_back([this, callback = std::move(callback)] {
            if (!callerError_) {
                callback();
            }
        });
    }
    wake_.notify_one();
}

void LongCall::postAndWait(std::function<void()> callback) {
    auto ran = std::make_shared<bool>(false);
    post([this, ran, callback = std::move(callback)] {
        // Marked as run even when it throws, so that the work never waits for ever.
        struct Done {
            LongCall& call;
            std::shared_ptr<bool> ran;
            ~Done() {
                {
                    const std::lock_guard lock(call.mutex_);
                    *ran = true;
                }
                call.ran_.notify_all();
            }
        } done{*this, ran};
        callback();
    });
    std::unique_lock lock(mutex_);
    // A callback passed over after a failure never runs: the stop is what the work sees then.
    ran_.wait(lock, [this, &ran] { return *ran || callerError_ != nullptr; });
}

void LongCall::requestStop() {
    if (!flag_.exchange(true) && onStop_) {
        onStop_();
    }
}

void LongCall::callerSide(const std::function<void()>& fn) {
    try {
        fn();
    } catch (...) {
        {
            const std::lock_guard lock(mutex_);
            if (!callerError_) {
                callerError_ = std::current_exception();
            }
        }
        ran_.notify_all();
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
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kPollPeriod, [this] { return done_ || !posted_.empty(); });
            batch.swap(posted_);
            done = done_;
        }
        for (const auto& callback : batch) {
            callerSide(callback);
        }
        if (tick && !callerError_) {
            callerSide(tick);
        }
        if (stop_.requested && !flag_.load() && !callerError_) {
            callerSide([this] {
                if (stop_.requested()) {
                    requestStop();
                }
            });
        }
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
