// --trace FILE: the bus log of the run as text, to FILE or (with "-") to stderr. The log is
// made over the clock of the first session's port and every session of the run gets it.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "buslog/BusLog.h"
#include "drivers/AppendFile.h"
#include "drivers/Clock.h"

namespace mvx::cli {

class Trace {
public:
    // Opens `target` ("-": `err`): false with the reason printed on `err`.
    bool start(const std::string& target, std::ostream& err);
    // The tap for a session on `clock`, or null when no trace was asked for.
    LinkTap* tapFor(Clock& clock);
    // After the command: false when the trace could not be written whole (reason printed).
    bool finish(std::ostream& err);

private:
    std::string target_;
    std::ostream* err_ = nullptr;
    std::unique_ptr<AppendFile> file_;
    std::unique_ptr<BusLog> log_;
};

}  // namespace mvx::cli
