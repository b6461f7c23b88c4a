#include "gui/telemetry/TelemetryWorker.h"

#include <atomic>

#include "gui/app/GuiOperations.h"
#include "gui/app/ManagerApp.h"

namespace mvx::gui {

// What one run shares between its thread and the GUI thread.
struct TelemetryWorker::Run {
    Run(BusConnection& bus, Clock& clock, int code, int id) : sampler(bus, clock, code, id) {}
    TelemetrySampler sampler;
    std::atomic<TelemetrySampler::End> end{TelemetrySampler::End::Stopped};
    // Cleared by stop(): the run's end is then not reported.
    std::atomic<bool> reported{true};
};

TelemetryWorker::TelemetryWorker(ManagerApp& app, int code, int id)
    : app_(app), code_(code), id_(id) {}

TelemetryWorker::~TelemetryWorker() {
    stop();
}

void TelemetryWorker::start(double rateHz, QObject* receiver, Ended ended) {
    stop();
    auto run = std::make_shared<Run>(app_.bus(), app_.clock(), code_, id_);
    run->sampler.setRate(rateHz);
    run_ = run;
    ManagerApp& app = app_;
    auto body = [this, run, &app] {
        const TelemetrySampler::End end =
            run->sampler.run([&app] { return app.busBusy.load() > 0; },
                             [this](const StatusSample& sample) {
                                 const std::lock_guard<std::mutex> lock(mutex_);
                                 pending_.push_back(sample);
                             });
        run->end.store(end);
    };
    auto finished = [this, run, ended = std::move(ended)] {
        if (!run->reported.load() || run_ != run) {
            return;
        }
        // The thread has ended; joining it is immediate.
        thread_.reset();
        run_.reset();
        if (ended) {
            ended(run->end.load());
        }
    };
    thread_ = app_.operations().startWorker(std::move(body), receiver, std::move(finished));
}

void TelemetryWorker::stop() {
    if (run_ != nullptr) {
        run_->reported.store(false);
        run_->sampler.stop();
    }
    thread_.reset();  // joins
    run_.reset();
}

void TelemetryWorker::setRate(double hz) {
    if (run_ != nullptr) {
        run_->sampler.setRate(hz);
    }
}

void TelemetryWorker::takeSamples(std::vector<StatusSample>& out) {
    const std::lock_guard<std::mutex> lock(mutex_);
    out.insert(out.end(), pending_.begin(), pending_.end());
    pending_.clear();
}

}  // namespace mvx::gui
