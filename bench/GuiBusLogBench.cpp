// The Bus Log window open while the telemetry window samples one actuator at 100 Hz on the
// simulated bus: how long the GUI thread is held, and how much memory ten minutes of that
// traffic take once the log and the window's table are full.
//
// Run it where windows can be made:
//   xvfb-run -a build/default/bench/gui_bus_log_bench          (real X windows)
//   QT_QPA_PLATFORM=offscreen build/default/bench/gui_bus_log_bench
//
// Phases:
//   longest block   20 s in real time at 100 Hz with the log window open and following the
//                   tail, the actuator moving between two goals every 2 s: a 1 ms
//                   Qt::PreciseTimer on the GUI thread, the longest gap between its ticks less
//                   the period. Target: <= 16 ms (one frame). The most CPU time the GUI
//                   thread used within one gap is printed beside it: on a loaded machine the
//                   gaps also hold the waits for a core. `--without-log` runs this phase
//                   without the log window, for what the telemetry alone costs. The log
//                   window's own events (its timer's ticks, its steps, its drawing) are timed
//                   apart, in CPU time: the longest one, and their sum per second. How many
//                   gaps went over the target is printed too: a rare stall of the machine
//                   shows as one gap in thousands, even inside a paint of a few pixels.
//   memory          10 minutes at 100 Hz on a virtual clock: the sampler runs as fast as the
//                   simulated bus answers, the log records every packet of it (a READ and its
//                   reply per sample, 120 000 entries: more than the 100 000 the log and the
//                   window keep), and the window copies them into its table on its real
//                   timer. The resident set before the log window opened and after the 600 s
//                   have reached its table; the simulated bus's traffic record is emptied as
//                   the run goes, so that only the program's own memory counts. Target: growth
//                   <= 50 MB. The window's block over this phase is printed too: on virtual
//                   time each of its ticks copies far more entries than 100 Hz brings in one.
//   opening         a second Bus Log window opened on the full log (100 000 entries): the
//                   longest block while it catches up (step by step), from its construction
//                   on. Target: <= 16 ms. Its own longest event in CPU time beside it.
// The program exits 0 when every target was met, 1 otherwise.
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "GuiBenchSetup.h"
#include "buslog/BusLogEntry.h"
#include "buslog/PackedLogEntries.h"
#include "drivers/Clock.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "gui/buslog/BusLogWindow.h"
#include "gui/telemetry/TelemetryTrace.h"
#include "gui/telemetry/TelemetryWindow.h"
#include "gui/telemetry/TelemetryWindows.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kBlockPhaseMs = 20000;
constexpr double kRecordingS = 600.0;
constexpr int kRecordingGiveUpMs = 600000;
constexpr double kBlockTargetMs = 16.0;
constexpr double kMemoryTargetMb = 50.0;
constexpr int kRate100Hz = 4;  // entries of the telemetry window's choices
constexpr int kSpan10s = 0;    // the shortest span: the telemetry's own memory stays small
constexpr int kLogRefreshMs = gui::BusLogWindow::kPeriodMs;

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Ticks every 1 ms on the GUI thread and keeps the longest gap, less the period, and the most
// CPU time the GUI thread used in one gap (a gap's wall time also holds the waits for a core on
// a loaded machine; its CPU time is what the program itself spent there).
class LoopMonitor {
public:
    LoopMonitor() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        longestMs_ = 0.0;
        busiestMs_ = 0.0;
        gaps_ = 0;
        over_ = 0;
        last_ = Steady::now();
        lastCpu_ = threadCpuSeconds();
        timer_.start(1);
    }
    void stop() {
        timer_.stop();
        tick();
    }
    double longestMs() const { return longestMs_; }
    double busiestMs() const { return busiestMs_; }
    // How many gaps there were, and how many of them were longer than the target.
    long gaps() const { return gaps_; }
    long overTarget() const { return over_; }

private:
    void tick() {
        const auto now = Steady::now();
        const double cpu = threadCpuSeconds();
        const double gapMs = std::chrono::duration<double, std::milli>(now - last_).count() - 1.0;
        longestMs_ = std::max(longestMs_, gapMs);
        ++gaps_;
        over_ += gapMs > kBlockTargetMs ? 1 : 0;
        busiestMs_ = std::max(busiestMs_, (cpu - lastCpu_) * 1000.0);
        last_ = now;
        lastCpu_ = cpu;
    }
    QTimer timer_;
    Steady::time_point last_;
    double lastCpu_ = 0.0;
    double longestMs_ = 0.0;
    double busiestMs_ = 0.0;
    long gaps_ = 0;
    long over_ = 0;
};

// The program over `clock`: the main window with the actuator selected; the telemetry window
// (100 Hz) and the Bus Log window open when asked.
struct Program {
    explicit Program(Clock& clock)
        : bus(oneActuator(), clock), driver(bus), app(driver, clock, ops) {
        window = std::make_unique<gui::MainWindow>(app);
        ok = registerDevices(app, *window, {{1, 1}}, 1, 1);
        if (ok) {
            window->show();
        }
    }
    bool openTelemetry() {
        telemetry = window->telemetry().open(1, 1);
        if (telemetry == nullptr) {
            return false;
        }
        telemetry->findChild<QComboBox*>(QStringLiteral("spanCombo"))->setCurrentIndex(kSpan10s);
        telemetry->findChild<QComboBox*>(QStringLiteral("rateCombo"))->setCurrentIndex(kRate100Hz);
        return true;
    }
    gui::BusLogWindow* openLog() {
        window->runCommand(gui::Command::BusLog);
        return window->busLogWindow();
    }

    SimulatedBus bus;
    SimDriver driver;
    gui::QtGuiOperations ops;
    gui::ManagerApp app;
    std::unique_ptr<gui::MainWindow> window;
    gui::TelemetryWindow* telemetry = nullptr;
    bool ok = false;
};

// Times the events the Bus Log windows handle themselves: their timer's ticks, their catch-up
// steps, their drawing and first showing. CPU time of the GUI thread, so that a loaded machine's
// waits for a core stay out: what the window itself costs beside the telemetry.
class TimedApplication final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (depth_ > 0 || !ofLog(receiver)) {
            return QApplication::notify(receiver, event);
        }
        ++depth_;
        const double start = threadCpuSeconds();
        const bool done = QApplication::notify(receiver, event);
        const double ms = (threadCpuSeconds() - start) * 1000.0;
        --depth_;
        longestMs_ = std::max(longestMs_, ms);
        totalMs_ += ms;
        return done;
    }
    void reset() {
        longestMs_ = 0.0;
        totalMs_ = 0.0;
    }
    double longestMs() const { return longestMs_; }
    double totalMs() const { return totalMs_; }

private:
    static bool ofLog(QObject* receiver) {
        if (auto* window = qobject_cast<QWindow*>(receiver)) {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->windowHandle() == window) {
                    return qobject_cast<gui::BusLogWindow*>(widget) != nullptr;
                }
            }
            return false;
        }
        for (QObject* o = receiver; o != nullptr; o = o->parent()) {
            if (qobject_cast<gui::BusLogWindow*>(o) != nullptr) {
                return true;
            }
        }
        return false;
    }

    int depth_ = 0;
    double longestMs_ = 0.0;
    double totalMs_ = 0.0;
};

double loadAverage() {
    double load[1] = {0.0};
    return getloadavg(load, 1) == 1 ? load[0] : 0.0;
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

int run(int argc, char** argv) {
    TimedApplication application(argc, argv);
    // --without-log: the first phase without the log window (what the telemetry alone costs).
    bool withLog = true;
    for (int i = 1; i < argc; ++i) {
        withLog = withLog && std::string(argv[i]) != "--without-log";
    }
    std::printf("gui_bus_log_bench: platform %s, one actuator at code 1, telemetry at 100 Hz\n",
                qPrintable(QApplication::platformName()));

    // Phase 1: real time.
    double blockMs = 0.0;
    double busiestMs = 0.0;
    long gaps = 0;
    long gapsOver = 0;
    int reads = 0;
    int rows = 0;
    double logLongestMs = 0.0;  // the log window's own events
    double logTotalMs = 0.0;
    {
        SystemClock clock;
        Program program(clock);
        if (!program.ok || !program.openTelemetry()) {
            std::fprintf(stderr, "gui_bus_log_bench: the simulated actuator did not answer\n");
            return 1;
        }
        gui::BusLogWindow* log = withLog ? program.openLog() : nullptr;
        if (withLog && log == nullptr) {
            std::fprintf(stderr, "gui_bus_log_bench: no Bus Log window\n");
            return 1;
        }
        SimulatedDevice* device = program.bus.find(1, 1);
        QTimer mover;
        moveBetweenGoals(mover, device);
        QTimer drain;  // the traffic record would grow; the log is what is measured
        QObject::connect(&drain, &QTimer::timeout, [&] { program.bus.clearTraffic(); });
        drain.start(1000);
        runFor(1000);
        const int readsBefore = program.telemetry->trace().readCount();
        LoopMonitor monitor;
        monitor.start();
        application.reset();
        runFor(kBlockPhaseMs);
        monitor.stop();
        logLongestMs = application.longestMs();
        logTotalMs = application.totalMs();
        blockMs = monitor.longestMs();
        busiestMs = monitor.busiestMs();
        gaps = monitor.gaps();
        gapsOver = monitor.overTarget();
        reads = program.telemetry->trace().readCount() - readsBefore;
        rows = log != nullptr ? log->model().rowCount() : 0;
    }

    // Phase 2: ten minutes on the virtual clock. The baseline is taken before either window
    // opens, with the log holding only the set-up's few packets.
    VirtualClock virtualClock;
    Program recording(virtualClock);
    if (!recording.ok) {
        std::fprintf(stderr, "gui_bus_log_bench: the simulated actuator did not answer\n");
        return 1;
    }
    runFor(500);
    const double residentBefore = residentMb();
    const BusLogStore& store = recording.app.busLog().store();
    const std::uint64_t entriesBefore = store.nextSequence();
    gui::BusLogWindow* log = recording.openLog();
    if (log == nullptr || !recording.openTelemetry()) {
        std::fprintf(stderr, "gui_bus_log_bench: a window did not open\n");
        return 1;
    }
    auto* pause = recording.telemetry->findChild<QPushButton*>(QStringLiteral("pauseButton"));
    std::uint64_t entriesAtEnd = 0;
    QEventLoop loop;
    QTimer watch;
    LoopMonitor monitor;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        recording.bus.clearTraffic();
        if (entriesAtEnd == 0 && recording.telemetry->trace().lastTimeS() >= kRecordingS) {
            pause->click();
            entriesAtEnd = store.nextSequence();
            // The window's next ticks bring the last entries into its table.
            QTimer::singleShot(3 * kLogRefreshMs, &loop, &QEventLoop::quit);
        }
    });
    watch.start(5);
    const auto recordStart = Steady::now();
    QTimer::singleShot(kRecordingGiveUpMs, &loop, &QEventLoop::quit);
    monitor.start();
    loop.exec();
    monitor.stop();
    const double recordWallS = std::chrono::duration<double>(Steady::now() - recordStart).count();
    const double recordedS = recording.telemetry->trace().lastTimeS();
    recording.bus.clearTraffic();
    const double residentAfter = residentMb();
    const double growthMb = residentAfter - residentBefore;
    const std::uint64_t logged = entriesAtEnd > 0 ? entriesAtEnd - entriesBefore : 0;

    // A second window opened on the full log: it catches up step by step.
    LoopMonitor opening;
    const auto openStart = Steady::now();
    opening.start();
    application.reset();
    double openingMs = 0.0;
    double openLongestMs = 0.0;
    std::size_t openedRows = 0;
    {
        gui::BusLogWindow second(recording.app);
        second.show();
        QEventLoop caughtUp;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!second.behind()) {
                caughtUp.quit();
            }
        });
        poll.start(1);
        QTimer::singleShot(kRecordingGiveUpMs, &caughtUp, &QEventLoop::quit);
        caughtUp.exec();
        opening.stop();
        openLongestMs = application.longestMs();
        openingMs = std::chrono::duration<double, std::milli>(Steady::now() - openStart).count();
        openedRows = second.model().kept();
    }

    std::printf("%-44s %8d reads, %d rows in the log window\n", "real time: samples in 20 s", reads,
                rows);
    std::printf("%-44s %8.1f ms (<= %.0f ms): %s\n", "real time: GUI thread's longest block",
                blockMs, kBlockTargetMs, verdict(blockMs <= kBlockTargetMs));
    std::printf("%-44s %8.1f ms; load average %.1f\n", "  most CPU the GUI thread used in one gap",
                busiestMs, loadAverage());
    // One gap over the target among thousands is a stall of the machine as often as the
    // program's: how many there were tells the two apart over several runs.
    std::printf("%-44s %8ld of %ld\n", "  gaps over the target", gapsOver, gaps);
    std::printf("%-44s %8.1f ms CPU; %.1f ms CPU per second\n",
                "  the log window's own longest event", logLongestMs,
                logTotalMs * 1000.0 / kBlockPhaseMs);
    std::printf("%-44s %8.1f s of samples in %.1f s, %llu entries logged\n",
                "virtual time: recording", recordedS, recordWallS,
                static_cast<unsigned long long>(logged));
    std::printf("%-44s %8zu of %zu kept; %d rows in the window\n", "virtual time: the log",
                store.size(), store.capacity(), log->model().rowCount());
    std::printf("%-44s %8.1f MB (%.1f to %.1f; <= %.0f MB): %s\n", "virtual time: memory growth",
                growthMb, residentBefore, residentAfter, kMemoryTargetMb,
                verdict(growthMb <= kMemoryTargetMb));
    std::printf("%-44s %8.1f ms (for reference)\n", "virtual time: GUI thread's longest block",
                monitor.longestMs());
    std::printf("%-44s %8.1f ms (<= %.0f ms): %s; %zu entries in %.0f ms\n",
                "a window opened on the full log: block", opening.longestMs(), kBlockTargetMs,
                verdict(opening.longestMs() <= kBlockTargetMs), openedRows, openingMs);
    std::printf("%-44s %8.1f ms\n", "  most CPU the GUI thread used in one gap",
                opening.busiestMs());
    std::printf("%-44s %8.1f ms CPU\n", "  the log window's own longest event", openLongestMs);
    std::printf("%-44s %8zu bytes + its bytes\n", "one entry kept",
                PackedLogEntries::recordBytes());
    const bool ran = reads > 0 && recordedS >= kRecordingS;
    const bool met = blockMs <= kBlockTargetMs && growthMb <= kMemoryTargetMb &&
                     opening.longestMs() <= kBlockTargetMs;
    std::printf("targets: %s\n", met ? "all met" : "some MISSED");
    return ran && met ? 0 : 1;
}

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::run(argc, argv);
}
