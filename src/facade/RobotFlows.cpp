// Bus::assign and the profile flows: the robot flows of the core run as long calls.
#include <stdexcept>

#include "device/ModelCatalogue.h"
#include "drivers/RegularFile.h"
#include "facade/BusState.h"
#include "facade/FacadeErrors.h"
#include "facade/FlowValues.h"
#include "facade/LongCall.h"
#include "movantrix/bus.h"
#include "protocol/ResultCode.h"
#include "robot/AssignFlow.h"
#include "robot/ProfileFlows.h"
#include "robot/RobotProfile.h"

namespace movantrix {

namespace {

// Hands the flow's events to the caller's callback, on the calling thread.
class PostingObserver final : public mvx::AssignObserver {
public:
    PostingObserver(detail::LongCall& call, const std::function<void(const AssignEvent&)>& onEvent)
        : call_(call), onEvent_(onEvent) {}

    void onAssignEvent(const mvx::AssignEvent& event) override {
        if (!onEvent_) {
            return;
        }
        AssignEvent out;
        out.kind = detail::assignEventKindOf(event.kind);
        out.index = event.index;
        out.row = detail::assignRowOf(event.row);
        out.text = event.text;
        // The flow waits for the callback, so that a stop it asks for comes before the flow's
        // next step.
        call_.postAndWait([this, out = std::move(out)] { onEvent_(out); });
    }

private:
    detail::LongCall& call_;
    const std::function<void(const AssignEvent&)>& onEvent_;
};

mvx::RobotProfile readProfile(const std::string& path) {
    mvx::RobotProfile profile;
    std::string error;
    if (!mvx::readProfileFile(path, profile, error)) {
        throw std::invalid_argument(error);
    }
    return profile;
}

// Surveys the bus as the profile flows do, the search's progress posted to the caller. Throws
// when the search fails.
std::vector<mvx::FoundDevice> survey(
    detail::BusState& state, detail::LongCall& call, const std::vector<int>& codes,
    const std::vector<mvx::DeviceAddress>& expected, const SearchProgress& progress,
    const std::function<void(std::vector<mvx::FoundDevice>&)>& then) {
    mvx::DeviceRegistry& registry = state.registry();
    std::vector<mvx::FoundDevice> found;
    int result = mvx::Success;
    call.run([&] {
        result = mvx::surveyBus(
            registry, codes, expected, &call.flag(),
            [&call, &progress](int code, int percent) {
                if (progress) {
                    call.post([&progress, code, percent] { progress(percent, code, 0); });
                }
            },
            found);
        if (result == mvx::Success && then && !call.stopped()) {
            then(found);
        }
    });
    detail::check(result, "search failed");
    return found;
}

}  // namespace

AssignReport Bus::assign(const std::vector<int>& ids, int baud, const AssignOptions& options) {
    detail::checkIds(ids, "ids");
    if (baud < 0 || baud > 255) {
        throw std::invalid_argument("baud: " + std::to_string(baud) + " is out of range (0-255)");
    }
    if (baud == 0) {
        // Code 0 is in no search: the actuators could not be found again.
        throw std::invalid_argument(
            "baud: no search visits code 0, the actuators would not be found again (1-255)");
    }
    if (options.network && options.settingsFile.empty()) {
        throw std::invalid_argument("network goes with settingsFile");
    }
    if (options.returnDelay < -1 || options.returnDelay > 255) {
        throw std::invalid_argument("returnDelay: " + std::to_string(options.returnDelay) +
                                    " is out of range (0-255)");
    }
    mvx::AssignPlan plan;
    plan.ids = ids;
    plan.targetCode = baud;
    plan.codes = detail::checkCodes(options.codes, false);
    if (!options.settingsFile.empty()) {
        mvx::DeviceSettings settings;
        std::string error;
        if (!mvx::readSettingsFile(options.settingsFile, settings, error)) {
            throw std::invalid_argument(error);
        }
        plan.settings = settings;
    }
    plan.network = options.network;
    plan.returnDelay = options.returnDelay;

    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    mvx::DeviceRegistry& registry = state.registry();
    detail::LongCall call(options.stop);
    PostingObserver observer(call, options.onEvent);
    mvx::AssignReport done;
    call.run([&] {
        mvx::AssignFlow flow(registry, observer);
        done = flow.run(plan, call.flag());
    });
    AssignReport report;
    for (const mvx::AssignRow& row : done.rows) {
        report.rows.push_back(detail::assignRowOf(row));
    }
    report.refused = done.refused;
    report.stopped = done.stopped;
    report.adapterLost = done.adapterLost;
    report.failure = done.failure;
    for (const mvx::DeviceAddress& at : done.preExisting) {
        report.preExisting.push_back(detail::addressOf(at));
    }
    report.given = done.given();
    report.summary = done.summary();
    report.complete = done.exitStatus() == 0 && !done.stopped;
    return report;
}

std::vector<ProfileDevice> Bus::profileSave(const std::string& path,
                                            const ProfileOptions& options) {
    std::string error;
    if (!mvx::checkWriteTarget(path, error)) {
        throw std::invalid_argument(error + "; nothing written");
    }
    if (!options.codes.empty() && options.full) {
        throw std::invalid_argument("codes and full exclude each other");
    }
    const std::vector<int> codes = detail::checkCodes(options.codes, options.full);
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    detail::LongCall call(options.stop);
    const auto found = survey(state, call, codes, {}, options.progress, {});
    if (call.stopped()) {
        return {};  // a search cut short saves nothing
    }
    if (found.empty()) {
        const std::string words = detail::resultWords(mvx::Timeout);
        throw NoAnswer(mvx::Timeout,
                       "profile save: no device answers on the codes searched; nothing saved",
                       words);
    }
    const mvx::RobotProfile profile = mvx::profileOf(found, codes, mvx::utcTimestampNow());
    if (!mvx::writeFileAtomically(path, mvx::profileJsonText(profile), error)) {
        throw std::runtime_error(error);
    }
    std::vector<ProfileDevice> devices;
    for (const mvx::ProfileDevice& d : profile.devices) {
        devices.push_back({detail::addressOf(d.at), d.modelNumber, mvx::displayName(d.modelNumber),
                           d.firmwareVersion, d.settings.has_value()});
    }
    return devices;
}

std::vector<CheckRow> Bus::profileCheck(const std::string& path, const ProfileOptions& options) {
    const mvx::RobotProfile profile = readProfile(path);
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    detail::LongCall call(options.stop);
    const auto found =
        survey(state, call, profile.codes, profile.addresses(), options.progress, {});
    std::vector<CheckRow> rows;
    for (const mvx::CheckRow& row : mvx::compareWithProfile(profile, found)) {
        rows.push_back(detail::checkRowOf(row));
    }
    return rows;
}

std::vector<ApplyRow> Bus::profileApply(const std::string& path, const ProfileOptions& options) {
    const mvx::RobotProfile profile = readProfile(path);
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    detail::LongCall call(options.stop);
    std::vector<mvx::ApplyRow> applied;
    int result = mvx::Success;
    survey(state, call, profile.codes, profile.addresses(), options.progress,
           [&](std::vector<mvx::FoundDevice>& found) {
               result = mvx::applyProfile(state.registry(), profile, found, options.network,
                                          options.dryRun, &call.flag(), applied);
           });
    std::vector<ApplyRow> rows;
    for (const mvx::ApplyRow& row : applied) {
        rows.push_back(detail::applyRowOf(row));
    }
    detail::check(result, "profile apply");
    return rows;
}

AdoptReport Bus::profileAdopt(const std::string& path, const ProfileOptions& options) {
    const mvx::RobotProfile profile = readProfile(path);
    detail::BusState& state = detail::busOf(state_);
    const detail::BusLock lock(state);
    detail::LongCall call(options.stop);
    mvx::AdoptResult adopted;
    bool ran = false;
    survey(state, call, profile.codes, profile.addresses(), options.progress,
           [&](std::vector<mvx::FoundDevice>& found) {
               adopted = mvx::adoptJoint(state.registry(), profile, found);
               ran = true;
           });
    AdoptReport report;
    if (!ran) {
        report.refused = true;
        report.reason = "stopped during the search; nothing written";
        return report;
    }
    report.refused = adopted.refused;
    report.reason = adopted.reason;
    report.from = detail::addressOf(adopted.from);
    report.to = detail::addressOf(adopted.to);
    report.result = adopted.result;
    report.written = adopted.written;
    report.after = detail::checkRowOf(adopted.after);
    return report;
}

}  // namespace movantrix
