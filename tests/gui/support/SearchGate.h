// Holds the search worker at a chosen point: armed, the first driver call of a given name made
// while `when` holds waits there until the test releases it.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "support/SimRegistry.h"

namespace mvx::gui::test {

class SearchGate {
public:
    // Installs itself as the driver's hook.
    SearchGate(mvx::test::HookedDriver& driver, std::string call, std::function<bool()> when);
    ~SearchGate();

    // Processes GUI events until the worker waits at the gate; false after the bound.
    bool waitUntilHeld();
    void release();

private:
    FtStatus onCall(const std::string& call);

    mvx::test::HookedDriver& driver_;
    std::string call_;
    std::function<bool()> when_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
    bool used_ = false;
};

}  // namespace mvx::gui::test
