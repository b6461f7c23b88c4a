// The application object: lives for the whole run and owns the one bus connection with its
// device registry, and the busBusy flag. Every window reaches the bus, the GUI operations and
// the main window's services through it.
#pragma once

#include <atomic>

#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "gui/app/GuiOperations.h"

namespace mvx::gui {

enum class Command { Open, Close, Search, Exit, FirmwareUpdate, About, Telemetry };

// What the main window offers the dialogs, the sheet and the pages.
class Shell {
public:
    virtual ~Shell() = default;
    // Runs `command` if its enabling rule allows it now; otherwise does nothing.
    virtual void runCommand(Command command) = 0;
    // The common reaction to a failed bus operation; true when it reacted.
    virtual bool reportBusFailure(int result) = 0;
    // Rebuilds tree and sheet from the registry, keeping (code, id) selected if it is listed.
    virtual void refreshDeviceList(int code, int id) = 0;
};

class ManagerApp {
public:
    ManagerApp(FtDriver& driver, Clock& clock, GuiOperations& operations);

    ManagerApp(const ManagerApp&) = delete;
    ManagerApp& operator=(const ManagerApp&) = delete;

    DeviceRegistry& registry() { return registry_; }
    BusConnection& bus() { return registry_.bus(); }
    GuiOperations& operations() { return operations_; }
    Clock& clock() { return clock_; }

    Shell& shell() { return *shell_; }
    void setShell(Shell* shell) { shell_ = shell; }

    // 1 while a foreground operation or a modal dialog owns the bus; the Operation page's
    // status poll and the telemetry windows' sampling stay off the bus meanwhile. Set on the
    // GUI thread; the sampling workers read it. A flag, not a counter: every user sets it
    // before and clears it after.
    std::atomic<int> busBusy{0};
    // Set while the Operation page's status poll reads the device; commands consult it. GUI
    // thread only.
    bool pollInProgress = false;

private:
    Clock& clock_;
    GuiOperations& operations_;
    DeviceRegistry registry_;
    Shell* shell_ = nullptr;
};

// Sets busBusy for its lifetime and clears it at the end, whatever it was before.
class BusBusyScope {
public:
    explicit BusBusyScope(ManagerApp& app) : app_(app) { app_.busBusy = 1; }
    ~BusBusyScope() { app_.busBusy = 0; }
    BusBusyScope(const BusBusyScope&) = delete;
    BusBusyScope& operator=(const BusBusyScope&) = delete;

private:
    ManagerApp& app_;
};

}  // namespace mvx::gui
