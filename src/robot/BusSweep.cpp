#include "robot/BusSweep.h"

#include <algorithm>
#include <array>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/ReplyListener.h"

namespace mvx {

namespace {

constexpr int kIds = 254;           // IDs 0-253
constexpr int kPingBytes = 6;       // a ping on the wire
constexpr int kPingReplyBytes = 6;  // the status packet answering it

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

// Pings `id` alone and listens until the answers of two devices at that ID, one after the
// other, would be over: what came back. 100, or the failure of the send (a ping not sent
// tells nothing of who is there) or of the adapter.
int askAlone(AdapterLink& link, FastSearchTiming& timing, int code, int id, Answer& answer) {
    answer = Answer::None;
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
    if (listener.until(endUs, [&clean, id](const ScannedReply& reply, std::int64_t) {
            clean += reply.id == id && reply.parameterCount == 0 ? 1 : 0;
        }) == AdapterFailure) {
        return AdapterFailure;
    }
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
    FastSearchTiming& timing = *timing_;
    const int sent = sendWhenFree(*link, InstructionPacket::make(kBroadcastId, Ping));
    if (sent != Success) {
        return sent;
    }
    const std::int64_t sentUs = link->clock().nowUs();
    ReplyListener listener(*link);
    std::array<int, kIds> counts{};
    bool timed = false;
    const auto onAnswer = [&](const ScannedReply& reply, std::int64_t arrivedUs) {
        if (!timed) {  // only the first answer is a sample: the later ones may have waited
            timed = true;
            timing.observe(sentUs, arrivedUs, kPingBytes, kPingReplyBytes, code);
        }
        if (reply.id < kIds && reply.parameterCount == 0) {
            ++counts[reply.id];
        }
    };
    // Silent once an answer's first byte would have reached the host and no answer can still
    // be on the wire.
    const std::int64_t silentUs =
        sentUs + std::max(FastSearchTiming::firstByteWindowUs(kPingBytes, code) +
                              timing.latencyAllowanceUs(),
                          FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code));
    if (listener.until(silentUs, onAnswer, true) == AdapterFailure) {
        return AdapterFailure;
    }
    if (!listener.heard()) {
        return Success;
    }
    look.heard = true;
    if (listener.until(sentUs + kBroadcastAnswersUs, onAnswer) == AdapterFailure) {
        return AdapterFailure;
    }
    link->purgeReceive();
    countInto(counts, look);
    look.noise = !listener.brokenAtUs().empty();
    return Success;
}

int BusSweep::walk(int code, const std::atomic<bool>* stop, CodeLook& look) {
    look.code = code;
    const std::shared_ptr<AdapterLink> link = linkAt(code);
    if (!link) {
        return AdapterFailure;
    }
    FastSearchTiming& timing = *timing_;
    link->purgePending().store(0);  // a purge before a ping would drop the replies on their way
    ReplyListener listener(*link);
    std::array<std::int64_t, kIds> sentUs;
    sentUs.fill(-1);
    std::array<int, kIds> counts{};
    const auto credit = [&](const ScannedReply& reply, std::int64_t arrivedUs) {
        if (reply.id >= kIds || sentUs[reply.id] < 0 || reply.parameterCount != 0) {
            return;  // not an answer to one of this walk's pings
        }
        if (++counts[reply.id] == 1) {
            timing.observe(sentUs[reply.id], arrivedUs, kPingBytes, kPingReplyBytes, code);
        }
    };
    const std::int64_t windowUs =
        FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code);
    std::int64_t nextUs = link->clock().nowUs();
    for (int id = 0; id < kIds; ++id) {
        if (stop != nullptr && stop->load()) {
            look.complete = false;
            break;
        }
        if (listener.until(nextUs, credit) == AdapterFailure) {
            return AdapterFailure;
        }
        const int sent =
            sendWhenFree(*link, InstructionPacket::make(static_cast<std::uint8_t>(id), Ping));
        if (sent != Success) {
            return sent;  // an ID not pinged would pass for one where nobody answers
        }
        const std::int64_t nowUs = link->clock().nowUs();
        sentUs[static_cast<std::size_t>(id)] = nowUs;
        nextUs = nowUs + windowUs;
    }
    if (listener.until(nextUs + timing.latencyAllowanceUs(), credit) == AdapterFailure) {
        return AdapterFailure;
    }
    link->purgeReceive();
    look.walked = look.complete;

    // A broken reply reached the host at most a reply window and the allowance after its
    // ping, and was found broken once the bytes after it came: the IDs pinged in that span
    // are asked again, one at a time, with the timed ping.
    const std::int64_t reachUs = 2 * windowUs + timing.latencyAllowanceUs() + 1000;
    std::vector<int> suspects;
    for (const std::int64_t brokenUs : listener.brokenAtUs()) {
        for (int id = 0; id < kIds; ++id) {
            const std::int64_t at = sentUs[static_cast<std::size_t>(id)];
            if (at >= 0 && at <= brokenUs && at >= brokenUs - reachUs &&
                counts[static_cast<std::size_t>(id)] == 0) {
                addId(suspects, id);
            }
        }
    }
    bool explained = false;
    for (const int id : suspects) {
        Answer answer = Answer::None;
        if (const int asked = askAlone(*link, timing, code, id, answer); asked != Success) {
            return asked;
        }
        if (answer == Answer::Broken) {
            addId(look.garbled, id);
            explained = true;
        } else if (answer == Answer::Clean) {
            counts[static_cast<std::size_t>(id)] = 1;  // a reply spoilt once on the line
            explained = true;
        }
    }
    link->purgeReceive();
    countInto(counts, look);
    look.noise = look.noise || (!listener.brokenAtUs().empty() && !explained);
    if (!look.garbled.empty()) {
        look.noise = false;  // the broadcast's broken answers were these
    }
    return Success;
}

int BusSweep::anyoneAt(const DeviceAddress& address, bool& answered) {
    answered = false;
    const std::shared_ptr<AdapterLink> link = linkAt(address.code);
    if (!link) {
        return AdapterFailure;
    }
    Answer answer = Answer::None;
    if (const int asked = askAlone(*link, *timing_, address.code, address.id, answer);
        asked != Success) {
        return asked;
    }
    answered = answer != Answer::None;
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
