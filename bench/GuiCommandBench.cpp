// The desktop program's commands on the default simulated bus in real time, as the user gives
// them, each at a device at code 1 (1000000 bps) and at code 207 (9615 bps): how long the GUI
// thread does not serve its events while the command runs, and how long the command takes
// from the click to its last result shown.
//
// Run it where windows can be made:
//   xvfb-run -a build/default/bench/gui_command_bench          (real X windows)
//   QT_QPA_PLATFORM=offscreen build/default/bench/gui_command_bench
//
// Every command runs in a fresh program over a fresh bus (so each finds the devices as
// built), three times; the table shows the median of each figure:
//   block    a 1 ms Qt::PreciseTimer on the GUI thread; the longest gap between two of its
//            ticks while the command runs, less the period. Target: <= 16 ms (one frame).
//   time     the click (or the menu command) to the moment its last result is on screen.
//            Target: no more than 5 ms above the baseline (below), which is the same command
//            measured before the bus got its one owner.
//   floor    what the devices' side of the command takes: the wire time of every byte it
//            put on the bus and got back, plus 100 ms for every rate change and every write
//            followed by a settling wait. Printed for reference.
// The periodic work (the Operation page's 250 ms poll, the telemetry window) runs for 5 s and
// shows the longest block and the share of the time the GUI thread was blocked (gaps over
// 2 ms). Telemetry at 100 Hz on a device at code 1 beside the Operation page polling one at
// code 34 runs 10 s: at least 95 % of the asked rate, and the poll keeps its 250 ms.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GuiBenchSetup.h"
#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "device/SettingsFile.h"
#include "device/SettingsTransfer.h"
#include "drivers/Clock.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "gui/dialogs/SearchDialog.h"
#include "gui/dialogs/SettingsDifferencesDialog.h"
#include "gui/sheet/DeviceSheet.h"
#include "gui/telemetry/TelemetryTrace.h"
#include "gui/telemetry/TelemetryWindow.h"
#include "gui/telemetry/TelemetryWindows.h"
#include "gui/tree/DeviceTree.h"
#include "gui/wizard/FirmwareWizard.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "sim/FirmwareFileWriter.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {
namespace {

using Steady = std::chrono::steady_clock;
using TimePoint = Steady::time_point;

constexpr int kRuns = 3;
constexpr int kGiveUpMs = 120000;
constexpr double kBlockTargetMs = 16.0;
constexpr double kSlowerByAtMostMs = 5.0;
constexpr int kPeriodicMs = 5000;
constexpr int kBesideMs = 10000;
constexpr double kSettleMs = 100.0;

double msBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Ticks every 1 ms on the GUI thread and keeps the longest gap and the blocked time.
class LoopMonitor {
public:
    LoopMonitor() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        longestMs_ = 0.0;
        blockedMs_ = 0.0;
        last_ = Steady::now();
        timer_.start();
    }
    void stop() {
        timer_.stop();
        tick();
    }
    double longestMs() const { return longestMs_; }
    // Gaps over 2 ms, summed.
    double blockedMs() const { return blockedMs_; }

private:
    void tick() {
        const TimePoint now = Steady::now();
        const double gap = std::max(0.0, msBetween(last_, now) - 1.0);
        longestMs_ = std::max(longestMs_, gap);
        if (gap > 2.0) {
            blockedMs_ += gap;
        }
        last_ = now;
    }

    QTimer timer_;
    TimePoint last_;
    double longestMs_ = 0.0;
    double blockedMs_ = 0.0;
};

// Runs the event loop for `ms` of real time.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Message boxes answered OK, the file dialogs answered from their fields, the differences
// dialog accepted with the network settings ticked, the wizard driven to its end; the real
// timers.
class BenchOperations final : public gui::GuiOperations {
public:
    Answer message(QWidget*, const QString& text, bool) override {
        messages.push_back(text);
        return Answer::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return openPath; }
    QString saveFileName(QWidget*, const QString&, const QString&) override { return savePath; }
    std::unique_ptr<gui::RepeatingTimer> startTimer(QObject* owner, int periodMs,
                                                    std::function<void()> tick) override {
        return qt_.startTimer(owner, periodMs, std::move(tick));
    }
    int runDialog(QDialog& dialog) override {
        if (auto* differences = qobject_cast<gui::SettingsDifferencesDialog*>(&dialog)) {
            differences->findChild<QCheckBox*>(QStringLiteral("networkCheck"))->setChecked(true);
            return QDialog::Accepted;
        }
        if (dialogDriver) {
            return dialogDriver(dialog);
        }
        return QDialog::Rejected;
    }

    QString openPath;
    QString savePath;
    QStringList messages;
    std::function<int(QDialog&)> dialogDriver;

private:
    gui::QtGuiOperations qt_;
};

// The program over the default simulated bus in real time, its devices registered as a
// search leaves them, the main window shown with the first device selected.
struct Program {
    Program() : bus(SimulatedBus::defaultBus(), clock), driver(bus), app(driver, clock, ops) {
        window = std::make_unique<gui::MainWindow>(app);
        ok = setUpBus();
        window->show();
        runFor(100);
    }
    ~Program() { window.reset(); }

    bool setUpBus();
    // Whether every command given so far has shown its last result.
    bool done();

    gui::DeviceSheet& sheet() { return window->view().sheet(); }
    gui::DeviceTree& tree() { return window->view().tree(); }
    QWidget* page() { return sheet().currentWidget(); }
    template <typename T>
    T* control(const char* name) {
        return page()->findChild<T*>(QString::fromLatin1(name));
    }
    void clickTab(const QString& title) {
        // As a click on the tab does.
        for (int i = 0; i < sheet().count(); ++i) {
            if (sheet().tabText(i) == title) {
                sheet().setCurrentIndex(i);
            }
        }
    }
    void clickDevice(int code, int id) {
        for (int g = 0; g < tree().topLevelItemCount(); ++g) {
            QTreeWidgetItem* group = tree().topLevelItem(g);
            if (group->text(0) != QStringLiteral("Baudrate %1").arg(code)) {
                continue;
            }
            for (int d = 0; d < group->childCount(); ++d) {
                if (group->child(d)->text(0) == QStringLiteral("ID %1").arg(id)) {
                    tree().setCurrentItem(group->child(d));  // as a click on it does
                }
            }
        }
    }
    // Selects (code, id) with `tab` active and waits until its page has loaded.
    void show(int code, int id, const QString& tab) {
        clickDevice(code, id);
        waitDone();
        clickTab(tab);
        waitDone();
    }
    void waitDone() {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (done()) {
                loop.quit();
            }
        });
        check.start(1);
        QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
        if (!done()) {
            loop.exec();
        }
    }

    SystemClock clock;
    SimulatedBus bus;
    SimDriver driver;
    BenchOperations ops;
    gui::ManagerApp app;
    std::unique_ptr<gui::MainWindow> window;
    bool ok = false;
};

bool Program::setUpBus() {
    std::vector<std::pair<int, int>> addresses;
    for (const SimDeviceSpec& spec : SimulatedBus::defaultBus().devices) {
        addresses.emplace_back(spec.code, spec.id);
    }
    return registerDevices(app, *window, addresses, -1, -1);
}

bool Program::done() {
    // Every job the command gave has shown its result.
    return app.jobs().inFlight() == 0;
}

// Writes a settings file of the device at (code, id) as it is now.
bool saveSettingsOf(Program& program, int code, int id, const std::string& path) {
    DeviceRegistry& registry = program.app.registry();
    DeviceSettings settings;
    bool read = false;
    program.app.executor().submit([&] {
        DeviceEntry* entry = registry.find(code, id);
        read =
            entry != nullptr && readDeviceSettings(*entry, "2026-01-01T00:00:00Z", settings) == 100;
    });
    program.app.executor().runUntilIdle();
    std::string error;
    return read && writeFileAtomically(path, settingsJsonText(settings), error);
}

struct Figures {
    double blockMs = 0.0;
    double timeMs = 0.0;
    double floorMs = 0.0;
    bool ok = false;
};

// What the devices' side of the traffic since `from` takes (see the head of the file).
double floorMs(const SimulatedBus& bus, std::uint32_t rateBefore) {
    double wireUs = 0.0;
    int waits = 0;
    std::uint32_t rate = rateBefore;
    for (const SimTraffic& t : bus.traffic()) {
        wireUs += static_cast<double>(t.endUs - t.startUs);
        if (t.direction != SimTraffic::HostToBus) {
            continue;
        }
        if (t.rateBps != rate) {
            ++waits;
            rate = t.rateBps;
        }
        const bool packet = t.bytes.size() >= 7 && t.bytes[0] == 0xFF && t.bytes[1] == 0xFF;
        if (packet && t.bytes[4] == Write && t.bytes[5] < 24 && t.bytes[2] != kBroadcastId) {
            ++waits;
        }
    }
    return wireUs / 1000.0 + kSettleMs * waits;
}

std::uint32_t lastHostRate(const SimulatedBus& bus) {
    std::uint32_t rate = 0;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus) {
            rate = t.rateBps;
        }
    }
    return rate;
}

// Gives the command (`act`, from inside the event loop) and runs the loop until its last
// result is on screen, with the monitor ticking.
Figures measure(Program& program, const std::function<void()>& act) {
    LoopMonitor monitor;
    const std::uint32_t rateBefore = lastHostRate(program.bus);
    program.bus.clearTraffic();
    monitor.start();
    runFor(20);
    Figures figures;
    TimePoint start;
    TimePoint end;
    bool given = false;
    QEventLoop loop;
    auto check = [&] {
        if (given && end == TimePoint{} && program.done()) {
            end = Steady::now();
            loop.quit();
        }
    };
    QTimer checker;
    checker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&checker, &QTimer::timeout, check);
    QTimer::singleShot(0, [&] {
        start = Steady::now();
        act();
        given = true;
        check();
    });
    checker.start(1);
    QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
    loop.exec();
    monitor.stop();
    figures.ok = end != TimePoint{};
    figures.timeMs = figures.ok ? msBetween(start, end) : 0.0;
    figures.blockMs = monitor.longestMs();
    figures.floorMs = floorMs(program.bus, rateBefore);
    return figures;
}

// The device of each column.
struct Device {
    int code;
    int id;
    int otherCode;  // a device at another code, for the selection row
    int otherId;
    int newCode;  // the baud-rate change's target
};
constexpr Device kDevices[2] = {{1, 1, 207, 21, 3}, {207, 21, 1, 1, 103}};

// One command, set up in a fresh program and given there.
struct Command {
    const char* name;
    bool both;     // at both codes; else at code 1 only
    int messages;  // message boxes the command shows (answered OK)
    // Sets the program up; false when that failed.
    std::function<bool(Program&, const Device&, QTemporaryDir&)> setUp;
    std::function<void(Program&, const Device&)> act;
};

void setConfigureValues(Program& p) {
    p.control<QSlider>("cwSlider")->setValue(100);
    p.control<QSlider>("ccwSlider")->setValue(900);
    p.control<QSlider>("torqueSlider")->setValue(700);
    p.control<QSlider>("voltageHighSlider")->setValue(150);
    p.control<QSlider>("voltageLowSlider")->setValue(70);
    p.control<QSlider>("temperatureSlider")->setValue(60);
    for (QCheckBox* box : p.page()->findChildren<QCheckBox*>()) {
        box->click();
    }
}

// Moves every setting of the device away from its defaults (directly in the simulated device).
void unsetDefaults(Program& p, const Device& d) {
    SimulatedDevice* device = p.bus.find(d.code, d.id);
    device->setReg16(6, 0);
    device->setReg16(8, 0);
    device->setReg16(14, 500);
    device->setReg(17, 0);
    device->setReg(18, 0);
    device->setReg(11, 50);
    device->setReg(12, 70);
    device->setReg(13, 150);
}

// Changes every setting a settings file holds (directly in the simulated device).
void changeSettings(Program& p, const Device& d) {
    unsetDefaults(p, d);
    SimulatedDevice* device = p.bus.find(d.code, d.id);
    device->setReg(5, 100);
    device->setReg(26, 5);
    device->setReg(27, 6);
    device->setReg(28, 64);
    device->setReg(29, 64);
    device->setReg16(34, 600);
    device->setReg16(48, 100);
}

// Pokes a modal dialog every 2 ms from its own loop with `step`, which returns true once it has
// ended the dialog; the dialog is rejected after the give-up time.
int drive(QDialog& dialog, std::function<bool()> step) {
    QTimer poke;
    QObject::connect(&poke, &QTimer::timeout, &dialog, [&] {
        if (step()) {
            poke.stop();
        }
    });
    poke.start(2);
    QTimer::singleShot(kGiveUpMs, &dialog, &QDialog::reject);
    return dialog.exec();
}

QAbstractButton* button(QDialog& dialog, const char* name) {
    return dialog.findChild<QAbstractButton*>(QString::fromLatin1(name));
}

// Next through the steps, the file chosen on the way, Next once the download has ended, Finish.
int driveWizard(QDialog& dialog) {
    auto& wizard = static_cast<gui::FirmwareWizard&>(dialog);
    bool chosen = false;
    return drive(dialog, [&] {
        if (wizard.currentStep() == gui::FirmwareWizard::ChooseFile && !chosen) {
            chosen = true;
            button(dialog, "searchButton")->click();
        }
        if (button(dialog, "finishButton")->isEnabled()) {
            button(dialog, "finishButton")->click();
            return true;
        }
        if (button(dialog, "nextButton")->isEnabled()) {
            button(dialog, "nextButton")->click();
        }
        return false;
    });
}

// "Fast" ticked, Search, OK once the search has ended.
int driveSearch(QDialog& dialog) {
    auto& search = static_cast<gui::SearchDialog&>(dialog);
    bool started = false;
    return drive(dialog, [&] {
        if (!started) {
            started = true;
            button(dialog, "fastOption")->setChecked(true);
            button(dialog, "searchButton")->click();
            return false;
        }
        if (search.searching() || !button(dialog, "okButton")->isEnabled()) {
            return false;
        }
        button(dialog, "okButton")->click();
        return true;
    });
}

std::vector<Command> commands() {
    auto onTab = [](const char* tab) {
        return [tab](Program& p, const Device& d, QTemporaryDir&) {
            p.show(d.code, d.id, QString::fromLatin1(tab));
            return p.page() != nullptr && p.sheet().tabText(p.sheet().currentIndex()) == tab;
        };
    };
    auto click = [](const char* name) {
        return [name](Program& p, const Device&) { p.control<QAbstractButton>(name)->click(); };
    };
    return {
        {"Configure: Apply with every setting changed", true, 0,
         [onTab](Program& p, const Device& d, QTemporaryDir& dir) {
             if (!onTab("Configure")(p, d, dir)) {
                 return false;
             }
             setConfigureValues(p);
             return true;
         },
         click("applyButton")},
        {"Configure: Set Default", true, 0,
         [onTab](Program& p, const Device& d, QTemporaryDir& dir) {
             unsetDefaults(p, d);
             return onTab("Configure")(p, d, dir);
         },
         click("defaultButton")},
        {"Load Settings: Apply (every setting)", true, 0,
         [onTab](Program& p, const Device& d, QTemporaryDir& dir) {
             const QString path = dir.filePath(QStringLiteral("settings.json"));
             if (!onTab("Network")(p, d, dir) ||
                 !saveSettingsOf(p, d.code, d.id, path.toStdString())) {
                 return false;
             }
             changeSettings(p, d);
             p.ops.openPath = path;
             return true;
         },
         [](Program& p, const Device&) { p.window->runCommand(gui::Command::LoadSettings); }},
        {"Network: change ID", true, 0, onTab("Network"),
         [](Program& p, const Device& d) {
             p.control<QComboBox>("idCombo")->setCurrentIndex(d.id + 30);
             p.control<QAbstractButton>("applyButton")->click();
         }},
        {"Network: change baud", true, 0, onTab("Network"),
         [](Program& p, const Device& d) {
             auto* list = p.control<QComboBox>("baudCombo");
             list->setCurrentIndex(
                 list->findText(QString::number(d.newCode) + " (", Qt::MatchStartsWith));
             p.control<QAbstractButton>("applyButton")->click();
         }},
        {"Network: return level to 0", true, 1, onTab("Network"),
         [](Program& p, const Device&) {
             p.control<QComboBox>("levelCombo")->setCurrentIndex(0);
             p.control<QAbstractButton>("applyButton")->click();
         }},
        {"selecting a device at another code", true, 0,
         [](Program& p, const Device& d, QTemporaryDir&) {
             p.show(d.otherCode, d.otherId, QStringLiteral("Operation"));
             return p.sheet().currentBaud() == d.otherCode;
         },
         [](Program& p, const Device& d) { p.clickDevice(d.code, d.id); }},
        {"refresh after a search (built-in bus)", false, 0,
         [](Program&, const Device&, QTemporaryDir&) { return true; },
         [](Program& p, const Device&) { p.window->view().refreshDeviceList(-1, -1); }},
        {"firmware wizard: the whole update", true, 0,
         [](Program& p, const Device& d, QTemporaryDir& dir) {
             const int model = p.bus.find(d.code, d.id)->model();
             const QString path = dir.filePath(QStringLiteral("update.mvx"));
             std::string error;
             p.ops.openPath = path;
             p.ops.dialogDriver = driveWizard;
             return writeFirmwareFile(
                 path.toStdString(), static_cast<std::uint16_t>(model), 250,
                 makeSimFirmwareImage(static_cast<std::uint16_t>(model), 250, 4096), error);
         },
         [](Program& p, const Device&) { p.window->runCommand(gui::Command::FirmwareUpdate); }},
        {"search dialog: fast quick search, OK", false, 0,
         [](Program& p, const Device&, QTemporaryDir&) {
             p.ops.dialogDriver = driveSearch;
             return true;
         },
         [](Program& p, const Device&) { p.window->runCommand(gui::Command::Search); }},
    };
}

struct Periodic {
    double blockMs = 0.0;
    double blockedPercent = 0.0;  // of the wall time
    double telemetryHz = 0.0;     // reads per second the telemetry window took
    int polls = 0;                // status reads of the Operation page's device
    double pollMeanMs = 0.0;      // between two of them
    double pollLongestMs = 0.0;
};

// Status reads (26 bytes from register 24) to `id` at `code`'s rate, by their start times.
std::vector<std::int64_t> statusReads(const SimulatedBus& bus, int code, int id) {
    std::vector<std::int64_t> starts;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus && t.rateBps == rateOf(code) &&
            t.bytes.size() == 8 && t.bytes[2] == id && t.bytes[4] == Read && t.bytes[5] == 24 &&
            t.bytes[6] == 26) {
            starts.push_back(t.startUs);
        }
    }
    return starts;
}

// The Operation page on (pollCode, pollId) for `ms`, with a telemetry window on
// (telemetryCode, telemetryId) when that is not -1 (`rateIndex` of its choices, -1 its own).
Periodic runPeriodic(int pollCode, int pollId, int telemetryCode, int telemetryId, int rateIndex,
                     int ms) {
    Program p;
    Periodic figures;
    if (!p.ok) {
        return figures;
    }
    p.show(pollCode, pollId, QStringLiteral("Operation"));
    gui::TelemetryWindow* telemetry = nullptr;
    if (telemetryCode >= 0) {
        telemetry = p.window->telemetry().open(telemetryCode, telemetryId);
        if (telemetry == nullptr) {
            return figures;
        }
        if (rateIndex >= 0) {
            telemetry->findChild<QComboBox*>(QStringLiteral("rateCombo"))
                ->setCurrentIndex(rateIndex);
        }
    }
    runFor(1000);
    p.bus.clearTraffic();
    const int readsBefore = telemetry != nullptr ? telemetry->trace().readCount() : 0;
    LoopMonitor monitor;
    const TimePoint start = Steady::now();
    monitor.start();
    runFor(ms);
    monitor.stop();
    const double wallMs = msBetween(start, Steady::now());
    figures.blockMs = monitor.longestMs();
    figures.blockedPercent = 100.0 * monitor.blockedMs() / wallMs;
    if (telemetry != nullptr) {
        figures.telemetryHz = (telemetry->trace().readCount() - readsBefore) / (wallMs / 1000.0);
    }
    const std::vector<std::int64_t> polls = statusReads(p.bus, pollCode, pollId);
    figures.polls = static_cast<int>(polls.size());
    for (std::size_t i = 1; i < polls.size(); ++i) {
        figures.pollLongestMs =
            std::max(figures.pollLongestMs, static_cast<double>(polls[i] - polls[i - 1]) / 1000.0);
    }
    if (polls.size() > 1) {
        figures.pollMeanMs =
            static_cast<double>(polls.back() - polls.front()) / 1000.0 / (polls.size() - 1);
    }
    return figures;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct Row {
    std::string name;
    Figures at[2];
    bool measured[2] = {false, false};
};

int run(int argc, char** argv) {
    QApplication application(argc, argv);
    std::printf("gui_command_bench: platform %s, default simulated bus, real time, median of %d\n",
                qPrintable(QApplication::platformName()), kRuns);
    std::vector<Row> rows;
    bool allRan = true;
    for (const Command& command : commands()) {
        Row row;
        row.name = command.name;
        for (int column = 0; column < 2; ++column) {
            if (column == 1 && !command.both) {
                continue;
            }
            std::vector<double> blocks;
            std::vector<double> times;
            std::vector<double> floors;
            for (int runIndex = 0; runIndex < kRuns; ++runIndex) {
                QTemporaryDir dir;
                Program program;
                if (!program.ok || !command.setUp(program, kDevices[column], dir)) {
                    std::fprintf(stderr, "gui_command_bench: %s: set-up failed\n", command.name);
                    allRan = false;
                    break;
                }
                runFor(50);
                const Figures f = measure(program, [&] { command.act(program, kDevices[column]); });
                if (!f.ok || program.ops.messages.size() != command.messages) {
                    std::fprintf(stderr, "gui_command_bench: %s: did not end cleanly (%s)\n",
                                 command.name, qPrintable(program.ops.messages.join(" | ")));
                    allRan = false;
                }
                blocks.push_back(f.blockMs);
                times.push_back(f.timeMs);
                floors.push_back(f.floorMs);
            }
            row.at[column] = {median(blocks), median(times), median(floors), true};
            row.measured[column] = !blocks.empty();
        }
        rows.push_back(row);
        std::printf("%-46s", row.name.c_str());
        for (int column = 0; column < 2; ++column) {
            if (row.measured[column]) {
                std::printf("  code %3d: block %7.1f ms, time %7.1f ms, floor %7.1f ms",
                            kDevices[column].code, row.at[column].blockMs, row.at[column].timeMs,
                            row.at[column].floorMs);
            }
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    for (int column = 0; column < 2; ++column) {
        const Device& d = kDevices[column];
        const Periodic poll = runPeriodic(d.code, d.id, -1, -1, -1, kPeriodicMs);
        std::printf("%-46s  code %3d: block %7.1f ms, %5.1f %% of the time blocked, %d polls\n",
                    "Operation page polling every 250 ms", d.code, poll.blockMs,
                    poll.blockedPercent, poll.polls);
        const Periodic beside = runPeriodic(d.code, d.id, d.code, d.id, -1, kPeriodicMs);
        std::printf("%-46s  code %3d: block %7.1f ms, %5.1f %% of the time blocked, %.1f Hz\n",
                    "telemetry beside the Operation page's poll", d.code, beside.blockMs,
                    beside.blockedPercent, beside.telemetryHz);
    }
    constexpr int kRate100Hz = 4;
    const Periodic two = runPeriodic(34, 7, 1, 1, kRate100Hz, kBesideMs);
    std::printf(
        "telemetry at 100 Hz on code 1 beside the poll at code 34: %.1f Hz (%.1f %%), "
        "%d polls every %.1f ms (longest %.1f ms), block %.1f ms\n",
        two.telemetryHz, two.telemetryHz, two.polls, two.pollMeanMs, two.pollLongestMs,
        two.blockMs);
    return allRan ? 0 : 1;
}

}  // namespace
}  // namespace mvx::bench

int main(int argc, char** argv) {
    return mvx::bench::run(argc, argv);
}
