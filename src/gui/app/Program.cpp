#include "gui/app/Program.h"

#include <QApplication>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "gui/app/MainWindow.h"
#include "gui/tree/DeviceIcons.h"

namespace mvx::gui {

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "--bus-log" || arg.rfind("--bus-log=", 0) == 0) {
            if (arg == "--bus-log" && i + 1 >= argc) {
                line.error = "--bus-log needs a file";
            } else {
                line.busLog = arg == "--bus-log" ? std::string(argv[++i])
                                                 : std::string(arg.substr(sizeof "--bus-log=" - 1));
                if (line.busLog.empty()) {
                    line.error = "--bus-log needs a file";
                }
            }
        } else if (arg == "--" && i + 1 < argc && line.argument.empty()) {
            line.argument = argv[++i];
        } else if (arg.size() > 1 && arg.front() == '-') {
            line.error = "unknown option: " + std::string(arg);
        } else if (!line.argument.empty()) {
            line.error = "only one argument is taken: " + std::string(arg);
        } else {
            line.argument = std::string(arg);
        }
    }
    return line;
}

int answerCommandLine(const CommandLine& line, const char* program, const char* usage) {
    if (!line.error.empty()) {
        std::cerr << program << ": " << line.error << "\n" << usage;
        return 2;
    }
    if (line.help) {
        std::cout << usage;
        return 0;
    }
    if (line.version) {
        std::cout << program << " " << MVX_VERSION << "\n";
        return 0;
    }
    return -1;
}

int reportNoDisplay(const char* program, const char* headless) {
    std::cerr << program << ": no display to show the window on (DISPLAY is not set); " << headless
              << "\n";
    return 1;
}

bool displayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

bool openBusLog(const CommandLine& line, const char* program, Clock& clock, BusLogFile& busLog) {
    if (line.busLog.empty()) {
        return true;
    }
    std::string error;
    busLog.file = AppendFile::create(line.busLog, error);
    if (!busLog.file) {
        std::cerr << program << ": --bus-log: " << error << "\n";
        return false;
    }
    busLog.log = std::make_unique<BusLog>(clock);
    AppendFile* file = busLog.file.get();
    busLog.log->setLineSink([file](const std::string& text) { file->append(text); });
    return true;
}

int runManager(FtDriver& driver, Clock& clock, BusLog* busLog) {
    QApplication::setWindowIcon(applicationIcon());
    QtGuiOperations operations;
    ManagerApp app(driver, clock, operations, busLog);
    MainWindow window(app);
    window.startUp();
    window.show();
    return QApplication::exec();
}

}  // namespace mvx::gui
