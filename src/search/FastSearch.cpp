// The fast search (SearchEngine::fastSearch): the standard search's steps with waits timed from
// the wire and the adapter (FastSearchTiming), and a walk over the IDs that does not wait for
// each ping's reply to reach the host, only for it to be over on the wire.
//
// Per code: the rate change with a short settle; the broadcast ping, and a wait for its first
// answer byte as long as that can take; silence ends the code, as in the standard search. When
// anything was heard (a good answer, or a corrupt one from colliding answers), the answers are
// let run out until the line has been quiet for a whole reply window. Then every ID is pinged,
// each ping one reply window after the one before, while whatever reaches the host is scanned
// for status packets and each ping reply is credited to its ID, however late it comes. After
// the last ping the replies still on their way are awaited, and the IDs that answered are
// probed in ascending order with the standard search's probe, so the list and its records come
// out as the standard search makes them.
#include <algorithm>
#include <array>
#include <span>
#include <vector>

#include "device/DeviceRegistry.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/FastSearchTiming.h"
#include "search/ReplyScanner.h"
#include "search/SearchEngine.h"

namespace mvx {

namespace {

constexpr int kIdsPerCode = 254;
constexpr int kPingBytes = 6;       // a ping on the wire
constexpr int kPingReplyBytes = 6;  // the status packet answering it

// Reads what reaches the host into a scanner, and tells when it arrived.
class Listener {
public:
    explicit Listener(AdapterLink& link) : link_(link) {}

    // Reads until `deadlineUs` (or, with `untilHeard`, until the first bytes came); each
    // packet completed goes to `onReply` with the time of the read that completed it. 100 or
    // 101.
    template <typename OnReply>
    int until(std::int64_t deadlineUs, OnReply&& onReply, bool untilHeard = false) {
        Clock& clock = link_.clock();
        for (;;) {
            const std::int64_t remaining = deadlineUs - clock.nowUs();
            if (remaining < 1000) {
                // The read timeout counts whole milliseconds: the rest is slept, then what has
                // come meanwhile is taken.
                clock.sleepUs(remaining);
                return drain(onReply);
            }
            std::uint32_t got = 0;
            const std::uint32_t want = std::min<std::uint32_t>(scanner_.bytesWanted(), kChunk);
            const int result = link_.readWithin(buffer_.data(), want, got,
                                                static_cast<std::uint32_t>(remaining / 1000));
            if (result == AdapterFailure) {
                return AdapterFailure;
            }
            take(got, onReply);
            if (untilHeard && heard()) {
                return Success;
            }
        }
    }

    // Reads until nothing has arrived for `quietUs`. 100 or 101.
    template <typename OnReply>
    int untilQuiet(std::int64_t quietUs, OnReply&& onReply) {
        for (;;) {
            const std::int64_t last = lastArrivalUs_;
            const int result = until(last + quietUs, onReply);
            if (result != Success || lastArrivalUs_ == last) {
                return result;
            }
        }
    }

    bool heard() const { return scanner_.bytesSeen() != 0; }
    std::int64_t lastArrivalUs() const { return lastArrivalUs_; }
    void clear() {
        scanner_.clear();
        lastArrivalUs_ = link_.clock().nowUs();
    }

private:
    static constexpr std::uint32_t kChunk = 256;

    // Takes what has arrived by now, without waiting.
    template <typename OnReply>
    int drain(OnReply&& onReply) {
        for (;;) {
            std::uint32_t queued = 0;
            if (link_.queueLength(queued) != Success) {
                return AdapterFailure;
            }
            if (queued == 0) {
                return Success;
            }
            std::uint32_t got = 0;
            if (link_.readWithin(buffer_.data(), std::min(queued, kChunk), got, 0) ==
                AdapterFailure) {
                return AdapterFailure;
            }
            if (got == 0) {
                return Success;
            }
            take(got, onReply);
        }
    }

    template <typename OnReply>
    void take(std::uint32_t got, OnReply&& onReply) {
        if (got == 0) {
            return;
        }
        lastArrivalUs_ = link_.clock().nowUs();
        replies_.clear();
        scanner_.feed(buffer_.data(), got, replies_);
        for (const ScannedReply& reply : replies_) {
            onReply(reply, lastArrivalUs_);
        }
    }

    AdapterLink& link_;
    ReplyScanner scanner_;
    std::vector<ScannedReply> replies_;
    std::array<std::uint8_t, kChunk> buffer_{};
    std::int64_t lastArrivalUs_ = 0;
};

// Sends once no other caller holds the link, looking again every millisecond as a transaction
// does. The send's result: 100, 101 or 102.
int sendWhenFree(AdapterLink& link, const InstructionPacket& packet) {
    int result = sendPacket(link, packet);
    while (result == Busy) {
        link.clock().sleepMs(1);
        result = sendPacket(link, packet);
    }
    return result;
}

}  // namespace

int SearchEngine::fastSearch(int mode) {
    std::shared_ptr<AdapterLink> link;
    DeviceEntry* placeholder = nullptr;
    std::span<const std::uint8_t> codes;
    if (const int started = beginSearch(mode, link, placeholder, codes); started != Success) {
        return started;
    }
    const double total = static_cast<double>(codes.size()) * kIdsPerCode;
    double steps = 0.0;
    // Ends and stops as the standard search does (see search()), with the link's timed reads
    // as they were.
    auto abort = [this, &placeholder, &link](int result) {
        link->setReceiveAllowanceMs(0);
        return endSearch(placeholder, result);
    };
    auto finish = [this, &placeholder, &link] {
        link->setReceiveAllowanceMs(0);
        return endSearch(placeholder, Success);
    };
    auto publish = [this, &steps, total] {
        registry_.searchProgress = static_cast<int>(steps * 100.0 / total);
    };

    Clock& clock = link->clock();
    FastSearchTiming timing(link->receiveLatencyUs());
    Listener listener(*link);

    for (const std::uint8_t code : codes) {
        int result = link->setBaudCode(code, FastSearchTiming::settleUs(code));
        if (result != Success) {
            return abort(result);
        }
        result = broadcastAt(*link, code);
        if (result != Success) {
            return abort(result);
        }
        const std::int64_t broadcastUs = clock.nowUs();
        listener.clear();
        bool timed = false;
        const auto firstAnswer = [&](const ScannedReply&, std::int64_t arrivedUs) {
            // Only the first answer is a sample: later ones may have waited for it.
            if (!timed) {
                timed = true;
                timing.observe(broadcastUs, arrivedUs, kPingBytes, kPingReplyBytes, code);
            }
        };
        // Silent once an answer's first byte would have reached the host, and no answer can
        // still be on the wire.
        const std::int64_t silentUs =
            broadcastUs +
            std::max(
                FastSearchTiming::firstByteWindowUs(kPingBytes, code) + timing.latencyAllowanceUs(),
                FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code));
        if (listener.until(silentUs, firstAnswer, true) == AdapterFailure) {
            return abort(AdapterFailure);
        }
        if (!listener.heard()) {
            steps += kIdsPerCode;
            publish();
            if (registry_.searching == 0) {
                return finish();
            }
            continue;
        }

        // Someone answered: the other answers may follow one after another.
        const std::int64_t quietUs = FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) +
                                     timing.latencyAllowanceUs();
        if (listener.untilQuiet(quietUs, firstAnswer) == AdapterFailure) {
            return abort(AdapterFailure);
        }
        link->purgeReceive();
        link->purgePending().store(0);
        listener.clear();

        std::array<std::int64_t, kIdsPerCode> sentUs;
        sentUs.fill(-1);
        std::array<bool, kIdsPerCode> answered{};
        const auto credit = [&](const ScannedReply& reply, std::int64_t arrivedUs) {
            if (reply.id >= kIdsPerCode || sentUs[reply.id] < 0 || reply.parameterCount != 0 ||
                answered[reply.id]) {
                return;  // not the answer to one of this walk's pings
            }
            answered[reply.id] = true;
            timing.observe(sentUs[reply.id], arrivedUs, kPingBytes, kPingReplyBytes, code);
        };
        const std::int64_t windowUs =
            FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code);
        std::int64_t nextSendUs = clock.nowUs();
        bool stopped = false;
        for (int id = 0; id < kIdsPerCode; ++id) {
            registry_.searchId = id;
            if (listener.until(nextSendUs, credit) == AdapterFailure) {
                return abort(AdapterFailure);
            }
            result =
                sendWhenFree(*link, InstructionPacket::make(static_cast<std::uint8_t>(id), Ping));
            if (result == AdapterFailure) {
                return abort(AdapterFailure);
            }
            const std::int64_t now = clock.nowUs();
            if (result == Success) {
                sentUs[static_cast<std::size_t>(id)] = now;
            }
            nextSendUs = now + windowUs;
            // The code's last step is counted once its devices are probed, so the progress
            // reaches 100 only with the list complete.
            if (id + 1 < kIdsPerCode) {
                steps += 1.0;
                publish();
            }
            if (registry_.searching == 0) {
                stopped = true;
                break;
            }
        }
        // The replies still on their way.
        if (listener.until(nextSendUs + timing.latencyAllowanceUs(), credit) == AdapterFailure) {
            return abort(AdapterFailure);
        }
        link->purgeReceive();

        // The probes' timed reads were made for an adapter that hands replies over within a
        // millisecond: they get the latency allowance on top.
        link->setReceiveAllowanceMs(
            static_cast<std::uint32_t>((timing.latencyAllowanceUs() + 999) / 1000));
        for (int id = 0; id < kIdsPerCode; ++id) {
            if (!answered[static_cast<std::size_t>(id)]) {
                continue;
            }
            registry_.searchId = id;
            if (probeAnswered(placeholder, code, id) == AdapterFailure) {
                return abort(AdapterFailure);
            }
            if (!stopped && registry_.searching == 0) {
                return finish();
            }
        }
        if (stopped) {
            return finish();
        }
        steps += 1.0;
        publish();
    }
    return finish();
}

}  // namespace mvx
