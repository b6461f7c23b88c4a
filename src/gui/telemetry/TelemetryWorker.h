// The sampling of one telemetry window on a worker thread: runs the core's sampler for the
// device at (code, id), keeping off the bus while busBusy is set, and hands every sample to
// the GUI thread through a lock-protected buffer that the window drains on its timer. The
// worker never touches a widget; the end of a run that ended by itself (no answer, adapter
// lost) reaches the GUI thread as one queued call.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "device/TelemetrySampler.h"

namespace mvx::gui {

class ManagerApp;
class WorkerThread;

class TelemetryWorker {
public:
    using Ended = std::function<void(TelemetrySampler::End)>;

    TelemetryWorker(ManagerApp& app, int code, int id);
    ~TelemetryWorker();  // stops and joins

    TelemetryWorker(const TelemetryWorker&) = delete;
    TelemetryWorker& operator=(const TelemetryWorker&) = delete;

    // Starts a run at `rateHz` (a running one is stopped first). When the run ends by itself,
    // `ended` runs on the GUI thread as a queued call on `receiver`.
    void start(double rateHz, QObject* receiver, Ended ended);
    // Ends the run and joins its thread; an end it may have reached meanwhile is not reported.
    // The samples it took stay in the buffer.
    void stop();
    // A run was started and has been neither stopped nor reported as ended.
    bool running() const { return run_ != nullptr; }
    void setRate(double hz);

    // Appends the samples taken since the last call to `out`.
    void takeSamples(std::vector<StatusSample>& out);

private:
    struct Run;

    ManagerApp& app_;
    int code_;
    int id_;
    std::shared_ptr<Run> run_;
    std::unique_ptr<WorkerThread> thread_;
    std::mutex mutex_;
    std::vector<StatusSample> pending_;  // under mutex_
};

}  // namespace mvx::gui
