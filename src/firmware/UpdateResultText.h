// The words that tell the user how the devices of the update list fared. The wizard's result
// step and `movantrix-cli flash` both put them behind each device's address and below the
// list, so the two tell the same story in the same words.
#pragma once

#include <string>

#include "firmware/UpdateList.h"

namespace mvx {

// How device k fared: "Success" (with " (left at Baud:N)" when its rate could not be
// restored), "Fail", "Not updated", or the reason it was left alone.
std::string UpdateOutcomeText(const UpdateList& updates, int k);

struct UpdateTotals {
    int succeeded = 0;
    int failed = 0;
    int notUpdated = 0;  // never tried: not reached or skipped
};

UpdateTotals CountUpdateResults(const UpdateList& updates);
// "Total Success=S, Fail=F", with ", Not updated=N" when N > 0.
std::string UpdateTotalsText(const UpdateTotals& totals);

}  // namespace mvx
