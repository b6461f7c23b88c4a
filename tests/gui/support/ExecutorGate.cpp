#include "support/ExecutorGate.h"

namespace mvx::gui::test {

ExecutorGate::ExecutorGate(BusExecutor& executor) {
    executor.submit([state = state_] {
        std::unique_lock lock(state->mutex);
        state->held = true;
        state->changed.notify_all();
        state->changed.wait(lock, [&state] { return state->released; });
    });
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [this] { return state_->held; });
}

ExecutorGate::~ExecutorGate() {
    release();
}

void ExecutorGate::release() {
    std::lock_guard lock(state_->mutex);
    state_->released = true;
    state_->changed.notify_all();
}

}  // namespace mvx::gui::test
