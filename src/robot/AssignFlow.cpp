// The assign flow from its first search to its summary: the plan checked, the devices on the
// bus already noted (a target held by one of them refuses the run), then one actuator after
// the other looked for (AssignLook.cpp) and placed (AssignPlace.cpp), the waiting ones moved
// to their addresses last (AssignOrder.cpp).
#include "robot/AssignFlow.h"

#include "device/ModelCatalogue.h"
#include "protocol/ResultCode.h"
#include "robot/AssignRun.h"
#include "robot/RestoreWords.h"
#include "robot/SureSurvey.h"

namespace mvx {

std::string deviceWords(const DeviceEntry& entry) {
    return std::string(displayName(entry.modelNumber())) + " v" +
           std::to_string(entry.firmwareVersion());
}

void AssignFlow::Run::emit(AssignEventKind kind, int index, std::string text) {
    AssignEvent event;
    event.kind = kind;
    event.index = index;
    if (index >= 0) {
        event.row = report_.rows[static_cast<std::size_t>(index)];
    }
    event.text = std::move(text);
    observer_.onAssignEvent(event);
}

void AssignFlow::Run::setState(int index, AssignState state, std::string reason) {
    AssignRow& row = report_.rows[static_cast<std::size_t>(index)];
    row.state = state;
    if (!reason.empty()) {
        row.reason = std::move(reason);
    }
    emit(AssignEventKind::Row, index);
}

void AssignFlow::Run::fail(std::string why, bool adapter) {
    ended_ = true;
    report_.adapterLost = report_.adapterLost || adapter;
    if (report_.failure.empty()) {
        report_.failure = std::move(why);
    }
}

AssignReport AssignFlow::Run::go() {
    for (const int id : plan_.ids) {
        AssignRow row;
        row.id = id;
        row.code = plan_.targetCode;
        report_.rows.push_back(row);
    }
    std::vector<int> seen;
    bool planned = plan_.targetCode >= 0 && plan_.targetCode <= 255;
    for (const int id : plan_.ids) {
        planned = planned && id >= 0 && id <= 253 && !contains(seen, id);
        seen.push_back(id);
    }
    for (const int code : plan_.codes) {
        planned = planned && code >= 0 && code <= 255;
    }
    if (!planned || !registry_.bus().link() || registry_.clear() != Success) {
        report_.refused = true;
        report_.adapterLost = planned && !registry_.bus().link();
        report_.failure = !planned              ? "the IDs or codes are not valid"
                          : report_.adapterLost ? "the adapter is not open"
                                                : "a search is running";
        emit(AssignEventKind::Refused, -1, report_.failure);
        emit(AssignEventKind::Finished, -1, report_.summary());
        return report_;
    }
    if (survey()) {
        const int n = static_cast<int>(report_.rows.size());
        findLeftParked();
        // As many IDs left as actuators waiting since an earlier run: they are those IDs'.
        std::vector<int> open;
        for (int k = 0; k < n; ++k) {
            if (!report_.rows[static_cast<std::size_t>(k)].already) {
                open.push_back(k);
            }
        }
        if (!open.empty() && open.size() <= leftParked_.size()) {
            for (const int k : open) {
                if (!ended_ && !takeLeftParked(k)) {
                    break;
                }
            }
        }
        int k = 0;
        while (k < n && !ended_) {
            if (report_.rows[static_cast<std::size_t>(k)].already ||
                report_.rows[static_cast<std::size_t>(k)].state != AssignState::Waiting) {
                ++k;
                continue;
            }
            if (stopped()) {
                report_.stopped = true;
                break;
            }
            emit(AssignEventKind::Waiting, k);
            DeviceEntry* entry = nullptr;
            const Hunt hunt = this->hunt(k, entry);
            if (hunt == Hunt::Stopped) {
                report_.stopped = true;
                break;
            }
            if (hunt == Hunt::Failed) {
                break;
            }
            place(k, *entry);
        }
        // A stop leaves the waiting actuators where they wait: new ones may still come to
        // their addresses.
        if (!ended_ && !report_.stopped) {
            unpark();
        }
    }
    ledsOff(true);
    emit(AssignEventKind::Finished, -1, report_.summary());
    return report_;
}

bool AssignFlow::Run::survey() {
    std::vector<int> codes = plan_.codes;
    if (!contains(codes, plan_.targetCode)) {
        codes.push_back(plan_.targetCode);
    }
    emit(AssignEventKind::Searching, -1, "Looking for the devices on the bus already");
    // Sure of its silence: a device there before must never pass for a new one.
    BusSurvey survey;
    if (const int result = sureSearch(sweep_, registry_, codes, {}, &stop_, {}, survey);
        result != Success) {
        fail("the search failed: " + resultWords(result), result == AdapterFailure);
        return false;
    }
    if (stopped()) {
        report_.stopped = true;
        return false;
    }
    report_.preExisting = survey.taken;
    std::sort(report_.preExisting.begin(), report_.preExisting.end());
    for (const DeviceAddress& at : survey.unread) {
        shared_.push_back(at);  // answered, but not read: taken all the same
        move_.avoid(at);
    }
    std::string present;
    for (const DeviceAddress& at : report_.preExisting) {
        const DeviceEntry* holder = registry_.find(at.code, at.id);
        present += std::string(present.empty() ? "" : ", ") +
                   (holder != nullptr ? deviceWords(*holder) + " at " : std::string()) +
                   addressWords(at) + (holder != nullptr ? "" : " (answers, not read)");
    }
    emit(AssignEventKind::Present, -1,
         present.empty() ? std::string() : "On the bus already (never touched): " + present);
    // A target held already is skipped: an earlier run may have given it.
    for (int k = 0; k < static_cast<int>(report_.rows.size()); ++k) {
        AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
        const DeviceAddress target{row.code, row.id};
        if (!contains(report_.preExisting, target)) {
            continue;
        }
        const DeviceEntry* holder = registry_.find(target.code, target.id);
        row.already = true;
        setState(k, AssignState::Skipped,
                 "already there: " + addressWords(target) + " holds " +
                     (holder != nullptr ? deviceWords(*holder)
                                        : std::string("a device that answers but cannot be read")) +
                     " since before the run");
    }
    return true;
}

AssignFlow::AssignFlow(DeviceRegistry& registry, AssignObserver& observer)
    : registry_(registry), observer_(observer) {}

AssignReport AssignFlow::run(const AssignPlan& plan, const std::atomic<bool>& stop) {
    Run run(registry_, observer_, plan, stop);
    return run.go();
}

}  // namespace mvx
