#include "cli/ScanRows.h"

#include <cstdio>

#include "device/ModelCatalogue.h"
#include "protocol/BaudRate.h"

namespace mvx::cli {

namespace {

// Right-aligned in `width` (wider values push the line on).
std::string right(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}
std::string left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

const char* const kScanRowsHeader =
    "CODE      BPS   ID  CLASS     NAME        MODEL  VERSION  LEVEL";

std::string scanRow(const DeviceSummary& d) {
    return right(std::to_string(d.baudCode), 4) + "  " +
           right(std::to_string(rateOf(d.baudCode)), 7) + "  " + right(std::to_string(d.id), 3) +
           "  " + left(classText(d.modelClass), 8) + "  " + left(displayName(d.modelNumber), 10) +
           "  " + right(std::to_string(d.modelNumber), 5) + "  " +
           right(std::to_string(d.firmwareVersion), 7) + "  " +
           right(std::to_string(d.returnLevel), 5);
}

std::string codeRanges(const std::vector<int>& codes) {
    std::string text;
    for (std::size_t i = 0; i < codes.size();) {
        std::size_t j = i;
        while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1) {
            ++j;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(codes[i]);
        if (j > i) {
            text += "-" + std::to_string(codes[j]);
        }
        i = j + 1;
    }
    return text;
}

std::string sureLine(bool sure, const std::vector<int>& unsureCodes, int codesSearched,
                     bool quickLook, bool stopped) {
    if (sure) {
        return "Sure: all " + std::to_string(codesSearched) +
               " codes were listened to for as long as devices may take to answer.";
    }
    std::string line = "Not sure: ";
    line += unsureCodes.size() == 1 ? "code " : "codes ";
    line += codeRanges(unsureCodes);
    line += unsureCodes.size() == 1 ? " was" : " were";
    line += " not made sure of";
    if (stopped) {
        line += " (the search was interrupted); devices there may have been missed.";
    } else if (quickLook) {
        line +=
            " (quick look); devices that answer late there were missed: search without "
            "--quick-look to be sure.";
    } else {
        line += "; devices there may have been missed.";
    }
    return line;
}

ScanRows::ScanRows(std::ostream& out, std::ostream& err, bool barShown)
    : out_(out), err_(err), barShown_(barShown) {}

void ScanRows::deviceFound(const DeviceSummary& device) {
    std::lock_guard lock(mutex_);
    if (barShown_) {
        err_ << "\r\033[K" << std::flush;  // the bar's line, redrawn below the row
    }
    if (!headerOut_) {
        out_ << kScanRowsHeader << '\n';
        headerOut_ = true;
    }
    std::string row = scanRow(device);
    row.erase(row.find_last_not_of(' ') + 1);
    out_ << row << std::endl;
    sureCode_ = -1;
}

void ScanRows::makingSure(int code, int ordinal, int total) {
    std::lock_guard lock(mutex_);
    sureCode_ = code;
    sureOrdinal_ = ordinal;
    sureTotal_ = total;
}

bool ScanRows::anyRow() const {
    std::lock_guard lock(mutex_);
    return headerOut_;
}

std::string ScanRows::detail(int code, int id) const {
    if (sureCode_ == code) {
        return "making sure of code " + std::to_string(code) + " (" + std::to_string(sureOrdinal_) +
               " of " + std::to_string(sureTotal_) + ")";
    }
    return "code " + std::to_string(code) + " ID " + std::to_string(id);
}

}  // namespace mvx::cli
