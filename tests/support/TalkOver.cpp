#include "support/TalkOver.h"

#include <algorithm>
#include <cstdint>

#include "sim/SimulatedBus.h"

namespace mvx::test {

namespace {

constexpr std::uint8_t kBroadcast = 0xFE;
constexpr std::uint8_t kPing = 1;
constexpr std::uint8_t kRead = 2;
constexpr std::int64_t kMaxReturnDelayUs = 510;

bool isHostPacket(const SimTraffic& t) {
    return t.direction == SimTraffic::HostToBus && t.bytes.size() >= 6 && t.bytes[0] == 0xFF &&
           t.bytes[1] == 0xFF;
}

// The longest reply a unicast ping or read can cause, in bytes; 0 for any other packet.
int longestReply(const SimTraffic& t) {
    if (!isHostPacket(t) || t.bytes[2] == kBroadcast) {
        return 0;
    }
    if (t.bytes[4] == kPing) {
        return 6;
    }
    if (t.bytes[4] == kRead && t.bytes.size() >= 8) {
        return 6 + t.bytes[6];
    }
    return 0;
}

std::string at(std::int64_t us) {
    return std::to_string(us) + " us";
}

}  // namespace

std::vector<std::string> talkOverViolations(const std::vector<SimTraffic>& traffic) {
    std::vector<std::string> faults;
    std::vector<const SimTraffic*> answers;
    for (const SimTraffic& t : traffic) {
        if (t.direction == SimTraffic::BusToHost) {
            answers.push_back(&t);
        }
    }
    std::sort(answers.begin(), answers.end(),
              [](const SimTraffic* a, const SimTraffic* b) { return a->endUs < b->endUs; });
    const SimTraffic* previous = nullptr;
    for (const SimTraffic& t : traffic) {
        if (t.direction == SimTraffic::BusToHost) {
            if (t.hostLeftUs >= 0) {
                faults.push_back("the host left the rate at " + at(t.hostLeftUs) +
                                 " before the answer of ID " + std::to_string(t.deviceId) +
                                 " ending at " + at(t.endUs));
            }
            continue;
        }
        if (previous != nullptr) {
            if (const int reply = longestReply(*previous); reply > 0) {
                const std::int64_t windowEnd =
                    previous->endUs + kMaxReturnDelayUs +
                    SimulatedBus::wireTimeUs(static_cast<std::size_t>(reply), previous->rateBps);
                if (t.startUs < windowEnd) {
                    faults.push_back("packet at " + at(t.startUs) +
                                     " inside the reply window up to " + at(windowEnd));
                }
            }
        }
        // Answers never overlap one another on the wire: those ending after the packet starts
        // and starting before it ends are a short run in the order of their ends.
        for (auto it = std::upper_bound(
                 answers.begin(), answers.end(), t.startUs,
                 [](std::int64_t us, const SimTraffic*r) { return us < r->endUs; });
             it != answers.end() && (*it)->startUs < t.endUs; ++it) {
            faults.push_back("packet at " + at(t.startUs) + " over the answer of ID " +
                             std::to_string((*it)->deviceId) + " (" + at((*it)->startUs) + " to " +
                             at((*it)->endUs) + ")");
        }
        previous = &t;
    }
    return faults;
}

std::vector<std::string> broadcastWaitViolations(const std::vector<SimTraffic>& traffic) {
    std::vector<std::string> faults;
    std::int64_t dueUntilUs = -1;
    for (const SimTraffic& t : traffic) {
        if (t.direction != SimTraffic::HostToBus) {
            continue;
        }
        if (t.startUs < dueUntilUs) {
            faults.push_back("packet at " + at(t.startUs) +
                             " while answers to the broadcast may come until " + at(dueUntilUs));
        }
        if (isHostPacket(t) && t.bytes[2] == kBroadcast && t.bytes[4] == kPing) {
            dueUntilUs = t.endUs + SimulatedBus::kBroadcastAnswersUs;
        }
    }
    return faults;
}

}  // namespace mvx::test
