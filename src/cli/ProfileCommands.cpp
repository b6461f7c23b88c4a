// profile save / check / apply / adopt: the robot profile's flows (robot/ProfileFlows) on the
// command line.
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/AddressJson.h"
#include "cli/Messages.h"
#include "cli/ProgressBar.h"
#include "cli/RobotCommands.h"
#include "cli/Session.h"
#include "device/ModelCatalogue.h"
#include "drivers/RegularFile.h"
#include "protocol/ResultCode.h"
#include "robot/ProfileFlows.h"

namespace mvx::cli {

namespace {

std::string deviceText(int model, int version) {
    return std::string(displayName(model)) + " v" + std::to_string(version);
}

// Opens the port and surveys `codes` surely (each of `expected` pinged directly too) with a
// progress bar: kExitOk with `found` filled, or the exit status of the failure (said).
int survey(CommandContext& context, const std::vector<int>& codes,
           const std::vector<DeviceAddress>& expected, std::unique_ptr<Session>& session,
           std::vector<FoundDevice>& found) {
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    ProgressBar bar(context.err, context.env.stderrIsTerminal(), "Searching");
    const int result = surveyBus(
        session->registry(), codes, expected, nullptr,
        [&bar](int code, int percent) { bar.update(percent, "code " + std::to_string(code)); },
        found);
    if (result != Success) {
        printError(context.err, "search failed: " + resultWords(result));
        return kExitFailed;
    }
    bar.finish();
    return kExitOk;
}

int saveProfile(CommandContext& context) {
    const RobotOptions& r = context.options.robot;
    std::string error;  // the output was checked before the port was opened
    std::unique_ptr<Session> session;
    std::vector<FoundDevice> found;
    if (const int status = survey(context, r.codes, {}, session, found); status != kExitOk) {
        return status;
    }
    if (found.empty()) {
        printError(context.err,
                   "profile save: no device answers on the codes searched; nothing "
                   "saved");
        return kExitFailed;
    }
    const RobotProfile profile = profileOf(found, r.codes, utcTimestampNow());
    const std::string text = profileJsonText(profile);
    if (r.output.empty()) {
        context.out << text;
        return kExitOk;
    }
    if (!writeFileAtomically(r.output, text, error)) {
        printError(context.err, error);
        return kExitFailed;
    }
    context.out << profile.devices.size() << (profile.devices.size() == 1 ? " device" : " devices")
                << " saved to " << r.output << '\n';
    return kExitOk;
}

nlohmann::ordered_json rowJson(const CheckRow& row) {
    using Json = nlohmann::ordered_json;
    Json settings = Json::array();
    for (const SettingChange& c : row.settings) {
        settings.push_back({{"name", c.reg->name},
                            {"bus", settingValueText(*c.reg, c.now)},
                            {"profile", settingValueText(*c.reg, c.wanted)}});
    }
    const bool expected = row.kind != CheckKind::Unexpected;
    const bool present = row.kind != CheckKind::Missing;
    Json json = Json::object();
    json["kind"] = checkKindWord(row.kind);
    json["expected"] = addressJson(row.expectedAt);
    json["found"] = addressJson(row.foundAt);
    json["model"] = expected ? Json(row.expectedModel) : Json();
    json["name"] = expected ? Json(displayName(row.expectedModel)) : Json();
    json["version"] = expected ? Json(row.expectedVersion) : Json();
    json["found_model"] = present ? Json(row.foundModel) : Json();
    json["found_name"] = present ? Json(displayName(row.foundModel)) : Json();
    json["found_version"] = present ? Json(row.foundVersion) : Json();
    json["settings"] = settings;
    json["detail"] = checkRowDetail(row);
    return json;
}

int checkProfile(CommandContext& context, const std::vector<FoundDevice>& found) {
    const RobotProfile& profile = context.options.robot.profile;
    const std::vector<CheckRow> rows = compareWithProfile(profile, found);
    if (context.options.json) {
        nlohmann::ordered_json report = nlohmann::ordered_json::object();
        report["all_ok"] = allOk(rows);
        report["rows"] = nlohmann::ordered_json::array();
        for (const CheckRow& row : rows) {
            report["rows"].push_back(rowJson(row));
        }
        context.out << report.dump(2) << '\n';
    } else {
        for (const CheckRow& row : rows) {
            const bool expected = row.kind != CheckKind::Unexpected;
            const DeviceAddress at = expected ? row.expectedAt : row.foundAt;
            const std::string device = expected ? deviceText(row.expectedModel, row.expectedVersion)
                                                : deviceText(row.foundModel, row.foundVersion);
            const std::string detail = checkRowDetail(row);
            char line[96];
            std::snprintf(line, sizeof line, "%-16s %-12s %s", addressWords(at).c_str(),
                          device.c_str(), checkKindWord(row.kind));
            context.out << line << (detail.empty() ? "" : ": " + detail) << '\n';
        }
    }
    return allOk(rows) ? kExitOk : kExitFailed;
}

int applyProfileCommand(CommandContext& context, Session& session,
                        const std::vector<FoundDevice>& found) {
    const RobotOptions& r = context.options.robot;
    std::vector<ApplyRow> rows;
    const int result =
        applyProfile(session.registry(), r.profile, found, r.network, r.dryRun, nullptr, rows);
    bool clean = result == Success;
    if (context.options.json) {
        using Json = nlohmann::ordered_json;
        Json report = Json::object();
        report["dry_run"] = r.dryRun;
        report["network"] = r.network;
        report["rows"] = Json::array();
        for (const ApplyRow& row : rows) {
            Json changes = Json::array();
            for (const SettingChange& c : row.changes) {
                if (!c.skipped) {
                    changes.push_back({{"name", c.reg->name},
                                       {"bus", settingValueText(*c.reg, c.now)},
                                       {"profile", settingValueText(*c.reg, c.wanted)}});
                }
            }
            clean = clean && row.problem.empty();
            Json json = Json::object();
            json["at"] = addressJson(row.at);
            json["model"] = row.modelNumber;
            json["name"] = displayName(row.modelNumber);
            json["changes"] = changes;
            json["applied"] = row.applied;
            json["written"] = row.written;
            json["problem"] = row.problem.empty() ? Json() : Json(row.problem);
            report["rows"].push_back(json);
        }
        report["adapter_lost"] = result == AdapterFailure;
        report["ok"] = clean;
        context.out << report.dump(2) << '\n';
        return clean ? kExitOk : kExitFailed;
    }
    for (const ApplyRow& row : rows) {
        const std::string prefix = addressWords(row.at) + ": ";
        for (const SettingChange& c : row.changes) {
            if (c.skipped) {
                continue;
            }
            context.out << prefix << c.reg->name << ' ' << settingValueText(*c.reg, c.now) << " -> "
                        << settingValueText(*c.reg, c.wanted) << '\n';
        }
        if (!row.problem.empty()) {
            printError(context.err, prefix + row.problem);
            clean = false;
        } else if (row.changes.empty()) {
            context.out << prefix << "nothing to restore\n";
        } else if (!r.dryRun) {
            context.out << prefix << "restored " << row.written
                        << (row.written == 1 ? " setting\n" : " settings\n");
        }
    }
    if (result == AdapterFailure) {
        printError(context.err,
                   std::string(kAccessFailedText) + " (" + resultWords(AdapterFailure) + ")");
    }
    return clean ? kExitOk : kExitFailed;
}

int adoptProfile(CommandContext& context, Session& session, const std::vector<FoundDevice>& found) {
    const AdoptResult result = adoptJoint(session.registry(), context.options.robot.profile, found);
    if (result.refused) {
        printError(context.err, "adopt: " + result.reason);
        return kExitFailed;
    }
    if (!result.reason.empty()) {
        printError(context.err, "adopt: " + addressWords(result.from) + " -> " +
                                    addressWords(result.to) + ": " + result.reason);
        return kExitFailed;
    }
    const std::string detail = checkRowDetail(result.after);
    context.out << addressWords(result.from) << " -> " << addressWords(result.to) << ": "
                << deviceText(result.after.foundModel, result.after.foundVersion)
                << " takes the place of the missing one, " << result.written
                << (result.written == 1 ? " setting" : " settings")
                << " restored, checked: " << checkKindWord(result.after.kind)
                << (detail.empty() ? "" : " (" + detail + ")") << '\n';
    return result.after.kind == CheckKind::Ok ? kExitOk : kExitFailed;
}

}  // namespace

int profileCommand(CommandContext& context) {
    const RobotOptions& r = context.options.robot;
    if (r.action == "save") {
        return saveProfile(context);
    }
    // check, apply and adopt start from what is on the profile's codes.
    std::unique_ptr<Session> session;
    std::vector<FoundDevice> found;
    if (const int status = survey(context, r.profile.codes, r.profile.addresses(), session, found);
        status != kExitOk) {
        return status;
    }
    if (r.action == "check") {
        return checkProfile(context, found);
    }
    if (r.action == "apply") {
        return applyProfileCommand(context, *session, found);
    }
    return adoptProfile(context, *session, found);
}

}  // namespace mvx::cli
