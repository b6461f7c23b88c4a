#include "robot/SureSurvey.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "protocol/ResultCode.h"

namespace mvx {

namespace {

void addAddress(std::vector<DeviceAddress>& list, const DeviceAddress& address) {
    if (std::find(list.begin(), list.end(), address) == list.end()) {
        list.push_back(address);
    }
}

// What `more` heard, added to `look` (of the same code).
void mergeLook(CodeLook& look, const CodeLook& more) {
    look.heard = look.heard || more.heard;
    look.sure = look.sure && more.sure;
    look.noise = look.noise || more.noise;
    look.crowd = std::max(look.crowd, more.crowd);
    for (const auto member : {&CodeLook::answered, &CodeLook::repeated, &CodeLook::named}) {
        std::vector<int>& ids = look.*member;
        ids.insert(ids.end(), (more.*member).begin(), (more.*member).end());
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    }
}

// Tries at hearing an ID named only by broken broadcast answers.
constexpr int kNamedAsks = 2;

// The IDs that only broken broadcast answers named (a cut-off or corrupt answer carries its
// ID), and that neither the broadcasts nor the walk heard cleanly, are asked alone: one that
// answers cleanly has answered; one that answers broken again, or not at all, is noted as
// garbled, taken all the same (whoever answered there said something). 100, 101 or 102.
int askNamed(BusSweep& sweep, CodeLook& look) {
    for (const int id : look.named) {
        const auto in = [id](const std::vector<int>& ids) {
            return std::binary_search(ids.begin(), ids.end(), id);
        };
        if (in(look.answered) || in(look.repeated) || in(look.garbled)) {
            continue;
        }
        bool answered = false;
        bool broken = false;
        for (int ask = 0; ask < kNamedAsks && !answered; ++ask) {
            if (const int result = sweep.anyoneAt({look.code, id}, answered, &broken);
                result != Success) {
                return result;
            }
        }
        std::vector<int>& into = answered && !broken ? look.answered : look.garbled;
        into.insert(std::lower_bound(into.begin(), into.end(), id), id);
    }
    return Success;
}

}  // namespace

void keepListOrder(DeviceRegistry& registry, const std::vector<int>& codes,
                   const DeviceAddress& address) {
    const auto rank = [&codes](int code, int id) {
        const auto at = std::find(codes.begin(), codes.end(), code);
        return std::pair<long, int>{at - codes.begin(), id};
    };
    const int from = registry.indexOf(address.code, address.id);
    if (from < 0) {
        return;
    }
    int to = registry.entryCount();
    for (int i = 0; i < registry.entryCount(); ++i) {
        const DeviceEntry* entry = registry.entryAt(i);
        if (i != from && entry != nullptr &&
            rank(entry->baudCode(), entry->id()) > rank(address.code, address.id)) {
            to = i;
            break;
        }
    }
    registry.move(from, to);
}

namespace {

// Probes `address` unless the registry holds it: a failure other than the adapter's notes it
// as unread.
int probeInto(BusSweep& sweep, DeviceRegistry& registry, const std::vector<int>& codes,
              const DeviceAddress& address, BusSurvey& survey) {
    addAddress(survey.taken, address);
    if (registry.find(address.code, address.id) != nullptr) {
        return Success;
    }
    DeviceEntry* entry = nullptr;
    const int result = sweep.probe(address, entry);
    if (result == AdapterFailure) {
        return result;
    }
    if (result != Success) {
        addAddress(survey.unread, address);
    } else {
        keepListOrder(registry, codes, address);
    }
    return Success;
}

}  // namespace

int sureSearch(BusSweep& sweep, DeviceRegistry& registry, const std::vector<int>& codes,
               const std::vector<DeviceAddress>& expected, const std::atomic<bool>* stop,
               const SweepProgress& progress, BusSurvey& survey) {
    survey = BusSurvey{};
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    const int total = static_cast<int>(codes.size());
    for (int i = 0; i < total && !stopped(); ++i) {
        const int code = codes[static_cast<std::size_t>(i)];
        if (progress) {
            progress(code, i * 90 / std::max(total, 1));
        }
        CodeLook look;
        int result = sweep.broadcast(code, look);  // sure: heard for its whole wait
        if (result == Success && !stopped()) {
            // One lost answer must not pass a device for silence (a flow would then take it for
            // a new one): every code is asked twice, and an ID counts when either heard it.
            CodeLook again;
            result = sweep.broadcast(code, again);
            mergeLook(look, again);
        }
        if (result == Success && look.heard) {
            // The walk adds to what the broadcast heard: a reply lost in either is no silence.
            result = sweep.walk(code, stop, look);
            std::erase_if(look.answered, [&look](int id) {
                return std::binary_search(look.garbled.begin(), look.garbled.end(), id) ||
                       std::binary_search(look.repeated.begin(), look.repeated.end(), id);
            });
        }
        if (result == Success && !stopped()) {
            result = askNamed(sweep, look);
        }
        if (result != Success) {
            return result;
        }
        for (const std::vector<int>* ids : {&look.garbled, &look.repeated}) {
            for (const int id : *ids) {
                addAddress(survey.taken, {code, id});
                addAddress(survey.unread, {code, id});
            }
        }
        survey.looks.push_back(look);
    }
    for (const CodeLook& look : survey.looks) {
        for (const int id : look.answered) {
            if (stopped()) {
                return Success;
            }
            if (probeInto(sweep, registry, codes, {look.code, id}, survey) == AdapterFailure) {
                return AdapterFailure;
            }
        }
    }
    for (const DeviceAddress& at : expected) {
        if (stopped()) {
            return Success;
        }
        if (std::find(survey.taken.begin(), survey.taken.end(), at) != survey.taken.end()) {
            continue;
        }
        bool answered = false;
        if (const int result = sweep.anyoneAt(at, answered); result != Success) {
            return result;
        }
        if (answered && probeInto(sweep, registry, codes, at, survey) == AdapterFailure) {
            return AdapterFailure;
        }
    }
    if (progress && !stopped()) {
        progress(codes.empty() ? -1 : codes.back(), 100);
    }
    return Success;
}

}  // namespace mvx
