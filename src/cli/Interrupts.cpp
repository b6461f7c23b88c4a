#include "cli/Interrupts.h"

namespace mvx::cli {

namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    gInterrupted.store(true);
}

}  // namespace

std::atomic<bool>& interruptFlag() {
    return gInterrupted;
}

InterruptScope::InterruptScope() {
    gInterrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &oldInt_);
    ::sigaction(SIGTERM, &action, &oldTerm_);
}

InterruptScope::~InterruptScope() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
}

}  // namespace mvx::cli
