#include "cli/Trace.h"

#include <cstring>

#include "cli/Messages.h"

namespace mvx::cli {

bool Trace::start(const std::string& target, std::ostream& err) {
    target_ = target;
    err_ = &err;
    if (target == "-") {
        return true;
    }
    std::string error;
    file_ = AppendFile::create(target, error);
    if (!file_) {
        printError(err, "--trace: " + error);
        return false;
    }
    return true;
}

LinkTap* Trace::tapFor(Clock& clock) {
    if (target_.empty()) {
        return nullptr;
    }
    if (!log_) {
        log_ = std::make_unique<BusLog>(clock);
        if (file_) {
            AppendFile* file = file_.get();
            log_->setLineSink([file](const std::string& line) { file->append(line); });
        } else {
            std::ostream* err = err_;
            log_->setLineSink([err](const std::string& line) { *err << line; });
        }
    }
    return log_.get();
}

bool Trace::finish(std::ostream& err) {
    if (file_ && file_->error() != 0) {
        printError(err, "--trace: " + target_ + ": " + std::strerror(file_->error()) +
                            "; the trace is incomplete");
        return false;
    }
    return true;
}

}  // namespace mvx::cli
