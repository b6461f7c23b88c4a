// Holds the bus executor inside a job until released, so that a test can work the window while
// a job runs: what it clicks meanwhile queues up behind the held job.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include "protocol/BusExecutor.h"

namespace mvx::gui::test {

class ExecutorGate {
public:
    // Submits the holding job and waits until the executor runs it.
    explicit ExecutorGate(BusExecutor& executor);
    ~ExecutorGate();  // releases

    ExecutorGate(const ExecutorGate&) = delete;
    ExecutorGate& operator=(const ExecutorGate&) = delete;

    void release();

private:
    // Shared with the holding job, which may outlive the gate by a moment.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool held = false;
        bool released = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace mvx::gui::test
