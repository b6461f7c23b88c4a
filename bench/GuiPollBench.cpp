// The Operation page polling one actuator at 1 Mbps on the simulated bus in real time: how much
// CPU the program uses while it polls, and how long one poll holds the GUI thread.
//
// Run it where windows can be made:
//   xvfb-run -a build/default/bench/gui_poll_bench          (real X windows)
//   QT_QPA_PLATFORM=offscreen build/default/bench/gui_poll_bench
//
// Two phases of 10 s each, on the real Qt timers and the real clock:
//   CPU use         the process's CPU time (user + system) over 10 s of polling, as a share of
//                   one core; nothing else runs. Target: under 2 %.
//   longest block   a 1 ms Qt::PreciseTimer on the GUI thread over another 10 s of polling;
//                   the longest gap between its ticks, less the period, is the longest time the
//                   GUI thread did not serve its events (one poll is one transaction).
// The polls are counted on the wire (reads of 26 bytes from address 24) to show they ran.
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "BenchProcess.h"
#include "GuiBenchSetup.h"
#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "gui/sheet/DeviceSheet.h"
#include "protocol/Packet.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPhaseMs = 10000;
constexpr double kCpuTargetPercent = 2.0;

// Runs the event loop for `ms` of real time.
void runFor(int ms) {
    QTimer::singleShot(ms, [] { QApplication::quit(); });
    QApplication::exec();
}

// Reads of the status block (26 bytes from address 24) the host sent.
int statusPolls(const SimulatedBus& bus) {
    int polls = 0;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus && t.bytes.size() == 8 && t.bytes[4] == Read &&
            t.bytes[5] == 24 && t.bytes[6] == 26) {
            ++polls;
        }
    }
    return polls;
}

int run(int argc, char** argv) {
    QApplication application(argc, argv);
    std::printf("gui_poll_bench: platform %s, one actuator at code 1, real time\n",
                qPrintable(QApplication::platformName()));

    BusDescription description;
    SimDeviceSpec device;
    device.id = 1;
    device.code = 1;
    device.model = 28;
    description.devices.push_back(device);
    SystemClock clock;
    SimulatedBus bus(description, clock);
    SimDriver driver(bus);

    gui::QtGuiOperations operations;
    gui::ManagerApp app(driver, clock, operations);
    gui::MainWindow window(app);
    // The tree selects it; the sheet opens Operation.
    if (!registerDevices(app, window, {{1, 1}}, 1, 1)) {
        std::fprintf(stderr, "gui_poll_bench: the simulated actuator did not answer\n");
        return 1;
    }
    window.show();
    if (window.view().sheet().tabText(window.view().sheet().currentIndex()) != "Operation") {
        std::fprintf(stderr, "gui_poll_bench: the Operation page is not active\n");
        return 1;
    }
    runFor(500);  // the window is up and painted; polling has begun

    // Phase 1: CPU use while polling.
    bus.clearTraffic();
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Steady::now();
    runFor(kPhaseMs);
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Steady::now() - wallBefore).count();
    const int polls = statusPolls(bus);

    // Phase 2: the longest time the GUI thread was held.
    double longestMs = 0.0;
    auto last = Steady::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Steady::now();
        longestMs =
            std::max(longestMs, std::chrono::duration<double, std::milli>(now - last).count() - 1);
        last = now;
    });
    probe.start(1);
    last = Steady::now();
    runFor(kPhaseMs);
    probe.stop();

    const double percent = 100.0 * cpu / wall;
    std::printf("%-40s %8d\n", "status polls in 10 s", polls);
    std::printf("%-40s %8.2f %% of one core (target: < %.0f %%)\n", "CPU use while polling",
                percent, kCpuTargetPercent);
    std::printf("%-40s %8.1f ms (one poll: one 26-byte read)\n", "longest event-loop block",
                longestMs);
    std::printf("target: CPU %s\n", percent < kCpuTargetPercent ? "met" : "MISSED");
    return polls > 0 ? 0 : 1;
}

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::run(argc, argv);
}
