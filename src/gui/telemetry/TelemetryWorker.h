// The sampling of one telemetry window: the core's sampler for the device at (code, id) as a
// periodic source of the bus executor, which takes one sample when it is due (a yielded gap
// while a command waits or busBusy is set). The samples reach the GUI thread through a
// lock-protected buffer that the window drains on its timer; the end of a run that ended by
// itself (no answer, adapter lost) reaches it as one queued call. Nothing of it touches a widget
// off the GUI thread.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "device/TelemetrySampler.h"

namespace mvx::gui {

class ManagerApp;

class TelemetryWorker {
public:
    using Ended = std::function<void(TelemetrySampler::End)>;

    TelemetryWorker(ManagerApp& app, int code, int id);
    ~TelemetryWorker();  // stops

    TelemetryWorker(const TelemetryWorker&) = delete;
    TelemetryWorker& operator=(const TelemetryWorker&) = delete;

    // Starts a run at `rateHz` (a running one is stopped first). When the run ends by itself,
    // `ended` runs on the GUI thread as a queued call on `receiver`.
    void start(double rateHz, QObject* receiver, Ended ended);
    // Ends the run: no sample of it is taken into the buffer after this returns, and an end it
    // may have reached meanwhile is not reported. The samples it took stay in the buffer.
    void stop();
    // A run was started and has been neither stopped nor reported as ended.
    bool running() const { return run_ != nullptr; }
    void setRate(double hz);

    // Appends the samples taken since the last call to `out`.
    void takeSamples(std::vector<StatusSample>& out);

private:
    class Run;
    // What the runs hand the GUI thread.
    struct Buffer {
        std::mutex mutex;
        std::vector<StatusSample> samples;
    };

    ManagerApp& app_;
    int code_;
    int id_;
    std::shared_ptr<Buffer> buffer_;
    std::shared_ptr<Run> run_;
};

}  // namespace mvx::gui
