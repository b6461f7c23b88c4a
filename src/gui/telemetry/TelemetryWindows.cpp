#include "gui/telemetry/TelemetryWindows.h"

#include "gui/app/ManagerApp.h"
#include "gui/app/Texts.h"
#include "gui/telemetry/TelemetryWindow.h"

namespace mvx::gui {

TelemetryWindows::TelemetryWindows(ManagerApp& app) : app_(app) {}

TelemetryWindows::~TelemetryWindows() {
    for (auto& [address, window] : windows_) {
        delete window.data();
    }
}

TelemetryWindow* TelemetryWindows::find(int code, int id) const {
    const auto it = windows_.find({code, id});
    return it == windows_.end() ? nullptr : it->second.data();
}

int TelemetryWindows::count() const {
    int open = 0;
    for (const auto& [address, window] : windows_) {
        open += window != nullptr ? 1 : 0;
    }
    return open;
}

TelemetryWindow* TelemetryWindows::open(int code, int id) {
    TelemetryWindow* window = find(code, id);
    if (window == nullptr) {
        const DeviceSummary* device = app_.findDevice(code, id);
        if (device == nullptr || !device->hasRecord) {
            return nullptr;
        }
        window = new TelemetryWindow(app_, code, id, device->maxPosition);
        windows_[{code, id}] = window;
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void TelemetryWindows::suspendSampling() {
    if (suspended_++ > 0) {
        return;
    }
    for (auto& [address, window] : windows_) {
        if (window != nullptr) {
            window->suspendSampling();
        }
    }
}

void TelemetryWindows::resumeSampling() {
    if (suspended_ == 0 || --suspended_ > 0) {
        return;
    }
    for (auto& [address, window] : windows_) {
        if (window != nullptr) {
            window->resumeSampling();
        }
    }
}

void TelemetryWindows::endSampling() {
    for (auto& [address, window] : windows_) {
        if (window != nullptr) {
            window->endSampling(texts::kTelemetryConnectionClosed);
        }
    }
}

void TelemetryWindows::closeAll() {
    for (auto& [address, window] : windows_) {
        if (window != nullptr) {
            window->close();
        }
    }
}

}  // namespace mvx::gui
