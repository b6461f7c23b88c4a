// The words of the assign flow: result lines, summary and exit status.
#include <algorithm>

#include "device/ModelCatalogue.h"
#include "robot/AssignFlow.h"
#include "robot/IdList.h"

namespace mvx {

namespace {

bool given(const AssignRow& row) {
    return row.state == AssignState::Checked && row.at == DeviceAddress{row.code, row.id};
}

}  // namespace

const char* assignStateWord(AssignState state) {
    switch (state) {
        case AssignState::Waiting:
            return "waiting";
        case AssignState::Found:
            return "found";
        case AssignState::Moved:
            return "moved";
        case AssignState::Restored:
            return "restored";
        case AssignState::Checked:
            return "checked";
        case AssignState::Skipped:
            return "skipped";
        case AssignState::Failed:
            return "failed";
    }
    return "";
}

std::string assignLine(const AssignRow& row) {
    std::string line = "ID " + std::to_string(row.id) + ": ";
    if (row.state == AssignState::Skipped) {
        return line + "skipped: " + row.reason;
    }
    if (!row.foundAt.valid()) {
        return line + (row.state == AssignState::Failed ? "failed: " + row.reason : "not done");
    }
    line += std::string(displayName(row.modelNumber)) + " v" + std::to_string(row.firmwareVersion) +
            " found at " + addressWords(row.foundAt);
    const DeviceAddress target{row.code, row.id};
    if (row.parkedAt.valid()) {
        line += " -> " + addressWords(row.parkedAt);
        if (row.at == target) {
            line += " -> " + addressWords(target);
        } else {
            line += " (waits there while new actuators come to " + addressWords(target) + ")";
        }
    } else if (row.state != AssignState::Found && row.foundAt != target) {
        line += " -> " + addressWords(row.at.valid() ? row.at : target);
    } else if (row.foundAt == target && row.state != AssignState::Found) {
        line += " (its address already)";
    }
    if (row.settingsRestored) {
        line += row.settingsWritten > 0 ? ", settings restored" : ", settings as in the file";
    }
    switch (row.state) {
        case AssignState::Checked:
            return line + ", checked";
        case AssignState::Failed:
            return line + ", failed: " + row.reason;
        default:
            return line;
    }
}

int AssignReport::given() const {
    return static_cast<int>(std::count_if(rows.begin(), rows.end(), mvx::given));
}

int AssignReport::exitStatus() const {
    const auto done = std::count_if(rows.begin(), rows.end(), [](const AssignRow& row) {
        return mvx::given(row) || row.already;
    });
    return !refused && done == static_cast<long>(rows.size()) ? 0 : 1;
}

std::string AssignReport::summary() const {
    if (refused) {
        return "Nothing done: " + failure;
    }
    std::vector<int> done;
    std::vector<int> already;
    std::vector<int> skipped;
    std::vector<int> failed;
    std::vector<int> open;
    std::string waiting;  // where the actuators that wait for their address are
    for (const AssignRow& row : rows) {
        if (row.parkedAt.valid() && row.at == row.parkedAt) {
            waiting += (waiting.empty() ? "" : ", ") + std::string("ID ") + std::to_string(row.id) +
                       " waits at " + addressWords(row.parkedAt);
        }
        if (mvx::given(row)) {
            done.push_back(row.id);
        } else if (row.already) {
            already.push_back(row.id);
        } else if (row.state == AssignState::Skipped) {
            skipped.push_back(row.id);
        } else if (row.state == AssignState::Failed) {
            failed.push_back(row.id);
        } else {
            open.push_back(row.id);
        }
    }
    std::string text = std::to_string(done.size()) + " of " + std::to_string(rows.size()) +
                       (rows.size() == 1 ? " ID given" : " IDs given");
    if (!done.empty()) {
        text += " (" + numberListText(done) + ")";
    }
    if (!already.empty()) {
        text += "; already there: " + numberListText(already);
    }
    if (!skipped.empty()) {
        text += "; skipped: " + numberListText(skipped);
    }
    if (!failed.empty()) {
        text += "; failed: " + numberListText(failed);
    }
    if (!open.empty()) {
        text += "; not done: " + numberListText(open);
    }
    if (stopped) {
        text += "; stopped";
    }
    if (!waiting.empty()) {
        text += "; " + waiting + " (a rerun with the same IDs goes on from there)";
    }
    if (!failure.empty()) {
        text += "; " + failure;
    }
    return text;
}

}  // namespace mvx
