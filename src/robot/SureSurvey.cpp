#include "robot/SureSurvey.h"

#include <algorithm>
#include <array>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/FastSearchTiming.h"
#include "search/ReplyListener.h"

namespace mvx {

namespace {

constexpr int kIds = 254;           // IDs 0-253
constexpr int kPingReplyBytes = 6;  // the status packet answering a ping

void addId(std::vector<int>& ids, int id) {
    const auto at = std::lower_bound(ids.begin(), ids.end(), id);
    if (at == ids.end() || *at != id) {
        ids.insert(at, id);
    }
}

void addAddress(std::vector<DeviceAddress>& list, const DeviceAddress& address) {
    if (std::find(list.begin(), list.end(), address) == list.end()) {
        list.push_back(address);
    }
}

// Probes `address` unless the registry holds it: a failure other than the adapter's notes it
// as unread.
int probeInto(BusSweep& sweep, DeviceRegistry& registry, const DeviceAddress& address,
              BusSurvey& survey) {
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
    }
    return Success;
}

}  // namespace

int sureBroadcast(BusSweep& sweep, DeviceRegistry& registry, int code, CodeLook& look) {
    look = CodeLook{};
    look.code = code;
    const std::shared_ptr<AdapterLink> link = registry.bus().link();
    if (!link || sweep.tune(code) != Success) {
        return AdapterFailure;
    }
    link->purgeReceive();
    const FastSearchTiming timing(link->receiveLatencyUs());
    const int sent = sendWhenFree(*link, InstructionPacket::make(kBroadcastId, Ping));
    if (sent != Success) {
        return sent;
    }
    const std::int64_t sentUs = link->clock().nowUs();
    ReplyListener listener(*link);
    std::array<int, kIds> counts{};
    const auto onAnswer = [&counts](const ScannedReply& reply, std::int64_t) {
        if (reply.id < kIds && reply.parameterCount == 0) {
            ++counts[reply.id];
        }
    };
    // The devices get the whole time to answer; an answer begun at its end still comes in.
    if (listener.until(sentUs + BusSweep::kBroadcastAnswersUs, onAnswer) == AdapterFailure) {
        return AdapterFailure;
    }
    if (listener.heard()) {
        const std::int64_t quietUs = FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) +
                                     timing.latencyAllowanceUs();
        if (listener.untilQuiet(quietUs, onAnswer) == AdapterFailure) {
            return AdapterFailure;
        }
    }
    link->purgeReceive();
    look.heard = listener.heard();
    for (int id = 0; id < kIds; ++id) {
        const int count = counts[static_cast<std::size_t>(id)];
        if (count == 1) {
            addId(look.answered, id);
        } else if (count > 1) {
            addId(look.repeated, id);
        }
    }
    look.noise = !listener.brokenAtUs().empty();
    return Success;
}

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
        int result = sureBroadcast(sweep, registry, code, look);
        if (result == Success && look.heard) {
            // The walk adds to what the broadcast heard: a reply lost in either is no silence.
            result = sweep.walk(code, stop, look);
            std::erase_if(look.answered, [&look](int id) {
                return std::binary_search(look.garbled.begin(), look.garbled.end(), id) ||
                       std::binary_search(look.repeated.begin(), look.repeated.end(), id);
            });
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
            if (probeInto(sweep, registry, {look.code, id}, survey) == AdapterFailure) {
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
        if (answered && probeInto(sweep, registry, at, survey) == AdapterFailure) {
            return AdapterFailure;
        }
    }
    if (progress && !stopped()) {
        progress(codes.empty() ? -1 : codes.back(), 100);
    }
    return Success;
}

}  // namespace mvx
