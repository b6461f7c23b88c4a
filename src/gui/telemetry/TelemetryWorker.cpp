#include "gui/telemetry/TelemetryWorker.h"

#include <atomic>

#include "gui/app/BusJobs.h"
#include "gui/app/ManagerApp.h"

namespace mvx::gui {

// One run: the sampler as a source of the executor. Its sampling runs on the executor's thread;
// stop() and the buffer are shared with the GUI thread.
class TelemetryWorker::Run final : public BusExecutor::PeriodicSource {
public:
    Run(ManagerApp& app, int code, int id, std::shared_ptr<Buffer> buffer, QObject* receiver)
        : sampler_(app.registry().bus(), app.clock(), code, id),
          jobs_(app.jobs()),
          buffer_(std::move(buffer)),
          receiver_(receiver) {
        sampler_.begin();  // before the executor sees the run
    }
    // What the GUI thread does when the run ends by itself; set before the executor sees it.
    void setEnded(Ended ended) { ended_ = std::move(ended); }

    void setRate(double hz) { sampler_.setRate(hz); }
    // GUI thread: nothing more of this run reaches the buffer or the GUI.
    void stop() {
        std::lock_guard lock(buffer_->mutex);
        stopped_ = true;
    }
    bool stopped() const { return stopped_.load(); }

    std::int64_t nextDueUs() override { return sampler_.nextDueUs(); }
    bool runDue(bool yielded) override {
        if (stopped_.load()) {
            return false;
        }
        const std::optional<TelemetrySampler::End> end =
            sampler_.sampleOnce(yielded, [this](const StatusSample& sample) {
                std::lock_guard lock(buffer_->mutex);
                if (!stopped_.load()) {
                    buffer_->samples.push_back(sample);
                }
            });
        if (!end) {
            return true;
        }
        // The run has ended by itself: the GUI thread hears of it (unless stopped by then).
        const TelemetrySampler::End how = *end;
        jobs_.post(receiver_, [ended = ended_, how] { ended(how); });
        return false;
    }

private:
    TelemetrySampler sampler_;
    BusJobs& jobs_;
    std::shared_ptr<Buffer> buffer_;
    QPointer<QObject> receiver_;
    Ended ended_;
    std::atomic<bool> stopped_{false};
};

TelemetryWorker::TelemetryWorker(ManagerApp& app, int code, int id)
    : app_(app), code_(code), id_(id), buffer_(std::make_shared<Buffer>()) {}

TelemetryWorker::~TelemetryWorker() {
    stop();
}

void TelemetryWorker::start(double rateHz, QObject* receiver, Ended ended) {
    stop();
    auto run = std::make_shared<Run>(app_, code_, id_, buffer_, receiver);
    run->setRate(rateHz);
    const std::weak_ptr<Run> weak = run;
    run->setEnded([this, weak, ended = std::move(ended)](TelemetrySampler::End end) {
        const std::shared_ptr<Run> self = weak.lock();
        if (self == nullptr || self != run_ || self->stopped()) {
            return;  // stopped (or started anew) before its end came in
        }
        run_.reset();
        if (ended) {
            ended(end);
        }
    });
    run_ = run;
    app_.executor().addPeriodic(run);
}

void TelemetryWorker::stop() {
    if (run_ != nullptr) {
        run_->stop();
        app_.executor().removePeriodic(run_);
    }
    run_.reset();
}

void TelemetryWorker::setRate(double hz) {
    if (run_ != nullptr) {
        run_->setRate(hz);
    }
}

void TelemetryWorker::takeSamples(std::vector<StatusSample>& out) {
    const std::lock_guard lock(buffer_->mutex);
    out.insert(out.end(), buffer_->samples.begin(), buffer_->samples.end());
    buffer_->samples.clear();
}

}  // namespace mvx::gui
