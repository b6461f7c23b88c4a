#include "robot/BusSweep.h"

#include <algorithm>
#include <array>

#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/ReplyScanner.h"

namespace mvx {

namespace {

constexpr int kIds = 254;           // IDs 0-253
constexpr int kPingBytes = 6;       // a ping on the wire
constexpr int kPingReplyBytes = 6;  // the status packet answering it

// Takes what reaches the host into a reply scanner, noting when it came and when bytes turned
// out broken.
class Intake {
public:
    explicit Intake(AdapterLink& link) : link_(link) {}

    // Reads until `deadlineUs` (with `untilHeard`, only until the first bytes came); each
    // packet completed goes to `onReply(reply, arrivedUs)`. 100 or 101.
    template <typename OnReply>
    int until(std::int64_t deadlineUs, OnReply&& onReply, bool untilHeard = false) {
        Clock& clock = link_.clock();
        for (;;) {
            const std::int64_t leftUs = deadlineUs - clock.nowUs();
            std::uint32_t want = std::min<std::uint32_t>(scanner_.bytesWanted(), kChunk);
            std::uint32_t timeoutMs = 0;
            if (leftUs >= 1000) {
                timeoutMs = static_cast<std::uint32_t>(leftUs / 1000);
            } else {
                // A read times whole milliseconds: the rest is slept, then what came is taken.
                clock.sleepUs(leftUs);
                std::uint32_t queued = 0;
                if (link_.queueLength(queued) != Success) {
                    return AdapterFailure;
                }
                if (queued == 0) {
                    return Success;
                }
                want = std::min(queued, kChunk);
            }
            std::uint32_t got = 0;
            if (link_.readWithin(buffer_.data(), want, got, timeoutMs) == AdapterFailure) {
                return AdapterFailure;
            }
            if (got > 0) {
                const std::int64_t nowUs = clock.nowUs();
                const std::size_t skipped = scanner_.bytesSkipped();
                replies_.clear();
                scanner_.feed(buffer_.data(), got, replies_);
                if (scanner_.bytesSkipped() > skipped) {
                    brokenAtUs_.push_back(nowUs);
                }
                for (const ScannedReply& reply : replies_) {
                    onReply(reply, nowUs);
                }
            }
            if (untilHeard && heard()) {
                return Success;
            }
        }
    }

    bool heard() const { return scanner_.bytesSeen() != 0; }
    // When bytes were found broken (the read that showed it), in order.
    const std::vector<std::int64_t>& brokenAtUs() const { return brokenAtUs_; }

private:
    static constexpr std::uint32_t kChunk = 256;

    AdapterLink& link_;
    ReplyScanner scanner_;
    std::vector<ScannedReply> replies_;
    std::vector<std::int64_t> brokenAtUs_;
    std::array<std::uint8_t, kChunk> buffer_{};
};

// Sends once no other caller holds the link, looking again every millisecond as a transaction
// does: 100, 101 or 102.
int sendWhenFree(AdapterLink& link, const InstructionPacket& packet) {
    int result = sendPacket(link, packet);
    while (result == Busy) {
        link.clock().sleepMs(1);
        result = sendPacket(link, packet);
    }
    return result;
}

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
// other, would be over: what came back. 101 when the adapter failed, else 100.
int askAlone(AdapterLink& link, FastSearchTiming& timing, int code, int id, Answer& answer) {
    answer = Answer::None;
    link.purgeReceive();
    const int sent =
        sendWhenFree(link, InstructionPacket::make(static_cast<std::uint8_t>(id), Ping));
    if (sent != Success) {
        return sent == AdapterFailure ? AdapterFailure : Success;
    }
    const std::int64_t sentUs = link.clock().nowUs();
    Intake intake(link);
    int clean = 0;
    const std::int64_t endUs =
        sentUs + FastSearchTiming::replyWindowUs(kPingBytes, 2 * kPingReplyBytes + 1, code) +
        timing.latencyAllowanceUs();
    if (intake.until(endUs, [&clean, id](const ScannedReply& reply, std::int64_t) {
            clean += reply.id == id && reply.parameterCount == 0 ? 1 : 0;
        }) == AdapterFailure) {
        return AdapterFailure;
    }
    link.purgeReceive();
    if (!intake.brokenAtUs().empty() || clean > 1) {
        answer = Answer::Broken;
    } else if (intake.heard()) {
        answer = Answer::Clean;
    }
    return Success;
}

}  // namespace

BusSweep::BusSweep(DeviceRegistry& registry) : registry_(registry) {}

BusSweep::~BusSweep() = default;

FastSearchTiming& BusSweep::timing(AdapterLink& link) {
    if (!timing_) {
        timing_ = std::make_unique<FastSearchTiming>(link.receiveLatencyUs());
    }
    return *timing_;
}

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
    return link;
}

int BusSweep::broadcast(int code, CodeLook& look) {
    look = CodeLook{};
    look.code = code;
    const std::shared_ptr<AdapterLink> link = linkAt(code);
    if (!link) {
        return AdapterFailure;
    }
    FastSearchTiming& timing = this->timing(*link);
    Clock& clock = link->clock();
    const int sent = sendWhenFree(*link, InstructionPacket::make(kBroadcastId, Ping));
    if (sent != Success) {
        return sent;
    }
    const std::int64_t sentUs = clock.nowUs();
    Intake intake(*link);
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
    if (intake.until(silentUs, onAnswer, true) == AdapterFailure) {
        return AdapterFailure;
    }
    if (!intake.heard()) {
        return Success;
    }
    look.heard = true;
    if (intake.until(sentUs + kBroadcastAnswersUs, onAnswer) == AdapterFailure) {
        return AdapterFailure;
    }
    link->purgeReceive();
    countInto(counts, look);
    look.noise = !intake.brokenAtUs().empty();
    return Success;
}

int BusSweep::walk(int code, const std::atomic<bool>* stop, CodeLook& look) {
    look.code = code;
    const std::shared_ptr<AdapterLink> link = linkAt(code);
    if (!link) {
        return AdapterFailure;
    }
    FastSearchTiming& timing = this->timing(*link);
    Clock& clock = link->clock();
    link->purgePending().store(0);  // a purge before a ping would drop the replies on their way
    Intake intake(*link);
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
    std::int64_t nextUs = clock.nowUs();
    for (int id = 0; id < kIds; ++id) {
        if (stop != nullptr && stop->load()) {
            look.complete = false;
            break;
        }
        if (intake.until(nextUs, credit) == AdapterFailure) {
            return AdapterFailure;
        }
        const int sent =
            sendWhenFree(*link, InstructionPacket::make(static_cast<std::uint8_t>(id), Ping));
        if (sent == AdapterFailure) {
            return AdapterFailure;
        }
        const std::int64_t nowUs = clock.nowUs();
        if (sent == Success) {
            sentUs[static_cast<std::size_t>(id)] = nowUs;
        }
        nextUs = nowUs + windowUs;
    }
    if (intake.until(nextUs + timing.latencyAllowanceUs(), credit) == AdapterFailure) {
        return AdapterFailure;
    }
    link->purgeReceive();
    look.walked = look.complete;

    // A broken reply reached the host at most a reply window and the allowance after its
    // ping, and was found broken once the bytes after it came: the IDs pinged in that span
    // are asked again, one at a time, with the timed ping.
    const std::int64_t reachUs = 2 * windowUs + timing.latencyAllowanceUs() + 1000;
    std::vector<int> suspects;
    for (const std::int64_t brokenUs : intake.brokenAtUs()) {
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
        if (askAlone(*link, timing, code, id, answer) != Success) {
            return AdapterFailure;
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
    look.noise = look.noise || (!intake.brokenAtUs().empty() && !explained);
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
    if (askAlone(*link, timing(*link), address.code, address.id, answer) != Success) {
        return AdapterFailure;
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
