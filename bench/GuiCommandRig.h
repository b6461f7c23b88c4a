// The rig of gui_command_bench: the desktop program over the default simulated bus in real time
// with answered dialogs, a monitor of the GUI thread's event loop, and the measurement of one
// command (the longest block, the time to its last result, the devices' floor).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "GuiBenchSetup.h"
#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "device/SettingsFile.h"
#include "device/SettingsTransfer.h"
#include "drivers/Clock.h"
#include "drivers/RegularFile.h"
#include "gui/app/GuiOperations.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "gui/dialogs/SettingsDifferencesDialog.h"
#include "gui/sheet/DeviceSheet.h"
#include "gui/tree/DeviceTree.h"
#include "protocol/Packet.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx::bench {

using Steady = std::chrono::steady_clock;
using TimePoint = Steady::time_point;

inline constexpr int kGiveUpMs = 120000;
inline constexpr double kSettleMs = 100.0;

inline double msBetween(TimePoint from, TimePoint to) {
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
inline void runFor(int ms) {
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

inline bool Program::setUpBus() {
    std::vector<std::pair<int, int>> addresses;
    for (const SimDeviceSpec& device : SimulatedBus::defaultBus().devices) {
        addresses.emplace_back(device.code, device.id);
    }
    return registerDevices(app, *window, addresses, -1, -1);
}

inline bool Program::done() {
    // Every job the command gave has shown its result.
    return app.jobs().inFlight() == 0;
}

// Writes a settings file of the device at (code, id) as it is now.
inline bool saveSettingsOf(Program& program, int code, int id, const std::string& path) {
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
inline double floorMs(const SimulatedBus& bus, std::uint32_t rateBefore) {
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

inline std::uint32_t lastHostRate(const SimulatedBus& bus) {
    std::uint32_t rate = 0;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus) {
            rate = t.rateBps;
        }
    }
    return rate;
}

// Gives the command (`act`, from inside the event loop) and runs the loop until its last
// result is on screen: the moment the last job's result has run (BusJobs::idle), or at once
// when the command gave no job. With `watchLoop` the 1 ms monitor ticks meanwhile (the block);
// without it nothing else wakes the GUI thread, which is how the time is taken.
inline Figures measure(Program& program, const std::function<void()>& act, bool watchLoop) {
    LoopMonitor monitor;
    const std::uint32_t rateBefore = lastHostRate(program.bus);
    program.bus.clearTraffic();
    if (watchLoop) {
        monitor.start();
    }
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
    const QMetaObject::Connection idle =
        QObject::connect(&program.app.jobs(), &gui::BusJobs::idle, check);
    QTimer::singleShot(0, [&] {
        start = Steady::now();
        act();
        given = true;
        check();
    });
    QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(idle);
    if (watchLoop) {
        monitor.stop();
    }
    figures.ok = end != TimePoint{};
    figures.timeMs = figures.ok ? msBetween(start, end) : 0.0;
    figures.blockMs = monitor.longestMs();
    figures.floorMs = floorMs(program.bus, rateBefore);
    return figures;
}

}  // namespace mvx::bench
