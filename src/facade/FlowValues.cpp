#include "facade/FlowValues.h"

#include <chrono>
#include <stdexcept>

#include "device/ModelCatalogue.h"
#include "facade/RegisterValues.h"
#include "protocol/BaudRate.h"
#include "robot/IdList.h"

namespace movantrix::detail {

namespace {

// The numbers as a user writes them for the list parser, which has the messages.
std::vector<int> parsedList(const std::vector<int>& numbers, int low, int high, const char* what,
                            const std::string& option) {
    std::string text;
    for (const int n : numbers) {
        text += (text.empty() ? "" : ",") + std::to_string(n);
    }
    std::vector<int> parsed;
    std::string error;
    if (!mvx::parseNumberList(text, low, high, what, parsed, error)) {
        throw std::invalid_argument(option + ": " + error);
    }
    return parsed;
}

}  // namespace

std::vector<int> checkCodes(const std::vector<int>& codes, bool full) {
    if (!codes.empty()) {
        return parsedList(codes, 0, 255, "baud-rate code", "codes");
    }
    std::vector<int> all;
    if (full) {
        for (int code = 1; code <= 255; ++code) {
            all.push_back(code);
        }
    } else {
        all.assign(mvx::kQuickSearchCodes.begin(), mvx::kQuickSearchCodes.end());
    }
    return all;
}

void checkIds(const std::vector<int>& ids, const char* what) {
    parsedList(ids, 0, 253, "ID", what);
}

void checkAddress(int code, int id) {
    if (code < 0 || code > 255) {
        throw std::invalid_argument("code: " + std::to_string(code) + " is out of range (0-255)");
    }
    if (id < 0 || id > 253) {
        throw std::invalid_argument("id: " + std::to_string(id) + " is out of range (0-253)");
    }
}

Address addressOf(const mvx::DeviceAddress& at) {
    return at.valid() ? Address{at.code, at.id} : Address{};
}

std::vector<SettingDifference> differencesOf(const std::vector<mvx::SettingChange>& changes) {
    std::vector<SettingDifference> out;
    for (const mvx::SettingChange& c : changes) {
        if (c.reg == nullptr) {
            continue;
        }
        out.push_back({c.reg->name, settingValue(*c.reg, c.now), settingValue(*c.reg, c.wanted),
                       c.skipped, c.skipReason});
    }
    return out;
}

std::vector<std::string> namesOf(const std::vector<mvx::SettingChange>& changes) {
    std::vector<std::string> names;
    for (const mvx::SettingChange& c : changes) {
        if (c.reg != nullptr) {
            names.emplace_back(c.reg->name);
        }
    }
    return names;
}

AssignRow assignRowOf(const mvx::AssignRow& row) {
    AssignRow out;
    out.id = row.id;
    out.code = row.code;
    out.state = mvx::assignStateWord(row.state);
    out.foundAt = addressOf(row.foundAt);
    out.at = addressOf(row.at);
    out.model = row.modelNumber;
    out.modelName = row.modelNumber != 0 ? mvx::displayName(row.modelNumber) : "";
    out.firmware = row.firmwareVersion;
    out.settingsRestored = row.settingsRestored;
    out.settingsWritten = row.settingsWritten;
    out.alreadyThere = row.already;
    out.reason = row.reason;
    out.line = mvx::assignLine(row);
    return out;
}

AssignEventKind assignEventKindOf(mvx::AssignEventKind kind) {
    switch (kind) {
        case mvx::AssignEventKind::Searching:
            return AssignEventKind::Searching;
        case mvx::AssignEventKind::Present:
            return AssignEventKind::Present;
        case mvx::AssignEventKind::Refused:
            return AssignEventKind::Refused;
        case mvx::AssignEventKind::Waiting:
            return AssignEventKind::Waiting;
        case mvx::AssignEventKind::StillLooking:
            return AssignEventKind::StillLooking;
        case mvx::AssignEventKind::Trouble:
            return AssignEventKind::Trouble;
        case mvx::AssignEventKind::Ignored:
            return AssignEventKind::Ignored;
        case mvx::AssignEventKind::Row:
            return AssignEventKind::Row;
        case mvx::AssignEventKind::Finished:
            return AssignEventKind::Finished;
    }
    return AssignEventKind::Row;
}

CheckRow checkRowOf(const mvx::CheckRow& row) {
    CheckRow out;
    out.kind = mvx::checkKindWord(row.kind);
    out.expectedAt = addressOf(row.expectedAt);
    out.foundAt = addressOf(row.foundAt);
    out.expectedModel = row.expectedModel;
    out.expectedFirmware = row.expectedVersion;
    out.foundModel = row.foundModel;
    out.foundFirmware = row.foundVersion;
    out.settings = differencesOf(row.settings);
    out.detail = mvx::checkRowDetail(row);
    return out;
}

ApplyRow applyRowOf(const mvx::ApplyRow& row) {
    ApplyRow out;
    out.at = addressOf(row.at);
    out.model = row.modelNumber;
    out.changes = differencesOf(row.changes);
    out.applied = row.applied;
    out.written = row.written;
    out.result = row.result;
    out.problem = row.problem;
    return out;
}

}  // namespace movantrix::detail
