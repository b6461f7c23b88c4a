// What the two desktop programs share: their command line, the display check and the run of
// the application over a driver and a clock.
#pragma once

#include <memory>
#include <string>

#include "buslog/BusLog.h"
#include "drivers/AppendFile.h"
#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx::gui {

struct CommandLine {
    bool help = false;
    bool version = false;
    std::string argument;  // the one optional operand; empty when not given
    std::string busLog;    // --bus-log FILE; empty when not given
    std::string error;     // set when the command line is not understood
};

// [--help | -h | --version | --bus-log FILE | OPERAND]: at most one operand, no other options.
CommandLine parseCommandLine(int argc, char** argv);

// The bus log of --bus-log: the log and the file its lines go to, from start-up on.
struct BusLogFile {
    std::unique_ptr<AppendFile> file;
    std::unique_ptr<BusLog> log;
};
// Opens the file of `line.busLog` and builds the log over `clock` (nothing without
// --bus-log). False with "PROGRAM: --bus-log: PATH: reason" on stderr when the file cannot be
// written (the program then ends with status 2).
bool openBusLog(const CommandLine& line, const char* program, Clock& clock, BusLogFile& busLog);

// What both programs do before anything else: a refused command line (status 2, with the
// usage on stderr), --help and --version (status 0). Returns the exit status, or -1 to go on.
int answerCommandLine(const CommandLine& line, const char* program, const char* usage);

// Says in one line that there is no display, naming the headless way (status 1).
int reportNoDisplay(const char* program, const char* headless);

// True when Qt can reach a display: DISPLAY or WAYLAND_DISPLAY is set, or the platform plugin
// is chosen explicitly (QT_QPA_PLATFORM).
bool displayAvailable();

// Builds the application over `driver` and `clock`, runs the start-up (port dialog, search
// dialog), shows the main window and runs the event loop. A QApplication must exist. `busLog`,
// when given (--bus-log), is the bus connection's log, shown by the Bus Log window too; it
// outlives the application. Without one the application keeps a log of its own.
int runManager(FtDriver& driver, Clock& clock, BusLog* busLog = nullptr);

}  // namespace mvx::gui
