// What the desktop program's real-time benchmarks share: the program's bus set up as a search
// leaves it, without running one.
#pragma once

#include <utility>
#include <vector>

#include "device/DeviceRegistry.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"

namespace mvx::bench {

// Opens the (one, simulated) adapter and registers the devices at `addresses` (code, ID) as the
// search does, on the bus executor; then the main view is refreshed with (code, id) selected
// and its results are waited for. False when the adapter did not open or a device did not
// answer.
inline bool registerDevices(gui::ManagerApp& app, gui::MainWindow& window,
                            const std::vector<std::pair<int, int>>& addresses, int code, int id) {
    bool ok = false;
    DeviceRegistry& registry = app.registry();
    app.executor().submit([&] {
        ok = registry.bus().open(0);
        for (const auto& [deviceCode, deviceId] : addresses) {
            ok = ok && registry.appendPlaceholder()->probe(deviceCode, deviceId) == 100;
        }
    });
    app.executor().runUntilIdle();
    if (!ok) {
        return false;
    }
    app.setAdapterOpen(true);
    window.view().refreshDeviceList(code, id);
    app.jobs().waitUntilIdle();
    return true;
}

}  // namespace mvx::bench
