#include "firmware/UpdateResultText.h"

#include <algorithm>

namespace mvx {

std::string UpdateOutcomeText(const UpdateList& updates, int k) {
    switch (updates.resultFlags[k]) {
        case UpdateSucceeded: {
            std::string text = "Success";
            if (const int leftAt = updates.leftAtCodes[k]; leftAt >= 0) {
                text += " (left at Baud:" + std::to_string(leftAt) + ")";
            }
            return text;
        }
        case UpdateNotReached:
            return "Not updated";
        case UpdateSkippedIdInUse:
            return "Skipped: ID in use at Baud:" + std::to_string(updates.idInUseAtCodes[k]);
        case UpdateSkippedModelChanged:
            return "Skipped: model changed";
        case UpdateFailedInLoader:
            return "Failed: may still be in its loader, power it off and on";
        default:
            return "Fail";
    }
}

UpdateTotals CountUpdateResults(const UpdateList& updates) {
    UpdateTotals totals;
    const int count = std::clamp(updates.count, 0, kUpdateListCapacity);
    for (int k = 0; k < count; ++k) {
        switch (updates.resultFlags[k]) {
            case UpdateSucceeded:
                ++totals.succeeded;
                break;
            case UpdateNotReached:
            case UpdateSkippedIdInUse:
            case UpdateSkippedModelChanged:
                ++totals.notUpdated;
                break;
            default:
                ++totals.failed;
                break;
        }
    }
    return totals;
}

std::string UpdateTotalsText(const UpdateTotals& totals) {
    std::string text = "Total Success=" + std::to_string(totals.succeeded) +
                       ", Fail=" + std::to_string(totals.failed);
    if (totals.notUpdated > 0) {
        text += ", Not updated=" + std::to_string(totals.notUpdated);
    }
    return text;
}

}  // namespace mvx
