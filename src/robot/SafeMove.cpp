#include "robot/SafeMove.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "protocol/ResultCode.h"
#include "robot/BusSweep.h"

namespace mvx {

DeviceAddress addressOf(const DeviceEntry& entry) {
    return {entry.baudCode(), entry.id()};
}

std::string mayBeAtWords(const DeviceAddress& from, const std::vector<DeviceAddress>& steps) {
    // Every address it answers at on its way, each once.
    std::vector<DeviceAddress> way;
    DeviceAddress at = from;
    for (const DeviceAddress& step : steps) {
        for (const auto& [code, id] :
             DeviceRegistry::addressesOnTheWay(at.code, at.id, step.code, step.id)) {
            const DeviceAddress on{code, id};
            if (on != from && std::find(way.begin(), way.end(), on) == way.end()) {
                way.push_back(on);
            }
        }
        at = step;
    }
    std::string words = addressWords(from) + " (where it was)";
    for (std::size_t i = 0; i < way.size(); ++i) {
        words += (i + 1 == way.size() ? " or " : ", ") + addressWords(way[i]);
    }
    return words;
}

void SafeMove::avoid(const DeviceAddress& address) {
    if (std::find(avoid_.begin(), avoid_.end(), address) == avoid_.end()) {
        avoid_.push_back(address);
    }
}

int SafeMove::isFree(const DeviceEntry& entry, const DeviceAddress& address, bool avoidToo,
                     bool& free, std::string& holder) {
    free = false;
    const DeviceEntry* other = registry_.find(address.code, address.id);
    if (other != nullptr && other != &entry) {
        holder = std::string("held by ") + displayName(other->modelNumber()) + " v" +
                 std::to_string(other->firmwareVersion());
        return Success;
    }
    if (avoidToo && std::find(avoid_.begin(), avoid_.end(), address) != avoid_.end()) {
        holder = "where new actuators come";
        return Success;
    }
    if (address == addressOf(entry)) {
        free = true;
        return Success;
    }
    bool answered = false;
    if (const int asked = sweep_.anyoneAt(address, answered); asked != Success) {
        return asked;
    }
    if (answered) {
        holder = "held by a device that answers there";
        return Success;
    }
    free = true;
    return Success;
}

int SafeMove::run(DeviceEntry& entry, const DeviceAddress& target, MoveOutcome& outcome) {
    outcome = MoveOutcome{};
    const DeviceAddress from = addressOf(entry);
    outcome.at = from;
    if (from == target) {
        return Success;
    }
    bool free = false;
    std::string why;
    if (const int looked = isFree(entry, target, false, free, why); looked != Success) {
        return looked;
    }
    if (!free) {
        outcome.targetTaken = true;
        outcome.holder = why;
        return Success;
    }
    // The ways, each a list of steps (changeAddress calls), tried in this order: the ID first
    // (through the new ID at the old code), the baud rate first (through the old ID at the new
    // code), or through a free ID at the old code and then at the new one.
    std::vector<std::vector<DeviceAddress>> ways;
    ways.push_back({target});
    if (from.code != target.code && from.id != target.id) {
        ways.push_back({{target.code, from.id}, target});
    }
    std::vector<DeviceAddress> steps;
    for (const auto& way : ways) {
        bool clear = true;
        DeviceAddress at = from;
        for (const DeviceAddress& step : way) {
            for (const auto& [code, id] :
                 DeviceRegistry::addressesOnTheWay(at.code, at.id, step.code, step.id)) {
                if (DeviceAddress{code, id} == target) {
                    continue;  // looked at above
                }
                if (const int looked = isFree(entry, {code, id}, true, free, why);
                    looked != Success) {
                    return looked;
                }
                clear = clear && free;
                if (!clear) {
                    break;
                }
            }
            if (!clear) {
                break;
            }
            at = step;
        }
        if (clear) {
            steps = way;
            break;
        }
    }
    if (steps.empty()) {
        // Through a free ID: to it at the old code, to the new code, then to the target ID.
        for (int id = 253; id >= 0 && steps.empty(); --id) {
            const DeviceAddress there{from.code, id};
            const DeviceAddress over{target.code, id};
            bool freeThere = false;
            bool freeOver = false;
            int looked = isFree(entry, there, true, freeThere, why);
            if (looked == Success && freeThere) {
                looked = isFree(entry, over, true, freeOver, why);
            }
            if (looked != Success) {
                return looked;
            }
            if (freeThere && freeOver) {
                steps = {there, over, target};
            }
        }
    }
    if (steps.empty()) {
        return Busy;
    }
    // The looks above left the link elsewhere: back at the device's code with a short settle,
    // rather than the full pause of the first write's tuning.
    if (sweep_.tune(from.code) != Success) {
        return AdapterFailure;
    }
    for (const DeviceAddress& step : steps) {
        const DeviceAddress at = addressOf(entry);
        if (at == step) {
            continue;
        }
        outcome.steps.push_back(step);
        const int result = registry_.changeAddress(at.code, at.id, step.code, step.id);
        outcome.at = addressOf(entry);
        if (result != Success) {
            outcome.result = result;
            return result;
        }
    }
    return Success;
}

}  // namespace mvx
