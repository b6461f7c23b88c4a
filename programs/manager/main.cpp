// movantrix-manager [PORT]: the desktop program on real adapters. Without PORT it offers the
// machine's adapter list (USB adapters and serial ports); with PORT, a serial device path, it
// uses exactly that port.
#include <QApplication>
#include <iostream>
#include <memory>
#include <string>

#include "drivers/AdapterList.h"
#include "drivers/Clock.h"
#include "drivers/SerialPort.h"
#include "gui/app/Program.h"

namespace {

constexpr const char* kUsage =
    "Usage: movantrix-manager [--bus-log FILE] [PORT]\n"
    "Finds, drives and configures Movantrix devices through a USB2Movantrix adapter.\n"
    "\n"
    "  PORT            a serial device to use instead of the adapter list, e.g. /dev/ttyUSB0,\n"
    "                  a /dev/serial/by-id/... link or a pseudo-terminal\n"
    "  --bus-log FILE  write the bus log (every packet both ways, decoded) to FILE\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
    const mvx::gui::CommandLine line = mvx::gui::parseCommandLine(argc, argv);
    if (const int status = mvx::gui::answerCommandLine(line, "movantrix-manager", kUsage);
        status >= 0) {
        return status;
    }
    // The log file is refused before anything starts; the log runs from start-up on.
    mvx::SystemClock clock;
    mvx::gui::BusLogFile busLog;
    if (!mvx::gui::openBusLog(line, "movantrix-manager", clock, busLog)) {
        return 2;
    }
    // Refused before anything starts, as movantrix-cli --port does: /dev/null or a regular
    // file would open as a port and only fail later as an adapter that cannot be accessed.
    if (!line.argument.empty()) {
        if (const std::string problem = mvx::serialDeviceProblem(line.argument); !problem.empty()) {
            std::cerr << "movantrix-manager: " << problem << "\n";
            return 2;
        }
    }
    if (!mvx::gui::displayAvailable()) {
        return mvx::gui::reportNoDisplay("movantrix-manager", "movantrix-cli works without one");
    }

    std::unique_ptr<mvx::FtDriver> driver;
    if (line.argument.empty()) {
        driver = mvx::makeSystemAdapterList(&clock);
    } else {
        driver = std::make_unique<mvx::SerialPortDriver>(line.argument);
    }
    QApplication application(argc, argv);
    // Ties the windows to the installed desktop entry (its name and icon, on Wayland too).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.movantrix.Manager"));
    return mvx::gui::runManager(*driver, clock, busLog.log.get());
}
