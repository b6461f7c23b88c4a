// A one-line progress bar on stderr, drawn only when stderr is a terminal, and the runner
// that does bus work on a worker thread while the calling thread redraws the bar.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace mvx::cli {

class ProgressBar {
public:
    // Draws nothing at all unless `enabled`.
    ProgressBar(std::ostream& err, bool enabled, std::string label);
    ~ProgressBar();

    // Redraws the line when the percentage or the detail changed.
    void update(int percent, const std::string& detail = {});
    // Draws 100% and ends the line (once).
    void finish();

private:
    std::ostream& err_;
    bool enabled_;
    std::string label_;
    int lastPercent_ = -1;
    std::string lastDetail_;
    bool drawn_ = false;
    bool finished_ = false;
};

// Runs `work` on a worker thread and calls `poll` on this thread every `pollMs` until the
// work is done (once more at the end). Returns the work's result.
int runWithProgress(const std::function<int()>& work, const std::function<void()>& poll,
                    int pollMs = 300);

}  // namespace mvx::cli
