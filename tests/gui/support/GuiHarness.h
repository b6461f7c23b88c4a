// The application over a simulated bus on a virtual clock, with scripted GUI operations: the
// one fixture of the GUI tests. Each test states only what differs.
//
//   GuiHarness h;                       // the built-in bus, one adapter
//   h.dialogs().push_back(searchAndOk);  // how the search dialog at start-up is answered
//   h.startUp();
//   QCOMPARE(h.treeTexts(), ...);
//   QTest::mouseClick(applyButton, Qt::LeftButton);
//   h.settle();                          // the click's bus jobs and their results are through
//
// The bus executor runs on the virtual clock; settle() runs it until idle and delivers the
// completions that come back, until no job is in flight. startUp, startSearched, clickDevice
// and clickTab settle by themselves. Every driver call is checked for the thread it comes
// from: one made on the GUI thread fails the test.
#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "gui/app/MainView.h"
#include "gui/app/MainWindow.h"
#include "gui/app/ManagerApp.h"
#include "gui/sheet/DeviceSheet.h"
#include "gui/tree/DeviceTree.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/ScriptedGuiOperations.h"
#include "support/SimRegistry.h"

namespace mvx::gui::test {

// Adapters as the port dialog sees them: any count (-1: the listing failed), descriptions
// (nullopt: unreadable), and indexes whose open fails. Every adapter that opens is the
// simulated bus.
class TestAdapters final : public FtDriver {
public:
    mvx::test::HookedDriver* target = nullptr;
    int count = 1;
    std::vector<std::optional<std::string>> descriptions;
    std::set<std::uint32_t> failingOpens;
    std::vector<std::uint32_t> opened;  // indexes opened, in order

    FtStatus listNumber(std::uint32_t* out) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;
};

class GuiHarness {
public:
    explicit GuiHarness(const BusDescription& description = SimulatedBus::defaultBus());
    ~GuiHarness();

    // Builds the main window and runs its start-up (port dialog, search dialog) with the
    // queued dialog handlers, then shows it.
    void startUp();
    // Runs the bus executor until idle and delivers the results of the jobs until none waits
    // (bounded; fails the test when they do not settle). Inside a dialog that a job's result
    // opened, that result itself still runs and does not count.
    void settle();
    // Runs `work` on the bus executor (where the registry and the bus may be touched) and waits
    // for it.
    void onBus(const std::function<void()>& work);
    // Runs a command of the main window as the menu does, then settles.
    void command(Command command);
    // Whether the bus connection really has an adapter open (asked on the executor).
    bool busOpen();

    ScriptedGuiOperations& ops() { return ops_; }
    std::deque<ScriptedGuiOperations::DialogHandler>& dialogs() { return ops_.dialogHandlers; }
    ManagerApp& app() { return *app_; }
    MainWindow& window() { return *window_; }
    DeviceTree& tree() { return window_->view().tree(); }
    DeviceSheet& sheet() { return window_->view().sheet(); }
    DeviceRegistry& registry() { return app_->registry(); }
    SimulatedBus& bus() { return *bus_; }
    SimDriver& driver() { return *simDriver_; }

    // Texts of the tree, a group as "Baudrate 1" and its devices indented: "  ID 3".
    static QStringList treeTexts(const DeviceTree& tree);
    QStringList treeTexts() const;
    QStringList tabTitles() const;
    QString countText() const;
    // Selects the device item (code, id) with a left click, as the user does.
    void clickDevice(int code, int id);
    // The click alone: what it puts on the bus and the results on their way stay where they
    // are (for a selection change while a job is in flight).
    void clickDeviceOnly(int code, int id);
    // Start-up with a quick search of the bus, ended with OK.
    void startSearched();
    // Clicks the sheet's tab with this title; the title of the active tab.
    void clickTab(const QString& title);
    QString activeTab() const;
    // What the host put on the wire since the traffic was last cleared, one entry per write.
    std::vector<SimTraffic> hostPackets() const;
    // Faults of a device that has gone silent.
    static SimFaults silent();

    // Dialog handler: a quick (or full) search run to its end, then OK.
    ScriptedGuiOperations::DialogHandler searchAndOk(bool full = false);
    // Dialog handler that runs `body` (which may use QVERIFY) and returns the dialog's result.
    static ScriptedGuiOperations::DialogHandler handler(std::function<void(QDialog&)> body);
    // Dialog handler: OK without a search.
    static int okWithoutSearch(QDialog& dialog);
    // Starts a search in the search dialog, waits for the search's result, then ticks the
    // timers once; false when the search did not end within the bound.
    bool runSearch(QDialog& dialog, bool full = false);
    // Clicks a dialog's button, then settles every harness alive (what the click put on the
    // bus is through).
    static void click(QDialog& dialog, const char* buttonName);
    // The click alone, for a test that holds the bus meanwhile (a gate).
    static void clickOnly(QDialog& dialog, const char* buttonName);

    VirtualClock clock;
    mvx::test::HookedDriver hooked;
    TestAdapters adapters;

private:
    // The harnesses alive, for click().
    static std::vector<GuiHarness*>& alive();

    std::unique_ptr<SimulatedBus> bus_;
    std::unique_ptr<SimDriver> simDriver_;
    ScriptedGuiOperations ops_;
    std::unique_ptr<ManagerApp> app_;
    std::unique_ptr<MainWindow> window_;
};

// The item of device (code, id) in `tree`, or null.
QTreeWidgetItem* deviceItem(const DeviceTree& tree, int code, int id);

}  // namespace mvx::gui::test
