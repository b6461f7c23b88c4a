// The open telemetry windows, one per device: opening a device's window again raises it. The
// main window ends or suspends their sampling before the device list changes (Close, a
// refresh, Exit), so no sample reads the bus across such a change.
#pragma once

#include <QPointer>

#include <map>
#include <utility>

namespace mvx::gui {

class ManagerApp;
class TelemetryWindow;

class TelemetryWindows {
public:
    explicit TelemetryWindows(ManagerApp& app);
    ~TelemetryWindows();  // closes the windows; their sampling stops

    TelemetryWindows(const TelemetryWindows&) = delete;
    TelemetryWindows& operator=(const TelemetryWindows&) = delete;

    // Shows the window of the device at (code, id), opening it when there is none; null when
    // the device is not an actuator listed with its record.
    TelemetryWindow* open(int code, int id);
    TelemetryWindow* find(int code, int id) const;
    int count() const;

    // Before and after a refresh of the device list (they may nest): sampling stops, and
    // starts again afterwards in the windows whose device is still listed.
    void suspendSampling();
    void resumeSampling();
    // Before the connection closes: every window stops sampling and says so.
    void endSampling();
    // On exit: every window closes.
    void closeAll();

private:
    ManagerApp& app_;
    std::map<std::pair<int, int>, QPointer<TelemetryWindow>> windows_;
    int suspended_ = 0;
};

}  // namespace mvx::gui
