#include "cli/ProgressBar.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

namespace mvx::cli {

namespace {
constexpr int kBarWidth = 30;
}

ProgressBar::ProgressBar(std::ostream& err, bool enabled, std::string label)
    : err_(err), enabled_(enabled), label_(std::move(label)) {}

ProgressBar::~ProgressBar() {
    // A bar left mid-line (the work failed) still ends its line.
    if (enabled_ && drawn_ && !finished_) {
        err_ << '\n' << std::flush;
    }
}

void ProgressBar::update(int percent, const std::string& detail) {
    if (!enabled_ || finished_) {
        return;
    }
    percent = std::clamp(percent, 0, 100);
    if (drawn_ && percent == lastPercent_ && detail == lastDetail_) {
        return;
    }
    const int filled = percent * kBarWidth / 100;
    std::string line = "\r" + label_ + " [" + std::string(filled, '#') +
                       std::string(kBarWidth - filled, '.') + "] " + std::to_string(percent) + "%";
    if (!detail.empty()) {
        line += "  " + detail;
    }
    // Blank out what a longer previous detail left behind.
    const std::size_t previous = lastDetail_.size();
    if (previous > detail.size()) {
        line += std::string(previous - detail.size(), ' ');
    }
    err_ << line << std::flush;
    lastPercent_ = percent;
    lastDetail_ = detail;
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!enabled_ || finished_) {
        return;
    }
    update(100);
    err_ << '\n' << std::flush;
    finished_ = true;
}

int runWithProgress(const std::function<int()>& work, const std::function<void()>& poll,
                    int pollMs) {
    std::packaged_task<int()> task(work);
    std::future<int> done = task.get_future();
    std::thread worker(std::move(task));
    while (done.wait_for(std::chrono::milliseconds(pollMs)) != std::future_status::ready) {
        poll();
    }
    worker.join();
    poll();
    return done.get();
}

}  // namespace mvx::cli
