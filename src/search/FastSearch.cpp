// The fast search (SearchEngine::fastSearch): the standard search's steps with waits timed from
// the wire and the adapter (FastSearchTiming), and a walk over the IDs that does not wait for
// each ping's reply to reach the host, only for it to be over on the wire.
//
// Per code: the rate change with a short settle; the broadcast ping, and a wait for its first
// answer byte as long as that can take; silence ends the code. When anything was heard (a good
// answer, or a corrupt one from colliding answers), the answers get the standard search's
// 500 ms, as nothing bounds how long devices take to answer one broadcast between them, and are
// then let run out until the line has been quiet for a whole reply window. Then every ID is
// pinged, each ping one reply window after the one before, while whatever reaches the host is
// scanned for status packets and each ping reply is credited to its ID, however late it comes.
// After the last ping the replies still on their way are awaited, and the IDs that answered
// are probed in ascending order with the standard search's probe, so the list and its records
// come out as the standard search makes them.
//
// Late broadcast answers: an answer that comes after the silent-code wait (the first one, or a
// later one later than it could have come queued behind the answers before it), one that comes
// from a code already passed as silent before the next purge, or a code whose broadcast was
// heard but where no ID answers, show a bus whose devices space their answers out. From then
// on every code gets the 500 ms, and the codes passed as silent after the short wait are
// visited again with it; what is found there takes its place in the list by the order of the
// codes.
#include <algorithm>
#include <array>
#include <atomic>
#include <numeric>
#include <span>
#include <vector>

#include "device/DeviceRegistry.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"
#include "search/FastSearchTiming.h"
#include "search/ReplyListener.h"
#include "search/ReplyScanner.h"
#include "search/SearchEngine.h"

namespace mvx {

namespace {

constexpr int kIdsPerCode = 254;
constexpr int kPingBytes = 6;                      // a ping on the wire
constexpr int kPingReplyBytes = 6;                 // the status packet answering it
constexpr std::int64_t kBroadcastWaitUs = 500000;  // the standard search's wait for the answers

// The progress in steps (254 a code visited), published as a percentage. Visits added on the
// way stretch what is left of the bar, so the percentage never falls.
class Progress {
public:
    Progress(std::atomic<int>& out, double total) : out_(out), total_(total) {}

    void add(double steps) {
        done_ += steps;
        out_ = static_cast<int>(done_ * 100.0 / total_);
    }
    void extend(double steps) {
        const double left = total_ - done_;
        if (left <= 0.0) {
            total_ += steps;
            return;
        }
        // The share done stays; the rest now stands for `left + steps`.
        const double scale = (left + steps) / left;
        done_ *= scale;
        total_ *= scale;
    }

private:
    std::atomic<int>& out_;
    double total_;
    double done_ = 0.0;
};

// Moves the device just found at (codes[index], id) before the devices of codes that come
// after it in `codes`: a code visited again is searched after them.
void placeInListOrder(DeviceRegistry& registry, std::span<const std::uint8_t> codes,
                      std::size_t index, int id) {
    const auto rank = [codes](int code) {
        return static_cast<std::size_t>(std::find(codes.begin(), codes.end(), code) -
                                        codes.begin());
    };
    const int from = registry.indexOf(codes[index], id);
    for (int i = 0; i < from; ++i) {
        const DeviceEntry* entry = registry.entryAt(i);
        if (entry != nullptr && rank(entry->baudCode()) > index) {
            registry.move(from, i);
            return;
        }
    }
}

}  // namespace

int SearchEngine::fastSearch(int mode) {
    std::shared_ptr<AdapterLink> link;
    DeviceEntry* placeholder = nullptr;
    std::span<const std::uint8_t> codes;
    if (const int started = beginSearch(mode, link, placeholder, codes); started != Success) {
        return started;
    }
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
    Progress progress(registry_.searchProgress, static_cast<double>(codes.size()) * kIdsPerCode);

    Clock& clock = link->clock();
    FastSearchTiming timing(link->receiveLatencyUs());
    ReplyListener listener(*link);
    const auto ignore = [](const ScannedReply&, std::int64_t) {};

    // The codes in the order they are visited (indices into `codes`): each once, and once late
    // broadcast answers were seen, those passed as silent after the short wait once more.
    std::vector<std::size_t> visits(codes.size());
    std::iota(visits.begin(), visits.end(), std::size_t{0});
    std::vector<char> passedQuickly(codes.size(), 0);
    bool spaced = false;
    // After the visit at `at` come the visits again.
    const auto answersCameLate = [&](std::size_t at) {
        lateAnswers_ = true;
        if (spaced) {
            return;
        }
        spaced = true;
        std::vector<std::size_t> again;
        for (std::size_t i = 0; i < codes.size(); ++i) {
            if (passedQuickly[i] != 0) {
                again.push_back(i);
                passedQuickly[i] = 0;
            }
        }
        visits.insert(visits.begin() + static_cast<std::ptrdiff_t>(at) + 1, again.begin(),
                      again.end());
        progress.extend(static_cast<double>(again.size()) * kIdsPerCode);
    };

    bool lastPassedQuickly = false;
    for (std::size_t at = 0; at < visits.size(); ++at) {
        const std::size_t index = visits[at];
        const std::uint8_t code = codes[index];
        int result = link->setBaudCode(code, FastSearchTiming::settleUs(code));
        if (result != Success) {
            return abort(result);
        }
        if (lastPassedQuickly) {
            // What came before the purge below would drop it is an answer to the broadcast at
            // the code just passed as silent, later than its wait: the rest of it is let in.
            if (listener.takeArrived(ignore) == AdapterFailure) {
                return abort(AdapterFailure);
            }
            if (listener.heard()) {
                if (listener.until(clock.nowUs() + timing.latencyAllowanceUs(), ignore) ==
                    AdapterFailure) {
                    return abort(AdapterFailure);
                }
                answersCameLate(at);
            }
        }
        lastPassedQuickly = false;
        result = broadcastAt(*link, code);
        if (result != Success) {
            return abort(result);
        }
        const std::int64_t broadcastUs = clock.nowUs();
        listener.clear();
        // Silent once an answer's first byte would have reached the host, and no answer can
        // still be on the wire.
        const std::int64_t silentUs =
            broadcastUs +
            std::max(
                FastSearchTiming::firstByteWindowUs(kPingBytes, code) + timing.latencyAllowanceUs(),
                FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code));
        // Answers cannot all come at once: each may have waited for those before it to end on
        // the wire (an answer and a byte of idle line each).
        const std::int64_t queuedUs =
            FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) -
            FastSearchTiming::kMaxReturnDelayUs;
        const std::int64_t promptUs =
            broadcastUs + FastSearchTiming::replyWindowUs(kPingBytes, kPingReplyBytes, code) +
            timing.latencyAllowanceUs();
        bool pastSilent = false;
        bool heardInTime = false;
        bool pastPrompt = false;
        bool late = false;
        int answers = 0;
        // Late: the first answer when nothing was heard within the silent-code wait, a later
        // one when it was not in by the time a prompt answer queued behind those before it
        // would have been (what has come is taken at that time, so a reader that wakes up late
        // takes no answer for late).
        const auto onAnswer = [&](const ScannedReply&, std::int64_t arrivedUs) {
            const bool lateOne = pastSilent && (answers == 0 ? !heardInTime : pastPrompt);
            // The first answer and each late one are samples: the others may have waited.
            if (answers == 0 || lateOne) {
                timing.observe(broadcastUs, arrivedUs, kPingBytes, kPingReplyBytes, code);
            }
            late = late || lateOne;
            ++answers;
        };
        if (listener.until(silentUs, onAnswer, true) == AdapterFailure) {
            return abort(AdapterFailure);
        }
        pastSilent = true;
        heardInTime = listener.heard();
        if (!heardInTime && !spaced) {
            passedQuickly[index] = 1;
            lastPassedQuickly = true;
            progress.add(kIdsPerCode);
            if (registry_.searching == 0) {
                return finish();
            }
            continue;
        }

        // The prompt answers, each allowed to queue behind those before it.
        for (std::int64_t untilUs = promptUs;;) {
            if (listener.until(untilUs, onAnswer) == AdapterFailure) {
                return abort(AdapterFailure);
            }
            const std::int64_t queueUs = promptUs + answers * queuedUs;
            if (queueUs <= untilUs) {
                break;
            }
            untilUs = queueUs;
        }
        pastPrompt = true;
        // The standard search's wait, then until the answers have run out.
        if (listener.until(broadcastUs + kBroadcastWaitUs, onAnswer) == AdapterFailure) {
            return abort(AdapterFailure);
        }
        const std::int64_t quietUs = FastSearchTiming::replyWindowUs(0, kPingReplyBytes + 1, code) +
                                     timing.latencyAllowanceUs();
        if (listener.heard() && listener.untilQuiet(quietUs, onAnswer) == AdapterFailure) {
            return abort(AdapterFailure);
        }
        if (late) {
            answersCameLate(at);
        }
        if (registry_.searching == 0) {
            return finish();
        }
        if (!listener.heard()) {
            progress.add(kIdsPerCode);
            continue;
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
                progress.add(1.0);
            }
            // A stop ends the search here: the IDs that answered so far are not probed.
            if (registry_.searching == 0) {
                return finish();
            }
        }
        // The replies still on their way, for as long as the allowance says, and longer when
        // late replies among them make it grow.
        for (std::int64_t deadlineUs = nextSendUs + timing.latencyAllowanceUs();;) {
            if (listener.until(deadlineUs, credit) == AdapterFailure) {
                return abort(AdapterFailure);
            }
            const std::int64_t grownUs = nextSendUs + timing.latencyAllowanceUs();
            if (grownUs <= deadlineUs) {
                break;
            }
            deadlineUs = grownUs;
        }
        link->purgeReceive();
        if (registry_.searching == 0) {
            return finish();
        }

        // The probes' timed reads were made for an adapter that hands replies over within a
        // millisecond: they get the latency allowance on top. A stop ends the search after the
        // probe in progress, as in the standard search.
        link->setReceiveAllowanceMs(
            static_cast<std::uint32_t>((timing.latencyAllowanceUs() + 999) / 1000));
        bool anyAnswered = false;
        for (int id = 0; id < kIdsPerCode; ++id) {
            if (!answered[static_cast<std::size_t>(id)]) {
                continue;
            }
            anyAnswered = true;
            registry_.searchId = id;
            const int probed = probeAnswered(placeholder, code, id);
            if (probed == AdapterFailure) {
                return abort(AdapterFailure);
            }
            if (probed == Success) {
                placeInListOrder(registry_, codes, index, id);
            }
            if (registry_.searching == 0) {
                return finish();
            }
        }
        if (!anyAnswered) {
            // The broadcast was heard, but no ID here answers: what was heard came late from
            // another code.
            answersCameLate(at);
        }
        progress.add(1.0);
    }
    return finish();
}

}  // namespace mvx
