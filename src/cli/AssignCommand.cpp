// assign: new actuators get their IDs one after the other (robot/AssignFlow), with a prompt
// on a terminal, a line per actuator and a summary (with --json one JSON object per line);
// Ctrl+C ends it between actuators.
#include <nlohmann/json.hpp>

#include "cli/AddressJson.h"
#include "cli/Interrupts.h"
#include "cli/Messages.h"
#include "cli/RobotCommands.h"
#include "cli/Session.h"
#include "device/ModelCatalogue.h"
#include "protocol/ResultCode.h"
#include "robot/AssignFlow.h"

namespace mvx::cli {

namespace {

using Json = nlohmann::ordered_json;

// One row as a JSON object (one line).
Json rowJson(const AssignRow& row) {
    Json json = Json::object();
    json["id"] = row.id;
    json["code"] = row.code;
    json["state"] = assignStateWord(row.state);
    json["already_there"] = row.already;
    json["found_at"] = addressJson(row.foundAt);
    json["at"] = addressJson(row.at);
    json["parked_at"] = addressJson(row.parkedAt);
    json["model"] = row.modelNumber != 0 ? Json(row.modelNumber) : Json();
    json["name"] = row.modelNumber != 0 ? Json(displayName(row.modelNumber)) : Json();
    json["version"] = row.modelNumber != 0 ? Json(row.firmwareVersion) : Json();
    json["settings_restored"] = row.settingsRestored;
    json["settings_written"] = row.settingsWritten;
    json["reason"] = row.reason;
    json["line"] = assignLine(row);
    return json;
}

Json summaryJson(const AssignReport& report) {
    Json json = Json::object();
    json["summary"] = report.summary();
    json["given"] = report.given();
    json["ids"] = report.rows.size();
    json["refused"] = report.refused;
    json["stopped"] = report.stopped;
    json["adapter_lost"] = report.adapterLost;
    json["failure"] = report.failure;
    Json present = Json::array();
    for (const DeviceAddress& at : report.preExisting) {
        present.push_back(addressJson(at));
    }
    json["present"] = present;
    json["exit_status"] = report.exitStatus();
    return json;
}

class AssignPrinter final : public AssignObserver {
public:
    AssignPrinter(CommandContext& context, int total)
        : context_(context),
          total_(total),
          terminal_(context.env.stderrIsTerminal()),
          json_(context.options.json) {}

    void onAssignEvent(const AssignEvent& event) override {
        std::ostream& out = context_.out;
        std::ostream& err = context_.err;
        switch (event.kind) {
            case AssignEventKind::Searching:
                if (terminal_) {
                    err << event.text << "...\n";
                }
                break;
            case AssignEventKind::Present:
                if (!event.text.empty()) {  // empty: nothing on the bus before
                    err << event.text << '\n';
                }
                break;
            case AssignEventKind::Refused:
                printError(err, "assign: " + event.text);
                break;
            case AssignEventKind::Waiting:
                if (terminal_) {
                    err << "Connect the next actuator (ID " << event.row.id << ", "
                        << event.index + 1 << " of " << total_ << ")..." << std::endl;
                }
                break;
            case AssignEventKind::StillLooking:
                if (terminal_) {
                    err << event.text << std::endl;
                }
                break;
            case AssignEventKind::Trouble:
                printError(err, event.text);
                break;
            case AssignEventKind::Ignored:
                printWarning(err, event.text);
                break;
            case AssignEventKind::Row:
                if (event.row.state == AssignState::Checked ||
                    event.row.state == AssignState::Skipped ||
                    event.row.state == AssignState::Failed) {
                    if (json_) {
                        out << rowJson(event.row).dump() << std::endl;
                    } else {
                        out << assignLine(event.row) << std::endl;
                    }
                }
                break;
            case AssignEventKind::Finished:
                if (!json_) {
                    out << event.text << std::endl;
                }
                break;
        }
    }

private:
    CommandContext& context_;
    int total_;
    bool terminal_;
    bool json_;
};

}  // namespace

int assignCommand(CommandContext& context) {
    const RobotOptions& r = context.options.robot;
    std::unique_ptr<Session> session;
    if (const int status = openSession(context, session); status != kExitOk) {
        return status;
    }
    AssignPlan plan;
    plan.ids = r.ids;
    plan.targetCode = r.targetCode;
    plan.codes = r.codes;
    if (!r.settingsFile.empty()) {
        plan.settings = r.settings;
    }
    plan.network = r.network;
    plan.returnDelay = r.returnDelay;
    AssignPrinter printer(context, static_cast<int>(r.ids.size()));
    const InterruptScope interrupts;
    AssignFlow flow(session->registry(), printer);
    const AssignReport report = flow.run(plan, interruptFlag());
    if (context.options.json) {
        context.out << summaryJson(report).dump() << std::endl;
    }
    if (report.adapterLost) {
        // Where the actuator in hand may be now is part of the failure.
        printError(context.err, std::string(kAccessFailedText) + " (" +
                                    resultWords(AdapterFailure) + ")" +
                                    (report.failure.empty() ? "" : ": " + report.failure));
    }
    return report.exitStatus();
}

}  // namespace mvx::cli
