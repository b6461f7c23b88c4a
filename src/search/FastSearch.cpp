// The fast search (SearchEngine::fastSearch): the standard search's steps on the code survey
// (CodeSurvey), whose waits are timed from the wire and the adapter, and whose walk over the
// IDs does not wait for each ping's reply to reach the host, only for it to be over on the wire.
//
// Per code: the rate change with a short settle; the broadcast ping and its answers, heard as
// long as answers can come (500 ms, then until the line is quiet), or with the quick look only
// until the first byte of a prompt answer would have come. Where anything was heard, every ID
// is pinged; then the IDs that answered (the walk's or the broadcast's, an ID a broken answer
// named too) are probed in ascending order with the standard search's probe, so the list and
// its records come out as the standard search makes them.
//
// A full search visits the nine common codes first, so that the devices usually there are
// found in seconds; each device found takes its place in the list by the standard search's
// order of the codes. Each code is made sure of once its visit is complete: a stop, an early
// end or the quick look leaves the others unsure (unsureCodes()).
#include <algorithm>
#include <array>
#include <atomic>
#include <span>
#include <vector>

#include "device/DeviceRegistry.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "search/CodeSurvey.h"
#include "search/FastSearchTiming.h"
#include "search/SearchEngine.h"

namespace mvx {

namespace {

constexpr int kWalkIds = CodeSurvey::kIds;
// The longest status packet a probe's reads can bring: header, ID, length, error, the
// parameters and the checksum.
constexpr int kLongestReplyBytes = 6 + static_cast<int>(kMaxParameters);
// Tries at reading a device that answered its ping, the line heard out before each again.
constexpr int kProbeAttempts = 3;

// The progress in steps (254 a code visited), published as a percentage.
class Progress {
public:
    Progress(std::atomic<int>& out, double total) : out_(out), total_(total) {}

    void add(double steps) {
        done_ += steps;
        out_ = static_cast<int>(done_ * 100.0 / total_);
    }

private:
    std::atomic<int>& out_;
    double total_;
    double done_ = 0.0;
};

// Where `code` stands in `codes`.
std::size_t rankOf(std::span<const std::uint8_t> codes, int code) {
    return static_cast<std::size_t>(std::find(codes.begin(), codes.end(), code) - codes.begin());
}

// Moves the device just found at (code, id) before the devices of codes that come after it in
// `codes` (the standard search's order), as a code may be visited out of that order.
void placeInListOrder(DeviceRegistry& registry, std::span<const std::uint8_t> codes, int code,
                      int id) {
    const std::size_t rank = rankOf(codes, code);
    const int from = registry.indexOf(code, id);
    for (int i = 0; i < from; ++i) {
        const DeviceEntry* entry = registry.entryAt(i);
        if (entry != nullptr && rankOf(codes, entry->baudCode()) > rank) {
            registry.move(from, i);
            return;
        }
    }
}

// The order of the visits: in a full search the common codes first, then the rest in order.
std::vector<int> visitOrder(std::span<const std::uint8_t> codes, int mode) {
    std::vector<int> order;
    if (mode == FullSearch) {
        order.assign(kQuickSearchCodes.begin(), kQuickSearchCodes.end());
    }
    for (const std::uint8_t code : codes) {
        if (std::find(order.begin(), order.end(), code) == order.end()) {
            order.push_back(code);
        }
    }
    return order;
}

}  // namespace

int SearchEngine::fastSearch(int mode, const FastSearchOptions& options) {
    std::shared_ptr<AdapterLink> link;
    DeviceEntry* placeholder = nullptr;
    std::span<const std::uint8_t> codes;
    if (const int started = beginSearch(mode, link, placeholder, codes); started != Success) {
        return started;
    }
    // Ends and stops as the standard search does (see search()), with the link's timed reads
    // as they were.
    auto end = [this, &placeholder, &link](int result) {
        link->setReceiveAllowanceMs(0);
        return endSearch(placeholder, result);
    };
    Progress progress(registry_.searchProgress, static_cast<double>(codes.size()) * kWalkIds);
    CodeSurvey survey(*link);
    const std::atomic<bool>* const stop = options.stop;
    const CodeSurvey::Stopped stopped = [this, stop] {
        return registry_.searching == 0 || (stop != nullptr && stop->load());
    };
    SearchObserver* const observer = options.observer;

    const std::vector<int> order = visitOrder(codes, mode);
    const int total = static_cast<int>(order.size());
    for (int ordinal = 1; ordinal <= total; ++ordinal) {
        const int code = order[static_cast<std::size_t>(ordinal - 1)];
        if (survey.tune(code) != Success) {
            return end(AdapterFailure);
        }
        registry_.searchCode = code;
        registry_.searchId = kBroadcastId;
        BroadcastHeard broadcast;
        const auto makingSure = [observer, code, ordinal, total] {
            if (observer != nullptr) {
                observer->makingSure(code, ordinal, total);
            }
        };
        const int result =
            survey.broadcast(code, options.quickLook, stopped, makingSure, broadcast);
        if (result != Success) {
            return end(result);
        }
        if (stopped()) {
            return end(Success);
        }
        if (!broadcast.heard) {
            if (broadcast.sure) {
                markSure(code);
            }
            progress.add(kWalkIds);
            continue;
        }

        WalkHeard walk;
        const auto beforePing = [this, &progress](int id) {
            registry_.searchId = id;
            // The code's last step is counted once its devices are probed, so the progress
            // reaches 100 only with the list complete.
            if (id > 0) {
                progress.add(1.0);
            }
        };
        if (survey.walk(code, stopped, beforePing, walk) == AdapterFailure) {
            return end(AdapterFailure);
        }
        // A stop ends the search here: the IDs that answered so far are not probed.
        if (stopped()) {
            return end(Success);
        }

        // The probes' timed reads were made for an adapter that hands replies over within a
        // millisecond: they get the latency allowance on top. A stop ends the search after the
        // probe in progress, as in the standard search.
        link->setReceiveAllowanceMs(
            static_cast<std::uint32_t>((survey.timing().latencyAllowanceUs() + 999) / 1000));
        // An ID answers when the walk or the broadcast heard it, cleanly or, by what a broken
        // answer's header said, not: a reply lost in one of them is no silence.
        std::array<bool, kWalkIds> answered{};
        for (int id = 0; id < kWalkIds; ++id) {
            answered[static_cast<std::size_t>(id)] =
                walk.counts[static_cast<std::size_t>(id)] > 0 ||
                broadcast.counts[static_cast<std::size_t>(id)] > 0;
        }
        for (const int id : broadcast.named) {
            answered[static_cast<std::size_t>(id)] = true;
        }
        bool probeFailed = false;
        for (int id = 0; id < kWalkIds; ++id) {
            if (!answered[static_cast<std::size_t>(id)]) {
                continue;
            }
            registry_.searchId = id;
            // A probe that went wrong may have left the rest of an answer on the wire: the line
            // is heard out before anything else is sent, and the device probed again. One that
            // answered its ping but cannot be read leaves the code unsure.
            int probed = placeholder->probe(code, id);
            for (int attempt = 1; probed != Success && probed != AdapterFailure; ++attempt) {
                const int quiet = survey.quietLine(code, kLongestReplyBytes, stopped);
                if (quiet == AdapterFailure) {
                    return end(AdapterFailure);
                }
                if (quiet != Success || attempt == kProbeAttempts || stopped()) {
                    probeFailed = true;
                    break;
                }
                probed = placeholder->probe(code, id);
            }
            if (probed == AdapterFailure) {
                return end(AdapterFailure);
            }
            if (probed == Success) {
                // The placeholder is now a found device; probe on with a new one.
                placeholder = registry_.appendPlaceholder();
                placeInListOrder(registry_, codes, code, id);
                if (observer != nullptr) {
                    if (const DeviceEntry* entry = registry_.find(code, id)) {
                        observer->deviceFound(summaryOf(*entry));
                    }
                }
            }
            if (stopped()) {
                return end(Success);
            }
        }
        if (broadcast.sure && walk.complete && walk.sendFailure == Success && !probeFailed) {
            markSure(code);
        }
        progress.add(1.0);
    }
    return end(Success);
}

}  // namespace mvx
