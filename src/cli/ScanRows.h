// What scan --fast prints while it searches: each device's table row as soon as the device is
// identified (the columns of a fixed width, so that a row can go out before the others are
// known), and at the end one line that says whether the search was sure.
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "device/DeviceRegistry.h"
#include "search/SearchEngine.h"

namespace mvx::cli {

class ScanRows final : public SearchObserver {
public:
    // Rows go to `out`; `err` is the stream of a progress bar drawn when `barShown`, whose
    // line is cleared before a row goes out.
    ScanRows(std::ostream& out, std::ostream& err, bool barShown);

    // On the search's thread: the row of `device`, flushed (the header before the first).
    void deviceFound(const DeviceSummary& device) override;
    void makingSure(int code, int ordinal, int total) override;

    // Whether any row went out.
    bool anyRow() const;
    // What the search is doing for the progress bar: "code 57 ID 3", or "making sure of code 57
    // (12 of 255)" while it listens out a silent code. With mutex() held.
    std::string detail(int code, int id) const;
    // Serialises the bar's drawing with the rows.
    std::mutex& mutex() const { return mutex_; }

private:
    std::ostream& out_;
    std::ostream& err_;
    bool barShown_;
    mutable std::mutex mutex_;
    bool headerOut_ = false;
    int sureCode_ = -1;
    int sureOrdinal_ = 0;
    int sureTotal_ = 0;
};

// The row of one device in the fixed columns, without a newline; kScanRowsHeader the header.
std::string scanRow(const DeviceSummary& device);
extern const char* const kScanRowsHeader;

// "1, 3-9, 16": ascending codes with runs written as ranges.
std::string codeRanges(const std::vector<int>& codes);

// The last line of scan --fast: "Sure: ..." or "Not sure: ...", with why (`stopped`: a stop,
// `quickLook`: the quick look).
std::string sureLine(bool sure, const std::vector<int>& unsureCodes, int codesSearched,
                     bool quickLook, bool stopped);

}  // namespace mvx::cli
