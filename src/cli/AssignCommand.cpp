// assign: new actuators get their IDs one after the other (robot/AssignFlow), with a prompt
// on a terminal, a line per actuator and a summary; Ctrl+C ends it between actuators.
#include "cli/Interrupts.h"
#include "cli/Messages.h"
#include "cli/RobotCommands.h"
#include "cli/Session.h"
#include "protocol/ResultCode.h"
#include "robot/AssignFlow.h"

namespace mvx::cli {

namespace {

class AssignPrinter final : public AssignObserver {
public:
    AssignPrinter(CommandContext& context, int total)
        : context_(context), total_(total), terminal_(context.env.stderrIsTerminal()) {}

    void onAssignEvent(const AssignEvent& event) override {
        std::ostream& out = context_.out;
        std::ostream& err = context_.err;
        switch (event.kind) {
            case AssignEventKind::Searching:
                if (terminal_) {
                    err << event.text << "...\n";
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
                    out << assignLine(event.row) << std::endl;
                }
                break;
            case AssignEventKind::Finished:
                out << event.text << std::endl;
                break;
        }
    }

private:
    CommandContext& context_;
    int total_;
    bool terminal_;
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
    if (report.adapterLost) {
        printError(context.err,
                   std::string(kAccessFailedText) + " (" + resultWords(AdapterFailure) + ")");
    }
    return report.exitStatus();
}

}  // namespace mvx::cli
