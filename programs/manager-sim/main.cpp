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
    "Usage: movantrix-manager-sim [BUSFILE]\n"
    "The desktop program over a simulated bus of virtual devices, in real time.\n"
    "\n"
    "  BUSFILE    a bus description (JSON) instead of the built-in bus\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    const mvx::gui::CommandLine line = mvx::gui::parseCommandLine(argc, argv);
    if (!line.error.empty()) {
        std::cerr << "movantrix-manager-sim: " << line.error << "\n" << kUsage;
        return 2;
    }
    if (line.help) {
        std::cout << kUsage;
        return 0;
    }
    if (line.version) {
        std::cout << "movantrix-manager-sim " << MVX_VERSION << "\n";
        return 0;
    }
    mvx::BusDescription description = mvx::SimulatedBus::defaultBus();
    std::string error;
    if (!line.argument.empty() &&
        !mvx::SimulatedBus::loadDescription(line.argument, description, error)) {
        std::cerr << "movantrix-manager-sim: " << error << "\n";
        return 2;
    }
    if (!mvx::gui::displayAvailable()) {
        std::cerr << "movantrix-manager-sim: no display to show the window on (DISPLAY is not "
                     "set); for a headless search run: movantrix-cli --port sim scan\n";
        return 1;
    }

    mvx::SystemClock clock;
    mvx::SimulatedBus bus(description, clock);
    mvx::SimDriver driver(bus);
    QApplication application(argc, argv);
    return mvx::gui::runManager(driver, clock);
}
