#include "support/SearchGate.h"

#include "support/ScriptedGuiOperations.h"

namespace mvx::gui::test {

SearchGate::SearchGate(mvx::test::HookedDriver& driver, std::string call,
                       std::function<bool()> when)
    : driver_(driver), call_(std::move(call)), when_(std::move(when)) {
    driver_.hook = [this](const std::string& name) { return onCall(name); };
}

SearchGate::~SearchGate() {
    release();
    driver_.hook = nullptr;
}

FtStatus SearchGate::onCall(const std::string& call) {
    if (call != call_) {
        return FT_OK;
    }
    std::unique_lock lock(mutex_);
    if (used_ || !when_()) {
        return FT_OK;
    }
    used_ = true;
    held_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    return FT_OK;
}

bool SearchGate::waitUntilHeld() {
    return waitFor([this] {
        std::lock_guard lock(mutex_);
        return held_;
    });
}

void SearchGate::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

}  // namespace mvx::gui::test
