#include "robot/BusSweep.h"

#include <algorithm>
#include <array>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/CodeSurvey.h"
#include "search/ReplyListener.h"

namespace mvx {

namespace {

constexpr int kIds = 254;  // IDs 0-253
// The answers a walk leaves room for after every ID where new devices may crowd one address.
constexpr int kCrowdRoom = 3;

// Adds `id` to the ascending list `ids` unless it is there.
void addId(std::vector<int>& ids, int id) {
    const auto at = std::lower_bound(ids.begin(), ids.end(), id);
    if (at == ids.end() || *at != id) {
        ids.insert(at, id);
    }
}

// The counts of clean answers per ID into the look: one is an answer, more are two devices.
void countInto(const std::array<int, kIds>& counts, CodeLook& look) {
    for (int id = 0; id < kIds; ++id) {
        if (counts[static_cast<std::size_t>(id)] == 1) {
            addId(look.answered, id);
        } else if (counts[static_cast<std::size_t>(id)] > 1) {
            addId(look.repeated, id);
        }
    }
}

enum class Answer { None, Clean, Broken };

// The answers `bytes` would make (each with a byte of idle line after it), at least one.
int answersIn(std::size_t bytes) {
    return std::max(1, static_cast<int>((bytes + kPingReplyBytes) / (kPingReplyBytes + 1)));
}

// Pings `id` alone and listens until the answers of two devices at that ID, one after the
// other, would be over, and on while more come: what came back, and how many answers its bytes
// would make. 100, or the failure of the send (a ping not sent
// tells nothing of who is there) or of the adapter.
int askAlone(AdapterLink& link, FastSearchTiming& timing, int code, int id, Answer& answer,
             int& answers) {
    answer = Answer::None;
    answers = 0;
    link.purgeReceive();
    const int sent =
        sendWhenFree(link, InstructionPacket::make(static_cast<std::uint8_t>(id), Ping));
    if (sent != Success) {
        return sent;
    }
    const std::int64_t sentUs = link.clock().nowUs();
    ReplyListener listener(link);
    int clean = 0;
    const std::int64_t endUs =
        sentUs + FastSearchTiming::replyWindowUs(kPingBytes, 2 * kPingReplyBytes + 1, code) +
        timing.latencyAllowanceUs();
    const auto onReply = [&clean, id](const ScannedReply& reply, std::int64_t) {
        clean += reply.id == id && reply.parameterCount == 0 ? 1 : 0;
    };
    if (listener.until(endUs, onReply) == AdapterFailure) {
        return AdapterFailure;
    }
    // More than two devices answer on: nothing goes out before they are done.
    const std::int64_t quietUs =
        FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) + timing.latencyAllowanceUs();
    if (listener.heard() &&
        listener.untilQuiet(quietUs, link.clock().nowUs() + CodeSurvey::kQuietBoundUs, onReply,
                            [] { return false; }) == AdapterFailure) {
        return AdapterFailure;
    }
    answers = listener.heard() ? answersIn(listener.bytesSeen()) : 0;
    link.purgeReceive();
    if (!listener.brokenAtUs().empty() || clean > 1) {
        answer = Answer::Broken;
    } else if (listener.heard()) {
        answer = Answer::Clean;
    }
    return Success;
}

}  // namespace

BusSweep::BusSweep(DeviceRegistry& registry) : registry_(registry) {}

BusSweep::~BusSweep() = default;

int BusSweep::tune(int code) {
    const std::shared_ptr<AdapterLink> link = registry_.bus().link();
    if (!link) {
        return AdapterFailure;
    }
    return link->setBaudCode(static_cast<std::uint8_t>(code), FastSearchTiming::settleUs(code)) ==
                   Success
               ? Success
               : AdapterFailure;
}

std::shared_ptr<AdapterLink> BusSweep::linkAt(int code) {
    std::shared_ptr<AdapterLink> link = registry_.bus().link();
    if (!link || tune(code) != Success) {
        return nullptr;
    }
    link->purgeReceive();  // stale input is no answer to what comes
    if (!timing_) {
        timing_ = std::make_unique<FastSearchTiming>(link->receiveLatencyUs());
    }
    return link;
}

int BusSweep::broadcast(int code, CodeLook& look) {
    look = CodeLook{};
    look.code = code;
    const std::shared_ptr<AdapterLink> link = linkAt(code);
    if (!link) {
        return AdapterFailure;
    }
    CodeSurvey survey(*link, *timing_);
    BroadcastHeard heard;
    if (const int result = survey.broadcast(code, false, nullptr, nullptr, heard);
        result != Success) {
        return result;
    }
    for (int id = 0; id < kIds; ++id) {
        if (heard.counts[static_cast<std::size_t>(id)] > 1) {
            crowds_[{code, id}] = heard.counts[static_cast<std::size_t>(id)];
        }
    }
    look.heard = heard.heard;
    look.sure = heard.sure;
    countInto(heard.counts, look);
    for (const int id : heard.named) {
        addId(look.named, id);
    }
    look.noise = heard.broken;
    if (heard.broken) {
        look.crowd = answersIn(static_cast<std::size_t>(heard.bytes));
    }
    return Success;
}

int BusSweep::walk(int code, const std::atomic<bool>* stop, CodeLook& look, bool anyCrowded,
                   const std::vector<int>& arrivalIds) {
    look.code = code;
    AnswerRoom room{};
    // Broken answers to the broadcast may be several devices at any one ID: room for them all.
    room.fill(anyCrowded || look.crowd > 0 ? std::max(kCrowdRoom, look.crowd) : 1);
    for (const std::vector<int>* ids : {&look.answered, &look.repeated, &look.garbled}) {
        for (const int id : *ids) {
            room[static_cast<std::size_t>(id)] = 2;
        }
    }
    for (const int id : arrivalIds) {
        if (id >= 0 && id < kIds) {
            room[static_cast<std::size_t>(id)] =
                std::max(room[static_cast<std::size_t>(id)], kArrivalRoom);
        }
    }
    for (const auto& [at, answers] : crowds_) {
        if (at.code == code) {
            room[static_cast<std::size_t>(at.id)] =
                std::max(room[static_cast<std::size_t>(at.id)], answers + 1);
        }
    }
    const std::shared_ptr<AdapterLink> link = linkAt(code);
    if (!link) {
        return AdapterFailure;
    }
    FastSearchTiming& timing = *timing_;
    CodeSurvey survey(*link, timing);
    WalkHeard heard;
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    if (survey.walk(code, stopped, nullptr, heard, &room) == AdapterFailure) {
        return AdapterFailure;
    }
    if (heard.sendFailure != Success) {
        return heard.sendFailure;  // an ID not pinged would pass for one where nobody answers
    }
    for (int id = 0; id < kIds; ++id) {
        const int answers = heard.counts[static_cast<std::size_t>(id)];
        if (answers > 1) {
            crowds_[{code, id}] = answers;
        } else if (answers == 1) {
            crowds_.erase({code, id});  // one device there now
        }
    }
    look.complete = heard.complete;
    look.walked = look.complete;
    std::array<int, kIds> counts = heard.counts;

    // A broken reply reached the host at most a reply window and the allowance after its
    // ping, and was found broken once the bytes after it came: the IDs pinged in that span
    // are asked again, one at a time, with the timed ping.
    const std::int64_t windowUs =
        FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code);
    const std::int64_t reachUs = 2 * windowUs + timing.latencyAllowanceUs() + 1000;
    std::vector<int> suspects;
    for (const std::int64_t brokenUs : heard.brokenAtUs) {
        for (int id = 0; id < kIds; ++id) {
            const std::int64_t at = heard.sentUs[static_cast<std::size_t>(id)];
            if (at >= 0 && at <= brokenUs && at >= brokenUs - reachUs &&
                counts[static_cast<std::size_t>(id)] == 0) {
                addId(suspects, id);
            }
        }
    }
    bool explained = false;
    for (const int id : suspects) {
        Answer answer = Answer::None;
        int answers = 0;
        if (const int asked = askAlone(*link, timing, code, id, answer, answers);
            asked != Success) {
            return asked;
        }
        if (answer == Answer::Broken) {
            addId(look.garbled, id);
            int& crowd = crowds_[{code, id}];
            crowd = std::max({crowd, 2, answers});
            explained = true;
        } else if (answer == Answer::Clean) {
            counts[static_cast<std::size_t>(id)] = 1;  // a reply spoilt once on the line
            explained = true;
        }
    }
    link->purgeReceive();
    countInto(counts, look);
    look.noise = look.noise || (!heard.brokenAtUs.empty() && !explained);
    if (!look.garbled.empty()) {
        look.noise = false;  // the broadcast's broken answers were these
    }
    return Success;
}

int BusSweep::anyoneAt(const DeviceAddress& address, bool& answered, bool* broken) {
    answered = false;
    if (broken != nullptr) {
        *broken = false;
    }
    const std::shared_ptr<AdapterLink> link = linkAt(address.code);
    if (!link) {
        return AdapterFailure;
    }
    Answer answer = Answer::None;
    int answers = 0;
    if (const int asked = askAlone(*link, *timing_, address.code, address.id, answer, answers);
        asked != Success) {
        return asked;
    }
    answered = answer != Answer::None;
    if (broken != nullptr) {
        *broken = answer == Answer::Broken;
    }
    return Success;
}

int BusSweep::probe(const DeviceAddress& address, DeviceEntry*& entry) {
    entry = nullptr;
    if (tune(address.code) != Success) {
        return AdapterFailure;
    }
    DeviceEntry* candidate = registry_.appendPlaceholder();
    int result = candidate->probe(address.code, address.id);
    if (result == CorruptReply) {
        result = candidate->probe(address.code, address.id);  // once more, as the search does
    }
    if (result != Success) {
        registry_.removeAt(registry_.entryCount() - 1);
        return result;
    }
    entry = candidate;
    return Success;
}

int BusSweep::search(const std::vector<int>& codes, const std::atomic<bool>* stop,
                     const SweepProgress& progress, std::vector<CodeLook>& looks) {
    looks.clear();
    const auto stopped = [stop] { return stop != nullptr && stop->load(); };
    const int total = static_cast<int>(codes.size());
    for (int i = 0; i < total && !stopped(); ++i) {
        if (progress) {
            progress(codes[static_cast<std::size_t>(i)], i * 90 / std::max(total, 1));
        }
        CodeLook look;
        int result = broadcast(codes[static_cast<std::size_t>(i)], look);
        if (result == Success && look.heard) {
            result = walk(look.code, stop, look);
        }
        if (result != Success) {
            return result;
        }
        looks.push_back(look);
    }
    for (const CodeLook& look : looks) {
        for (const int id : look.answered) {
            if (stopped()) {
                return Success;
            }
            DeviceEntry* entry = nullptr;
            if (probe({look.code, id}, entry) == AdapterFailure) {
                return AdapterFailure;
            }
        }
    }
    if (progress && !stopped()) {
        progress(codes.empty() ? -1 : codes.back(), 100);
    }
    return Success;
}

}  // namespace mvx
