// movantrix-manager-sim [BUSFILE]: the desktop program over the simulated bus in real time,
// the built-in bus or the one BUSFILE describes. The simulated bus is the only adapter.
#include <QApplication>
#include <iostream>
#include <string>

#include "drivers/Clock.h"
#include "gui/app/Program.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace {

constexpr const char* kUsage =
    "Usage: movantrix-manager-sim [--bus-log FILE] [BUSFILE]\n"
    "The desktop program over a simulated bus of virtual devices, in real time.\n"
    "\n"
    "  BUSFILE         a bus description (JSON) instead of the built-in bus\n"
    "  --bus-log FILE  write the bus log (every packet both ways, decoded) to FILE\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    const mvx::gui::CommandLine line = mvx::gui::parseCommandLine(argc, argv);
    if (const int status = mvx::gui::answerCommandLine(line, "movantrix-manager-sim", kUsage);
        status >= 0) {
        return status;
    }
    // The log file is refused before anything starts; the log runs from start-up on.
    mvx::SystemClock clock;
    mvx::gui::BusLogFile busLog;
    if (!mvx::gui::openBusLog(line, "movantrix-manager-sim", clock, busLog)) {
        return 2;
    }
    mvx::BusDescription description = mvx::SimulatedBus::defaultBus();
    std::string error;
    if (!line.argument.empty() &&
        !mvx::SimulatedBus::loadDescription(line.argument, description, error)) {
        std::cerr << "movantrix-manager-sim: " << error << "\n";
        return 2;
    }
    if (!mvx::gui::displayAvailable()) {
        return mvx::gui::reportNoDisplay(
            "movantrix-manager-sim", "for a headless search run: movantrix-cli --port sim scan");
    }

    mvx::SimulatedBus bus(description, clock);
    mvx::SimDriver driver(bus);
    QApplication application(argc, argv);
    // Ties the windows to the installed desktop entry (its name and icon, on Wayland too).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.movantrix.Manager.Sim"));
    return mvx::gui::runManager(driver, clock, busLog.log.get());
}
