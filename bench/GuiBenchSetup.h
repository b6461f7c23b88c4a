// What the desktop program's real-time benchmarks share: the program's bus set up as a search
// leaves it, without running one; the thread's CPU time, the resident set, a bus of one
// actuator.
#pragma once

#include <time.h>
#include <unistd.h>

#include <QTimer>
#include <fstream>
#include <utility>
#include <vector>

#include "device/DeviceRegistry.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "sim/SimulatedBus.h"

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

// CPU time of the calling thread.
inline double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The process's resident set, MB.
inline double residentMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// One MQ-35 at (1, 1) with a moving speed at which a move takes about a second.
inline BusDescription oneActuator() {
    BusDescription description;
    SimDeviceSpec device;
    device.id = 1;
    device.code = 1;
    device.model = 28;
    device.registers = {{32, 150}};
    description.devices.push_back(device);
    return description;
}

// Moves the simulated actuator between goals 300 and 700 every 2 s, written into the device
// directly, so that the program's own traffic is only what is measured. Starts `mover`.
inline void moveBetweenGoals(QTimer& mover, SimulatedDevice* device) {
    QObject::connect(&mover, &QTimer::timeout, [device, goal = 300]() mutable {
        goal = goal == 300 ? 700 : 300;
        device->setReg(24, 1);
        device->setReg16(30, goal);
    });
    mover.start(2000);
}

}  // namespace mvx::bench
