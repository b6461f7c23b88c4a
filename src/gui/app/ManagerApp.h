// The application object: lives for the whole run and owns the one bus connection with its
// device registry, and the busBusy count. Every window reaches the bus, the GUI operations and
// the main window's services through it.
#pragma once

#include <atomic>

#include "device/DeviceRegistry.h"
#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "gui/app/GuiOperations.h"

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
};

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

    // How many foreground operations and modal dialogs own the bus now (through BusBusyScope);
    // above 0 the Operation page's status poll and the telemetry windows' sampling stay off
    // the bus. A count, because the scopes nest: a failure report's Close runs inside the
    // firmware wizard's scope, and the wizard still owns the bus after it. Written on the GUI
    // thread; atomic because the sampling workers read it.
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
