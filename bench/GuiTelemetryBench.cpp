// The telemetry window sampling one actuator at 100 Hz on the simulated bus, as a user has it
// open beside the main window (whose Operation page polls too): how much CPU the program
// uses, how long the GUI thread is held, and how much memory a 10-minute recording takes.
//
// Run it where windows can be made:
//   xvfb-run -a build/default/bench/gui_telemetry_bench          (real X windows)
//   QT_QPA_PLATFORM=offscreen build/default/bench/gui_telemetry_bench
//
// Phases, on the real Qt timers:
//   CPU use         10 s at 100 Hz (10 s span) in real time while the actuator moves between
//                   two goals every 2 s: the process's CPU time (user + system) as a share of
//                   one core. Target: under 15 %.
//   longest block   another 10 s the same way, with a 1 ms Qt::PreciseTimer on the GUI thread;
//                   the longest gap between its ticks, less the period. Target: under 20 ms.
//   memory          a 10-minute recording at 100 Hz (10 min span), simulated: a second
//                   application over a virtual clock, on which the sampler runs as fast as
//                   the bus answers, while the window drains and draws on its real timer. The
//                   resident set before the window opened and once 600 s are recorded; the
//                   simulated bus's traffic record is emptied every second so that only the
//                   program's own memory counts. Target: growth under 20 MB.
// `--picture FILE` saves the window as it was at the end of the first two phases.
// The program exits 0 when every phase ran (whatever the figures), 1 when one did not.
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "BenchProcess.h"
#include "GuiBenchSetup.h"
#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "gui/telemetry/TelemetryWindow.h"
#include "gui/telemetry/TelemetryWindows.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPhaseMs = 10000;
constexpr double kRecordingS = 600.0;
constexpr int kRecordingGiveUpMs = 300000;
constexpr double kCpuTargetPercent = 15.0;
constexpr double kBlockTargetMs = 20.0;
constexpr double kMemoryTargetMb = 20.0;
constexpr int kRate100Hz = 4;  // entries of the window's choices
constexpr int kSpan10s = 0;
constexpr int kSpan10min = 3;

// Runs the event loop for `ms` of real time (a loop of its own: quitting the application
// would close its windows).
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The program over `clock`: the main window with the actuator selected, and its telemetry
// window at 100 Hz with the given span.
struct Program {
    Program(Clock& clock, int span)
        : bus(oneActuator(), clock), driver(bus), app(driver, clock, ops) {
        window = std::make_unique<gui::MainWindow>(app);
        ok = registerDevices(app, *window, {{1, 1}}, 1, 1);
        if (!ok) {
            return;
        }
        window->show();
        telemetry = window->telemetry().open(1, 1);
        ok = telemetry != nullptr;
        if (ok) {
            telemetry->findChild<QComboBox*>(QStringLiteral("rateCombo"))
                ->setCurrentIndex(kRate100Hz);
            telemetry->findChild<QComboBox*>(QStringLiteral("spanCombo"))->setCurrentIndex(span);
        }
    }

    SimulatedBus bus;
    SimDriver driver;
    gui::QtGuiOperations ops;
    gui::ManagerApp app;
    std::unique_ptr<gui::MainWindow> window;
    gui::TelemetryWindow* telemetry = nullptr;
    bool ok = false;
};

int run(int argc, char** argv) {
    QApplication application(argc, argv);
    std::string picture;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--picture") {
            picture = argv[i + 1];
        }
    }
    std::printf("gui_telemetry_bench: platform %s, one actuator at code 1, 100 Hz\n",
                qPrintable(QApplication::platformName()));

    // Phases 1 and 2: real time.
    int reads = 0;
    int gaps = 0;
    double cpuPercent = 0.0;
    double guiCpuPercent = 0.0;
    double longestMs = 0.0;
    double longestBusyMs = 0.0;
    {
        SystemClock clock;
        Program program(clock, kSpan10s);
        if (!program.ok) {
            std::fprintf(stderr, "gui_telemetry_bench: the simulated actuator did not answer\n");
            return 1;
        }
        // The actuator moves between two goals; written into the simulated device directly,
        // so that the program's own bus traffic is only the sampling and the page's poll.
        SimulatedDevice* device = program.bus.find(1, 1);
        QTimer mover;
        moveBetweenGoals(mover, device);
        device->setReg(24, 1);
        device->setReg16(30, 300);
        runFor(1000);  // the windows are up and painted; sampling has begun

        const int readsBefore = program.telemetry->trace().readCount();
        const int gapsBefore = program.telemetry->trace().gapCount();
        const double cpuBefore = cpuSeconds();
        const double guiCpuBefore = threadCpuSeconds();
        const auto wallBefore = Steady::now();
        runFor(kPhaseMs);
        const double cpu = cpuSeconds() - cpuBefore;
        const double guiCpu = threadCpuSeconds() - guiCpuBefore;
        const double wall = std::chrono::duration<double>(Steady::now() - wallBefore).count();
        cpuPercent = 100.0 * cpu / wall;
        guiCpuPercent = 100.0 * guiCpu / wall;
        reads = program.telemetry->trace().readCount() - readsBefore;
        gaps = program.telemetry->trace().gapCount() - gapsBefore;

        // A gap's wall time includes waits for a core on a loaded machine; the GUI thread's
        // CPU time over the same gap is what the program itself spent there.
        auto last = Steady::now();
        double lastCpu = threadCpuSeconds();
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = Steady::now();
            const double cpuNow = threadCpuSeconds();
            longestMs = std::max(longestMs,
                                 std::chrono::duration<double, std::milli>(now - last).count() - 1);
            longestBusyMs = std::max(longestBusyMs, (cpuNow - lastCpu) * 1000.0);
            last = now;
            lastCpu = cpuNow;
        });
        probe.start(1);
        last = Steady::now();
        lastCpu = threadCpuSeconds();
        runFor(kPhaseMs);
        probe.stop();
        if (!picture.empty()) {
            program.telemetry->grab().save(QString::fromStdString(picture));
        }
    }

    // Phase 3: a simulated 10-minute recording. The window is paused at once and painted,
    // so that the baseline holds both windows as drawn; the recording then runs until the
    // window has drained 600 s of samples (a little more: it drains on its timer).
    VirtualClock virtualClock;
    Program recording(virtualClock, kSpan10min);
    if (!recording.ok) {
        std::fprintf(stderr, "gui_telemetry_bench: the simulated actuator did not answer\n");
        return 1;
    }
    auto* pause = recording.telemetry->findChild<QPushButton*>(QStringLiteral("pauseButton"));
    auto* clear = recording.telemetry->findChild<QPushButton*>(QStringLiteral("clearButton"));
    pause->click();
    clear->click();
    runFor(500);
    const double residentBefore = residentMb();
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        recording.bus.clearTraffic();
        if (recording.telemetry->trace().lastTimeS() >= kRecordingS) {
            pause->click();
            loop.quit();
        }
    });
    watch.start(5);
    const auto recordStart = Steady::now();
    QTimer::singleShot(kRecordingGiveUpMs, &loop, &QEventLoop::quit);
    pause->click();
    loop.exec();
    const double recordedS = recording.telemetry->trace().lastTimeS();
    const int recordedReads = recording.telemetry->trace().readCount();
    recording.bus.clearTraffic();
    const double residentAfter = residentMb();
    const double growthMb = residentAfter - residentBefore;
    const double recordWallS = std::chrono::duration<double>(Steady::now() - recordStart).count();

    std::printf("%-44s %8d reads, %d gaps\n", "samples in 10 s at 100 Hz", reads, gaps);
    std::printf("%-44s %8.2f %% of one core (target: < %.0f %%)\n", "CPU use while sampling",
                cpuPercent, kCpuTargetPercent);
    std::printf("%-44s %8.2f %% of one core\n", "  of it the GUI thread", guiCpuPercent);
    std::printf("%-44s %8.1f ms (target: < %.0f ms)\n", "longest event-loop block", longestMs,
                kBlockTargetMs);
    std::printf("%-44s %8.1f ms\n", "  most CPU the GUI thread used in one", longestBusyMs);
    std::printf("%-44s %8.1f s of samples (%d reads) in %.1f s\n", "simulated recording", recordedS,
                recordedReads, recordWallS);
    std::printf("%-44s %8.1f MB (%.1f to %.1f; target: < %.0f MB)\n",
                "memory growth over the recording", growthMb, residentBefore, residentAfter,
                kMemoryTargetMb);
    std::printf("%-44s %8zu bytes\n", "one kept sample", sizeof(gui::TraceSample));
    std::printf("targets: CPU %s, block %s, memory %s\n",
                cpuPercent < kCpuTargetPercent ? "met" : "MISSED",
                longestMs < kBlockTargetMs ? "met" : "MISSED",
                growthMb < kMemoryTargetMb ? "met" : "MISSED");
    return reads > 0 && recordedS >= kRecordingS ? 0 : 1;
}

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::run(argc, argv);
}
