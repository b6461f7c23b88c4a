// The application object: lives for the whole run and owns the one bus connection with its
// device registry, the bus executor that alone uses them, the busBusy count, and the GUI
// thread's copies of what the bus side knows (whether an adapter is open, the device list).
// Every window reaches the bus, the GUI operations and the main window's services through it.
//
// Who may touch what: the registry, its entries and records and the bus connection belong to
// the executor's thread; the GUI reaches them only inside jobs (jobs()). Exceptions: the
// registry's search progress atomics, stopSearch() and its locked snapshot() while a search runs,
// and the firmware download's progress. Everything else here is the GUI thread's, except
// busBusy, which the executor reads.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "buslog/BusLog.h"
#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "gui/app/BusJobs.h"
#include "gui/app/GuiOperations.h"
#include "protocol/BusExecutor.h"

namespace mvx::gui {

enum class Command {
    Open,
    Close,
    Search,
    Exit,
    FirmwareUpdate,
    About,
    Telemetry,
    SaveSettings,
    LoadSettings,
    SetUpActuators,
    SaveRobotProfile,
    CheckRobot,
    BusLog,
};

// What the main window offers the dialogs, the sheet and the pages.
class Shell {
public:
    virtual ~Shell() = default;
    // Runs `command` if its enabling rule allows it now; otherwise does nothing.
    virtual void runCommand(Command command) = 0;
    // The common reaction to a failed bus operation of the sheet's device; true when it
    // reacted (a message, then the Close command or a refresh of the device list, which are
    // jobs of their own and follow).
    virtual bool reportBusFailure(int result) = 0;
    // The same for an operation of the device at (code, id).
    virtual bool reportDeviceFailure(int result, int code, int id) = 0;
    // Rebuilds tree and sheet from the registry (a job: the devices are pinged first), keeping
    // (code, id) selected if it is listed.
    virtual void refreshDeviceList(int code, int id) = 0;
};

// Whether the common reaction to a failed bus operation reacts to `result` (101, 103, 104):
// then the operation stops there.
bool reportable(int result);

class ManagerApp {
public:
    // `busLog`: the log to attach to the bus connection (--bus-log's, with its file), which must
    // outlive the application; without one the application keeps its own (no file). Either
    // way the connection has a log from the start, so the Bus Log window shows the history.
    ManagerApp(FtDriver& driver, Clock& clock, GuiOperations& operations, BusLog* busLog = nullptr);
    // Stops a search under way, ends the executor (its job under way ends by its own timeouts,
    // what waits is dropped) and closes the adapter on its thread.
    ~ManagerApp();

    ManagerApp(const ManagerApp&) = delete;
    ManagerApp& operator=(const ManagerApp&) = delete;

    // The bus side: inside jobs only (see above).
    DeviceRegistry& registry() { return registry_; }
    BusExecutor& executor() { return executor_; }
    BusJobs& jobs() { return *jobs_; }

    GuiOperations& operations() { return operations_; }
    // The bus connection's log; its store may be read from any thread.
    const BusLog& busLog() const { return *busLog_; }
    Clock& clock() { return clock_; }

    Shell& shell() { return *shell_; }
    void setShell(Shell* shell) { shell_ = shell; }

    // The GUI thread's view of the bus, as the last jobs that changed it told.
    bool adapterOpen() const { return adapterOpen_; }
    void setAdapterOpen(bool open) { adapterOpen_ = open; }
    const std::vector<DeviceSummary>& devices() const { return devices_; }
    void setDevices(std::vector<DeviceSummary> devices) { devices_ = std::move(devices); }
    // Takes a fresh copy of one device (found by its address); a device not listed is left out.
    void updateDevice(const DeviceSummary& device);
    // Drops the device at (code, id) from the list (a job found it gone from the registry).
    void forgetDevice(int code, int id);
    // The listed device at (code, id), or null.
    const DeviceSummary* findDevice(int code, int id) const;
    // The IDs listed at `code`, in list order.
    std::vector<int> idsAt(int code) const;

    // How many foreground operations, page writes and modal dialogs own the bus now (through
    // BusBusyScope and BusJobs::RaiseBusy); above 0 the Operation page's status poll is skipped
    // and the telemetry sampling yields. A count, because the scopes nest: a failure report's
    // Close runs inside the firmware wizard's scope, and the wizard still owns the bus after
    // it. Raised and lowered on the GUI thread (a dropped job's on whichever thread drops it);
    // atomic because the executor reads it.
    std::atomic<int> busBusy{0};

private:
    Clock& clock_;
    GuiOperations& operations_;
    // Before the registry: every link the connection opens keeps a pointer to the log.
    std::unique_ptr<BusLog> ownBusLog_;
    BusLog* busLog_;
    DeviceRegistry registry_;
    BusExecutor executor_;
    std::unique_ptr<BusJobs> jobs_;
    Shell* shell_ = nullptr;
    bool adapterOpen_ = false;
    std::vector<DeviceSummary> devices_;
};

// Holds the bus for its lifetime: busBusy counts it from construction to destruction, so the
// bus stays busy until the outermost scope ends.
class BusBusyScope {
public:
    explicit BusBusyScope(ManagerApp& app) : app_(app) { ++app_.busBusy; }
    ~BusBusyScope() { --app_.busBusy; }
    BusBusyScope(const BusBusyScope&) = delete;
    BusBusyScope& operator=(const BusBusyScope&) = delete;

private:
    ManagerApp& app_;
};

}  // namespace mvx::gui
