#include "robot/ProfileCheck.h"

#include <algorithm>

#include "protocol/ResultCode.h"

namespace mvx {

namespace {

std::string deviceWords(int model, int version) {
    return std::string(displayName(model)) + " (" + std::to_string(model) + ") v" +
           std::to_string(version);
}

// The settings of `expected` that the found device holds otherwise; a note when it could not
// be read.
void compareSettings(const ProfileDevice& expected, const FoundDevice& found, CheckRow& row) {
    if (!expected.settings) {
        return;
    }
    if (!found.settingsRead) {
        row.note =
            "its settings could not be read (" +
            (found.settingsResult == Success ? std::string("it does not answer reads")
                                             : std::string(resultText(found.settingsResult)) +
                                                   ", " + std::to_string(found.settingsResult)) +
            ")";
        return;
    }
    row.settings = settingsDifferences(found.settings, *expected.settings, true,
                                       maxPositionOf(found.modelNumber));
}

}  // namespace

std::vector<CheckRow> compareWithProfile(const RobotProfile& profile,
                                         const std::vector<FoundDevice>& found) {
    std::vector<CheckRow> rows;
    std::vector<bool> used(found.size(), false);
    auto foundAt = [&found](const DeviceAddress& at) -> int {
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (found[i].at == at) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    for (const ProfileDevice& e : profile.devices) {
        CheckRow row;
        row.expectedAt = e.at;
        row.expectedModel = e.modelNumber;
        row.expectedVersion = e.firmwareVersion;
        const int i = foundAt(e.at);
        if (i < 0) {
            row.kind = CheckKind::Missing;
            rows.push_back(row);
            continue;
        }
        const FoundDevice& f = found[static_cast<std::size_t>(i)];
        used[static_cast<std::size_t>(i)] = true;
        row.foundAt = f.at;
        row.foundModel = f.modelNumber;
        row.foundVersion = f.firmwareVersion;
        if (f.modelNumber != e.modelNumber) {
            row.kind = CheckKind::OtherModel;
        } else {
            compareSettings(e, f, row);
            row.kind = f.firmwareVersion != e.firmwareVersion     ? CheckKind::FirmwareDiffers
                       : row.settings.empty() && row.note.empty() ? CheckKind::Ok
                                                                  : CheckKind::SettingsDiffer;
        }
        rows.push_back(row);
    }
    // A missing device whose model sits where nothing was expected has moved there.
    for (CheckRow& row : rows) {
        if (row.kind != CheckKind::Missing) {
            continue;
        }
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (!used[i] && profile.find(found[i].at) == nullptr &&
                found[i].modelNumber == row.expectedModel) {
                used[i] = true;
                row.kind = CheckKind::Moved;
                row.foundAt = found[i].at;
                row.foundModel = found[i].modelNumber;
                row.foundVersion = found[i].firmwareVersion;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (!used[i]) {
            CheckRow row;
            row.kind = CheckKind::Unexpected;
            row.foundAt = found[i].at;
            row.foundModel = found[i].modelNumber;
            row.foundVersion = found[i].firmwareVersion;
            rows.push_back(row);
        }
    }
    return rows;
}

const char* checkKindWord(CheckKind kind) {
    switch (kind) {
        case CheckKind::Ok:
            return "ok";
        case CheckKind::Missing:
            return "missing";
        case CheckKind::Moved:
            return "moved";
        case CheckKind::OtherModel:
            return "other model";
        case CheckKind::FirmwareDiffers:
            return "firmware differs";
        case CheckKind::SettingsDiffer:
            return "settings differ";
        case CheckKind::Unexpected:
            return "unexpected";
    }
    return "";
}

std::string checkRowDetail(const CheckRow& row) {
    std::string text;
    auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
    switch (row.kind) {
        case CheckKind::Ok:
        case CheckKind::Missing:
            break;
        case CheckKind::Moved:
            add("now at " + addressWords(row.foundAt) +
                (row.foundVersion != row.expectedVersion
                     ? " (firmware v" + std::to_string(row.foundVersion) + ")"
                     : std::string()));
            break;
        case CheckKind::OtherModel:
            add(deviceWords(row.foundModel, row.foundVersion) + " there");
            break;
        case CheckKind::FirmwareDiffers:
            add("firmware v" + std::to_string(row.foundVersion) + " on the bus, v" +
                std::to_string(row.expectedVersion) + " in the profile");
            break;
        case CheckKind::SettingsDiffer:
        case CheckKind::Unexpected:
            break;
    }
    for (const SettingChange& c : row.settings) {
        add(std::string(c.reg->name) + " " + settingValueText(*c.reg, c.now) + " on the bus, " +
            settingValueText(*c.reg, c.wanted) + " in the profile");
    }
    if (!row.note.empty()) {
        add(row.note);
    }
    return text;
}

bool allOk(const std::vector<CheckRow>& rows) {
    return std::all_of(rows.begin(), rows.end(),
                       [](const CheckRow& row) { return row.kind == CheckKind::Ok; });
}

}  // namespace mvx
