#include "search/SearchEngine.h"

#include <algorithm>
#include <span>

#include "device/DeviceRegistry.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

namespace {

constexpr int kIdsPerCode = 254;       // IDs 0-253 are probed at a code that answered
constexpr int kBroadcastWaitMs = 500;  // time the devices get to answer the broadcast ping
constexpr std::array<std::uint8_t, 255> kFullSearchCodes = fullSearchCodes();

}  // namespace

int SearchEngine::beginSearch(int mode, std::shared_ptr<AdapterLink>& link,
                              DeviceEntry*& placeholder, std::span<const std::uint8_t>& codes) {
    unsure_.clear();
    link = registry_.bus().link();
    if (!link) {
        return AdapterFailure;
    }
    // Claims the worker slot, empties the list and appends the placeholder in one step, so
    // two callers can never both start a search and a stop never finds the list without it.
    placeholder = registry_.beginSearch();
    if (placeholder == nullptr) {
        return Busy;
    }
    codes = mode == FullSearch ? std::span<const std::uint8_t>(kFullSearchCodes)
                               : std::span<const std::uint8_t>(kQuickSearchCodes);
    // Each code is unsure until its visit has made sure of it.
    unsure_.assign(codes.begin(), codes.end());
    std::sort(unsure_.begin(), unsure_.end());
    return Success;
}

int SearchEngine::broadcastAt(AdapterLink& link, std::uint8_t code) {
    registry_.searchCode = code;
    registry_.searchId = kBroadcastId;
    link.purgeReceive();
    return sendPacket(link, InstructionPacket::make(kBroadcastId, Ping));
}

int SearchEngine::endSearch(DeviceEntry* placeholder, int result) {
    registry_.endSearch(placeholder);
    if (result == Success) {
        registry_.searchProgress = 100;
    }
    return result;
}

int SearchEngine::search(int mode) {
    std::shared_ptr<AdapterLink> link;
    DeviceEntry* placeholder = nullptr;
    std::span<const std::uint8_t> codes;
    if (const int started = beginSearch(mode, link, placeholder, codes); started != Success) {
        return started;
    }
    const double total = static_cast<double>(codes.size()) * kIdsPerCode;
    double steps = 0.0;

    // Ends the search early (never with 100); the devices found so far stay, the progress keeps
    // its value.
    auto abort = [this, &placeholder](int result) { return endSearch(placeholder, result); };
    // Normal end and stop.
    auto finish = [this, &placeholder] { return endSearch(placeholder, Success); };
    auto publish = [this, &steps, total] {
        registry_.searchProgress = static_cast<int>(steps * 100.0 / total);
    };

    for (const std::uint8_t code : codes) {
        int result = link->setBaudCode(code);
        if (result != Success) {
            return abort(result);
        }
        result = broadcastAt(*link, code);
        if (result != Success) {
            return abort(result);
        }
        link->clock().sleepMs(kBroadcastWaitMs);

        // Count the answers that arrived; corrupt packets (colliding answers) are skipped.
        int answers = 0;
        for (;;) {
            StatusPacket status;
            result = receivePacket(*link, status, false);
            if (result == Success) {
                ++answers;
            } else if (result == Timeout) {
                break;
            } else if (result == AdapterFailure) {
                return abort(AdapterFailure);
            }
        }

        if (answers == 0) {
            markSure(code);
            steps += kIdsPerCode;
            publish();
            if (registry_.searching == 0) {
                return finish();
            }
            continue;
        }

        link->purgeReceive();
        for (int id = 0; id < kIdsPerCode; ++id) {
            registry_.searchId = id;
            // A failed probe may have left identity or a servo record behind; start clean.
            placeholder->reset();
            result = pingAt(code, id);
            if (result == AdapterFailure) {
                return abort(AdapterFailure);
            }
            if (result == Success && probeAnswered(placeholder, code, id) == AdapterFailure) {
                return abort(AdapterFailure);
            }
            steps += 1.0;
            publish();
            if (registry_.searching == 0) {
                return finish();
            }
        }
        markSure(code);
    }
    return finish();
}

void SearchEngine::markSure(int code) {
    std::erase(unsure_, code);
}

int SearchEngine::probeAnswered(DeviceEntry*& placeholder, int code, int id) {
    int result = placeholder->probe(code, id);
    if (result == CorruptReply) {
        // One reply spoilt on the line must not hide a device that has just answered its ping
        // (a firmware update would then pass it by): its identity is read once more.
        result = placeholder->probe(code, id);
    }
    if (result == Success) {
        // The placeholder is now a found device; probe on with a new one.
        placeholder = registry_.appendPlaceholder();
    }
    return result;
}

int SearchEngine::pingAt(int code, int id) {
    BusConnection& bus = registry_.bus();
    const int tuned = bus.tune(static_cast<std::uint8_t>(code));
    if (tuned != Success) {
        return tuned;
    }
    std::shared_ptr<AdapterLink> link = bus.link();
    if (!link) {
        return AdapterFailure;
    }
    return ping(*link, static_cast<std::uint8_t>(id));
}

}  // namespace mvx
