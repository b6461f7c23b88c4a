// What the code survey hears: reads whatever reaches the host into a ReplyScanner, hands out
// each status packet with the time it was complete at the host, and tells when bytes last came
// and when bytes turned out broken (two answers over each other, noise).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "link/AdapterLink.h"
#include "protocol/ResultCode.h"
#include "search/ReplyScanner.h"

namespace mvx {

class ReplyListener {
public:
    explicit ReplyListener(AdapterLink& link) : link_(link) {}

    // Reads until `deadlineUs` (or, with `untilHeard`, until bytes came that had not come when
    // it was called); each packet completed goes to `onReply` with the time of the read that
    // completed it. 100 or 101.
    template <typename OnReply>
    int until(std::int64_t deadlineUs, OnReply&& onReply, bool untilHeard = false) {
        Clock& clock = link_.clock();
        const std::size_t seenBefore = scanner_.bytesSeen();
        for (;;) {
            const std::int64_t remaining = deadlineUs - clock.nowUs();
            if (remaining < 1000) {
                // The read timeout counts whole milliseconds: the rest is slept, then what has
                // come meanwhile is taken.
                clock.sleepUs(remaining);
                return takeArrived(onReply);
            }
            std::uint32_t got = 0;
            const std::uint32_t want = std::min<std::uint32_t>(scanner_.bytesWanted(), kChunk);
            const int result = link_.readWithin(buffer_.data(), want, got,
                                                static_cast<std::uint32_t>(remaining / 1000));
            if (result == AdapterFailure) {
                return AdapterFailure;
            }
            take(got, onReply);
            if (untilHeard && scanner_.bytesSeen() != seenBefore) {
                return Success;
            }
        }
    }

    // Reads until nothing has arrived for `quietUs`: 100 then. A line that never goes quiet
    // ends it at `boundUs`, and a stop (`stopped` true, looked at after every read) sooner: 103
    // then. 101 when the adapter failed.
    template <typename OnReply, typename Stopped>
    int untilQuiet(std::int64_t quietUs, std::int64_t boundUs, OnReply&& onReply,
                   const Stopped& stopped) {
        Clock& clock = link_.clock();
        for (;;) {
            const std::int64_t last = lastArrivalUs_;
            const std::int64_t quietAtUs = last + quietUs;
            if (quietAtUs <= clock.nowUs()) {
                return Success;
            }
            if (clock.nowUs() >= boundUs || stopped()) {
                return Timeout;
            }
            // In steps of at most the quiet time, so a stop is seen on a busy line.
            if (until(std::min({quietAtUs, boundUs, clock.nowUs() + quietUs}), onReply) ==
                AdapterFailure) {
                return AdapterFailure;
            }
        }
    }

    // Takes what has arrived by now, without waiting. 100 or 101.
    template <typename OnReply>
    int takeArrived(OnReply&& onReply) {
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

    // Whether any byte came since the listener was cleared, and how many.
    bool heard() const { return scanner_.bytesSeen() != 0; }
    std::size_t bytesSeen() const { return scanner_.bytesSeen(); }
    std::int64_t lastArrivalUs() const { return lastArrivalUs_; }
    // The times of the reads that showed bytes to be broken since the listener was cleared,
    // in order.
    const std::vector<std::int64_t>& brokenAtUs() const { return brokenAtUs_; }
    // The IDs that broken packets' headers named (ReplyScanner::brokenIds).
    std::vector<int> brokenIds() const { return scanner_.brokenIds(); }
    void clear() {
        scanner_.clear();
        brokenAtUs_.clear();
        lastArrivalUs_ = link_.clock().nowUs();
    }

private:
    static constexpr std::uint32_t kChunk = 256;

    template <typename OnReply>
    void take(std::uint32_t got, OnReply&& onReply) {
        if (got == 0) {
            return;
        }
        lastArrivalUs_ = link_.clock().nowUs();
        replies_.clear();
        const std::size_t skipped = scanner_.bytesSkipped();
        scanner_.feed(buffer_.data(), got, replies_);
        if (scanner_.bytesSkipped() > skipped) {
            brokenAtUs_.push_back(lastArrivalUs_);
        }
        for (const ScannedReply& reply : replies_) {
            onReply(reply, lastArrivalUs_);
        }
    }

    AdapterLink& link_;
    ReplyScanner scanner_;
    std::vector<ScannedReply> replies_;
    std::vector<std::int64_t> brokenAtUs_;
    std::array<std::uint8_t, kChunk> buffer_{};
    std::int64_t lastArrivalUs_ = 0;
};

}  // namespace mvx
