// "Movantrix Telemetry - ID %d, Baud %d": live plots of one actuator's status, sampled by the
// bus executor through the core, with the span and rate choices, Pause/Resume, Clear and
// "Save CSV…", a line that says why sampling stopped and a status line (achieved rate,
// samples, gaps). The window drains the worker's samples and redraws on a timer, at most 25
// times a second whatever the sample rate. It never reads the device's registry entry after
// it opened; it keeps the session's samples until it is cleared or closed.
#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "gui/telemetry/TelemetryTrace.h"
#include "gui/telemetry/TelemetryWorker.h"

namespace Ui {
class TelemetryWindow;
}

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;
class TelemetryPlots;

class TelemetryWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTickMs = 50;
    // How far back the achieved rate looks.
    static constexpr double kRateWindowS = 2.0;

    // Opens on the device at (code, id) and starts sampling. `maxPosition` scales the
    // position axes (1023 or 4095).
    TelemetryWindow(ManagerApp& app, int code, int id, int maxPosition);
    ~TelemetryWindow() override;  // stops the sampling

    int code() const { return code_; }
    int id() const { return id_; }
    bool sampling() const { return worker_.running(); }
    const TelemetryTrace& trace() const { return trace_; }
    TelemetryPlots& plots() { return *plots_; }

    // Around a refresh of the device list: stops sampling and later takes
    // it up again when it was running and the device is still listed; else the line says so.
    void suspendSampling();
    void resumeSampling();
    // Stops sampling for good, with `line` in the window (Resume may start it again).
    void endSampling(const QString& line);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void startSampling();
    void stopSampling();
    // Whether the device can be sampled now; otherwise `why` is the line to show.
    bool deviceAvailable(QString& why);
    // One timer tick: the samples taken so far into the trace, the status line and the plots.
    void tick();
    void drain();
    void runEnded(TelemetrySampler::End end);
    void reportAdapterFailure();
    void pauseOrResume();
    void clear();
    void saveCsv();
    void showStatus();
    // Redraws when the newest sample is at least a pixel column further (or when forced).
    void replot(bool force);
    double spanS() const;
    double rateHz() const;

    ManagerApp& app_;
    const int code_;
    const int id_;
    std::unique_ptr<Ui::TelemetryWindow> ui_;
    TelemetryPlots* plots_ = nullptr;
    TelemetryTrace trace_;
    TelemetryWorker worker_;
    std::unique_ptr<RepeatingTimer> timer_;
    std::vector<StatusSample> drained_;
    double runStartS_ = 0.0;  // clock time at the start of the current run
    double plottedS_ = -1.0;  // session time of the newest sample drawn
    bool resumeAfterRefresh_ = false;
    // A 101 that waits until no one else holds the bus before it is reported.
    bool adapterFailurePending_ = false;
};

}  // namespace mvx::gui
