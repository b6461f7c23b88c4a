// The order of the moves around the address new actuators come to: when that address is one
// of the targets, the actuator it is meant for waits at a free ID at the target code, and the
// waiting actuators are moved to their addresses once no more new ones come.
#include "protocol/ResultCode.h"
#include "robot/AssignRun.h"
#include "robot/RestoreWords.h"

namespace mvx {

int AssignFlow::Run::parkingId(DeviceEntry& entry, int& parking) {
    parking = -1;
    for (int id = 253; id >= 0; --id) {
        const DeviceAddress at{plan_.targetCode, id};
        if (contains(plan_.ids, id) || contains(arrivals_, at)) {
            continue;
        }
        bool free = false;
        std::string why;
        if (const int result = move_.isFree(entry, at, true, free, why); result != Success) {
            return result;
        }
        if (free) {
            parking = id;
            return Success;
        }
    }
    return Success;
}

void AssignFlow::Run::findLeftParked() {
    if (!contains(plan_.ids, kFactoryId)) {
        return;  // no run of this plan parks an actuator
    }
    for (int id = 253; id >= 0 && leftParked_.empty(); --id) {
        if (contains(plan_.ids, id)) {
            continue;
        }
        DeviceEntry* entry = registry_.find(plan_.targetCode, id);
        if (entry == nullptr || entry->modelClass() != Actuator ||
            entry->servoRecord() == nullptr ||
            (plan_.settings && entry->modelNumber() != plan_.settings->modelNumber)) {
            return;  // the first ID that is no parked actuator ends them
        }
        leftParked_.push_back(entry);
    }
}

bool AssignFlow::Run::takeLeftParked(int k) {
    while (!leftParked_.empty()) {
        DeviceEntry* entry = leftParked_.front();
        leftParked_.erase(leftParked_.begin());
        AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
        const DeviceAddress at = addressOf(*entry);
        row.foundAt = at;
        row.at = at;
        row.parkedAt = at;
        row.modelNumber = entry->modelNumber();
        row.firmwareVersion = entry->firmwareVersion();
        std::string why;
        const int checked = check(*entry, row, why);
        if (checked == AdapterFailure) {
            failed(k, checked, "the check where it waits");
            return true;
        }
        if (checked != Success || !why.empty()) {
            AssignRow fresh;
            fresh.id = row.id;
            fresh.code = row.code;
            row = fresh;
            continue;  // not one of ours after all
        }
        parked_.emplace_back(k, entry);
        setState(k, AssignState::Checked);
        return true;
    }
    return false;
}

void AssignFlow::Run::unpark() {
    for (const auto& [k, entry] : parked_) {
        AssignRow& row = report_.rows[static_cast<std::size_t>(k)];
        if (row.state != AssignState::Checked || ended_) {
            continue;
        }
        const DeviceAddress target{row.code, row.id};
        MoveOutcome moved;
        movedFrom_ = row.parkedAt;
        moving_ = true;
        const int result = move_.run(*entry, target, moved);
        row.at = moved.at;
        steps_ = moved.steps;
        moving_ = result != Success && !moved.steps.empty();
        if (result == Success && moved.targetTaken) {
            setState(k, AssignState::Failed,
                     addressWords(target) + " is " + moved.holder + "; it stays at " +
                         addressWords(row.parkedAt));
            continue;
        }
        if (result != Success && result != AdapterFailure && moved.steps.empty()) {
            setState(k, AssignState::Failed,
                     "the move: " + resultWords(result) +
                         " before anything was written; it stays at " + addressWords(row.parkedAt));
            continue;
        }
        if (result != Success) {
            row.at = target;
            failed(k, result == AdapterFailure || result == CorruptReply ? result : Timeout,
                   "the move");
            moving_ = false;
            return;
        }
        setState(k, AssignState::Moved);
        std::string why;
        const int checked = check(*entry, row, why);
        if (checked != Success) {
            failed(k, checked, "the check");
            return;
        }
        if (!why.empty()) {
            setState(k, AssignState::Failed, "the check: " + why);
            continue;
        }
        setState(k, AssignState::Checked);
        lightLed(*entry);
    }
}

}  // namespace mvx
