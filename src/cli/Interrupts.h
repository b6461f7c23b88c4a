// Ctrl+C and SIGTERM for the commands that run until told to end (watch, assign): while an
// InterruptScope lives, the signals set one flag instead of ending the program, and the
// command ends cleanly at its next look at the flag.
#pragma once

#include <csignal>

#include <atomic>

namespace mvx::cli {

// Set by SIGINT and SIGTERM while a scope lives. A signal handler can reach nothing but a
// lock-free flag, so this one flag is the process's.
std::atomic<bool>& interruptFlag();

// Catches SIGINT and SIGTERM for its lifetime (the flag cleared first) and puts the earlier
// handlers back.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

}  // namespace mvx::cli
