#include "search/CodeSurvey.h"

#include <algorithm>

#include "link/AdapterLink.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/ReplyListener.h"

namespace mvx {

namespace {}  // namespace

CodeSurvey::CodeSurvey(AdapterLink& link)
    : link_(link), own_(link.receiveLatencyUs()), timing_(own_) {}

CodeSurvey::CodeSurvey(AdapterLink& link, FastSearchTiming& timing)
    : link_(link), own_(-1), timing_(timing) {}

int CodeSurvey::tune(int code) {
    return link_.setBaudCode(static_cast<std::uint8_t>(code), FastSearchTiming::settleUs(code)) ==
                   Success
               ? Success
               : AdapterFailure;
}

int CodeSurvey::broadcast(int code, bool quickLook, const Stopped& stopped,
                          const std::function<void()>& makingSure, BroadcastHeard& out) {
    out = BroadcastHeard{};
    link_.purgeReceive();  // stale input is no answer to this broadcast
    const int sent = sendWhenFree(link_, InstructionPacket::make(kBroadcastId, Ping));
    if (sent != Success) {
        return sent;
    }
    const std::int64_t sentUs = link_.clock().nowUs();
    ReplyListener listener(link_);
    listener.clear();
    // Each answer is a sample of how late replies reach the host, counted from when it could
    // have started had it waited for each answer before it to end (an answer and a byte of idle
    // line each): a device that answers later than its return delay allows shows here first.
    const std::int64_t queuedUs = FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) -
                                  FastSearchTiming::kMaxReturnDelayUs;
    int answers = 0;
    const auto onAnswer = [&](const ScannedReply& reply, std::int64_t arrivedUs) {
        timing_.observe(sentUs + answers * queuedUs, arrivedUs, kPingBytes, kPingReplyBytes, code);
        ++answers;
        if (reply.id < kIds && reply.parameterCount == 0) {
            ++out.counts[reply.id];
        }
    };
    // Until the first byte of a prompt answer would have reached the host, and no prompt
    // answer can still be on the wire.
    const std::int64_t shortUs =
        sentUs + std::max(FastSearchTiming::firstByteWindowUs(kPingBytes, code) +
                              timing_.latencyAllowanceUs(),
                          FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code));
    if (listener.until(shortUs, onAnswer, true) == AdapterFailure) {
        return AdapterFailure;
    }
    if (!listener.heard()) {
        if (quickLook) {
            return Success;  // passed as silent, not sure
        }
        if (makingSure) {
            makingSure();
        }
    }
    // The devices start their answers within 500 ms of the broadcast's end on the wire: until
    // the first byte of one that starts at the last moment would have reached the host.
    const std::int64_t answersUs = sentUs + kBroadcastAnswersUs +
                                   FastSearchTiming::firstByteWindowUs(kPingBytes, code) +
                                   timing_.latencyAllowanceUs();
    if (listener.until(answersUs, onAnswer) == AdapterFailure) {
        return AdapterFailure;
    }
    out.sure = true;
    if (listener.heard()) {
        // Until the line has been quiet for an answer and a byte of idle line, and the latency.
        const std::int64_t quietUs = FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) +
                                     timing_.latencyAllowanceUs();
        const int quiet = listener.untilQuiet(quietUs, answersUs + kQuietBoundUs, onAnswer,
                                              [&stopped] { return stopped && stopped(); });
        if (quiet == AdapterFailure) {
            return AdapterFailure;
        }
        out.sure = quiet == Success;
    }
    link_.purgeReceive();
    out.heard = listener.heard();
    out.broken = !listener.brokenAtUs().empty();
    out.bytes = static_cast<int>(listener.bytesSeen());
    for (const int id : listener.brokenIds()) {
        if (id < kIds) {
            out.named.push_back(id);
        }
    }
    return Success;
}

int CodeSurvey::quietLine(int code, int replyBytes, const Stopped& stopped) {
    ReplyListener listener(link_);
    listener.clear();
    const std::int64_t quietUs =
        FastSearchTiming::replyWindowUs(0, replyBytes + 1, code) + timing_.latencyAllowanceUs();
    const int quiet = listener.untilQuiet(
        quietUs, link_.clock().nowUs() + quietUs + kQuietBoundUs,
        [](const ScannedReply&, std::int64_t) {}, [&stopped] { return stopped && stopped(); });
    if (quiet != AdapterFailure) {
        link_.purgeReceive();
        link_.purgePending().store(0);
    }
    return quiet;
}

int CodeSurvey::walk(int code, const Stopped& stopped,
                     const std::function<void(int id)>& beforePing, WalkHeard& out,
                     const AnswerRoom* room) {
    out = WalkHeard{};
    out.sentUs.fill(-1);
    link_.purgeReceive();
    link_.purgePending().store(0);  // a purge before a ping would drop the replies on their way
    ReplyListener listener(link_);
    listener.clear();
    const auto credit = [&](const ScannedReply& reply, std::int64_t arrivedUs) {
        if (reply.id >= kIds || out.sentUs[reply.id] < 0 || reply.parameterCount != 0) {
            return;  // not the answer to one of this walk's pings
        }
        if (++out.counts[reply.id] == 1) {
            timing_.observe(out.sentUs[reply.id], arrivedUs, kPingBytes, kPingReplyBytes, code);
        }
    };
    const std::int64_t windowUs =
        FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code);
    // Several answers, with a byte of idle line between them.
    const auto windowOf = [&](int id) {
        const int answers = room != nullptr ? (*room)[static_cast<std::size_t>(id)] : 1;
        return answers <= 1 ? windowUs
                            : FastSearchTiming::replyWindowUs(
                                  kPingBytes, answers * (kPingReplyBytes + 1) - 1, code);
    };
    // An answer and a byte of idle line, and the latency.
    const std::int64_t quietUs = FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) +
                                 timing_.latencyAllowanceUs();
    const auto isStopped = [&stopped] { return stopped && stopped(); };
    Clock& clock = link_.clock();
    std::int64_t nextSendUs = clock.nowUs();
    out.complete = true;
    for (int id = 0; id < kIds; ++id) {
        if (stopped && stopped()) {
            out.complete = false;
            break;
        }
        if (beforePing) {
            beforePing(id);
        }
        if (listener.until(nextSendUs, credit) == AdapterFailure) {
            return AdapterFailure;
        }
        // Bytes that came only just now may be followed by more (several devices at one
        // address answer one after the other): the next ping waits for a quiet line.
        if (listener.heard() && listener.lastArrivalUs() + quietUs > clock.nowUs() &&
            listener.untilQuiet(quietUs, clock.nowUs() + kQuietBoundUs, credit, isStopped) ==
                AdapterFailure) {
            return AdapterFailure;
        }
        const int sent =
            sendWhenFree(link_, InstructionPacket::make(static_cast<std::uint8_t>(id), Ping));
        if (sent == AdapterFailure) {
            return AdapterFailure;
        }
        const std::int64_t nowUs = clock.nowUs();
        if (sent == Success) {
            out.sentUs[static_cast<std::size_t>(id)] = nowUs;
        } else if (out.sendFailure == Success) {
            out.sendFailure = sent;  // an ID not pinged is not one where nobody answers
        }
        nextSendUs = nowUs + windowOf(id);
    }
    // The replies still on their way, for as long as the allowance says, and longer when late
    // replies among them make it grow.
    for (std::int64_t deadlineUs = nextSendUs + timing_.latencyAllowanceUs();;) {
        if (listener.until(deadlineUs, credit) == AdapterFailure) {
            return AdapterFailure;
        }
        const std::int64_t grownUs = nextSendUs + timing_.latencyAllowanceUs();
        if (grownUs <= deadlineUs) {
            break;
        }
        deadlineUs = grownUs;
    }
    link_.purgeReceive();
    out.brokenAtUs = listener.brokenAtUs();
    return Success;
}

}  // namespace mvx
