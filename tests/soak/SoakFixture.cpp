#include "soak/SoakFixture.h"

#include <cstdlib>
#include <iostream>
#include <regex>
#include <type_traits>

#include "protocol/ResultCode.h"
#if __has_include("support/TalkOver.h")
#include "support/TalkOver.h"
#define MVX_SOAK_TALK_OVER 1
#endif

namespace mvx::test {

namespace {

constexpr int kOperationsPerScenario = 500;  // MVX_SOAK_COUNT's operations per flow scenario

std::string where(const DeviceAddress& a) {
    return a.valid() ? addressWords(a) : std::string("nowhere");
}

#ifdef MVX_SOAK_TALK_OVER
// The talk-over check's findings in words, whether it lists them or counts them.
template <typename Found>
std::vector<std::string> talkOverWords(const Found& found) {
    std::vector<std::string> out;
    if constexpr (std::is_arithmetic_v<Found>) {
        for (Found n = 0; n < found; ++n) {
            out.push_back("a packet sent while an answer was due");
        }
    } else {
        for (const auto& f : found) {
            if constexpr (std::is_convertible_v<decltype(f), std::string>) {
                out.push_back(f);
            } else {
                out.push_back("a packet sent while an answer was due");
            }
        }
    }
    return out;
}
#endif

}  // namespace

std::vector<DeviceAddress> addressesNamedIn(const std::string& text) {
    static const std::regex kAddress("code (\\d+) ID (\\d+)");
    std::vector<DeviceAddress> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kAddress);
         it != std::sregex_iterator(); ++it) {
        out.push_back({std::stoi((*it)[1].str()), std::stoi((*it)[2].str())});
    }
    return out;
}

void FlowSoakTest::SetUp() {
    seed_ = soakSeed();
    std::cout << "[soak] seed " << seed_ << " (replay with MVX_SOAK_SEED=" << seed_ << ")\n";
    RecordProperty("seed", std::to_string(seed_));
    rng_.seed(seed_ ^ 0xF10Au);
    chaos_ = std::make_unique<SimChaos>(seed_ ^ 0xC4A05u);
}

void FlowSoakTest::TearDown() {
    if (sim) {
        sim->setChaos(nullptr);
    }
    const SimChaosCounts c = chaos_->counts();
    std::cout << "[soak] seed " << seed_ << ": " << operations_ << " flow operations, " << c.total()
              << " faults injected over " << c.packets << " packets, " << clock.nowUs() / 1000000
              << " s of bus time\n";
    for (const auto& [name, t] : tally_) {
        std::cout << "[soak]   " << name << ": " << t.first << " runs, " << t.second
                  << " succeeded\n";
    }
}

int FlowSoakTest::scenarioCount() {
    if (const char* s = std::getenv("MVX_SOAK_FLOWS")) {
        return std::max(1, std::atoi(s));
    }
    return std::max(1, soakCount() / kOperationsPerScenario);
}

bool FlowSoakTest::keepGoing() {
    const char* s = std::getenv("MVX_SOAK_KEEP_GOING");
    return s != nullptr && std::string(s) == "1";
}

void FlowSoakTest::buildBus(std::vector<SimDeviceSpec> devices, std::int64_t spacingUs) {
    if (sim) {
        sim->setChaos(nullptr);
        chaos_->calm(*sim);  // no fault state left that names a device of the old bus
    }
    touchedBefore_.clear();
    specs_ = devices;
    spacingUs_ = spacingUs;
    ++scenario_;
    BusDescription description;
    description.broadcastSpacingUs = spacingUs;
    description.devices = std::move(devices);
    startBus(description);
    rig_ = std::make_unique<SoakRig>(*sim, *registry, *chaos_);
}

std::vector<DeviceAddress> FlowSoakTest::places() {
    std::vector<DeviceAddress> out;
    for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
        out.push_back({sim->device(i).code(), sim->device(i).id()});
    }
    return out;
}

std::vector<std::string> FlowSoakTest::settledMoved(const std::vector<DeviceAddress>& before) {
    std::vector<std::string> faults;
    const std::vector<DeviceAddress> after = places();
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i] != before[i] && specs_[i].appearAtUs == 0) {
            faults.push_back("device " + std::to_string(i) + " (model " +
                             std::to_string(specs_[i].model) +
                             "), on the bus from the start, from " + where(before[i]) + " to " +
                             where(after[i]));
        }
    }
    return faults;
}

std::set<int> FlowSoakTest::touchedIds() {
    std::set<int> ids;
    for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
        if (chaos_->touched(&sim->device(i))) {
            ids.insert(sim->device(i).id());
        }
    }
    return ids;
}

bool FlowSoakTest::anyTouched() {
    return !touchedIds().empty() || !touchedBefore_.empty();
}

void FlowSoakTest::runFlow(const std::string& name, bool chaotic,
                           const std::function<int(FlowClaims&)>& body) {
    SCOPED_TRACE("flow operation " + std::to_string(operations_) + " (" + name + ") of bus " +
                 std::to_string(scenario_) + " (" + std::to_string(specs_.size()) +
                 " devices, spacing " + std::to_string(spacingUs_) + " us), seed " +
                 std::to_string(seed_));
    sim->setChaos(chaotic ? chaos_.get() : nullptr);
    chaos_->beforeOperation(*sim);
    if (!chaotic) {
        chaos_->disarmAdapter();
    }
    const std::vector<DeviceAddress> before = places();
    std::vector<bool> presentBefore;
    for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
        presentBefore.push_back(sim->device(i).present());
    }
    const bool quietStart = sim->pendingBytes() == 0 && sim->nextEventUs() < 0;
    sim->clearTraffic();
    const std::int64_t startUs = clock.nowUs();

    const auto parts = [] {
        return ::testing::UnitTest::GetInstance()
            ->current_test_info()
            ->result()
            ->total_part_count();
    };
    const int partsBefore = parts();
    FlowClaims claims;
    const int result = body(claims);
    ++operations_;
    ++tally_[name].first;
    tally_[name].second += result == Success ? 1 : 0;

    EXPECT_GE(result, Success);
    EXPECT_LE(result, Busy);
    for (const std::string& f : unnamedMoves(before, claims)) {
        ADD_FAILURE() << "moved unnamed: " << f;
    }
    // A connected device that never went quiet is seen: no flow moves another one onto its
    // address.
    const std::vector<DeviceAddress> after = places();
    for (std::size_t i = 0; i < after.size() && !anyTouched(); ++i) {
        for (std::size_t k = i + 1; k < after.size(); ++k) {
            EXPECT_FALSE(after[i] == after[k] && before[i] != before[k] &&
                         sim->device(i).present() && sim->device(k).present())
                << "devices " << i << " and " << k << " now share " << where(after[i]);
        }
    }
    if (quietStart) {
        for (const std::string& f : missedBySureSearch(claims, presentBefore, startUs)) {
            ADD_FAILURE() << "missed by a sure search: " << f;
        }
    }
    const std::vector<std::string> overs = talkOver(before);
    for (std::size_t k = 0; k < overs.size() && k < 3; ++k) {
        ADD_FAILURE() << "talk-over: " << overs[k]
                      << (k == 2 && overs.size() > 3
                              ? " (and " + std::to_string(overs.size() - 3) + " more)"
                              : std::string());
    }
    for (const std::string& f : rig_->registryFaults(codeOrder_, ordered_)) {
        ADD_FAILURE() << "registry: " << f;
    }
    if (parts() != partsBefore && !claims.story.empty()) {
        std::cout << "[soak] the flow reported:\n" << claims.story;
    }
    if (parts() != partsBefore && std::getenv("MVX_SOAK_TRAFFIC") != nullptr) {
        std::cout << "[soak] result " << result << "; the operation's traffic:\n";
        for (const SimTraffic& t : sim->traffic()) {
            std::cout << "  " << t.startUs << "-" << t.endUs << " us "
                      << (t.direction == SimTraffic::HostToBus ? "host"
                                                               : "ID " + std::to_string(t.deviceId))
                      << " @" << t.rateBps << (t.heardByHost ? "" : " (unheard)") << ", "
                      << t.bytes.size() << " bytes:";
            for (std::size_t k = 0; k < t.bytes.size() && k < 12; ++k) {
                std::cout << ' ' << static_cast<int>(t.bytes[k]);
            }
            std::cout << '\n';
        }
    }
    const bool struck = chaos_->adapterStruck();
    const bool lost = claims.adapterLost || result == AdapterFailure;
    EXPECT_FALSE(lost && !struck) << "a lost adapter reported, none was lost";
    EXPECT_FALSE(struck && !lost) << "the adapter was lost, the flow did not say so";
    if (struck || lost) {
        registry->bus().close();
        chaos_->disarmAdapter();
        sim->setAdapterPlugged(true);
        ASSERT_TRUE(registry->bus().open(0));
    }
    chaos_->disarmAdapter();
    touchedBefore_ = touchedIds();
    sim->setChaos(nullptr);
}

std::vector<std::string> FlowSoakTest::unnamedMoves(const std::vector<DeviceAddress>& before,
                                                    const FlowClaims& claims) {
    std::vector<std::string> faults;
    const std::vector<DeviceAddress> after = places();
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i] == before[i]) {
            continue;
        }
        bool named = false;
        for (const NamedMove& m : claims.moves) {
            named = named || (m.from == before[i] &&
                              std::find(m.to.begin(), m.to.end(), after[i]) != m.to.end());
        }
        if (!named) {
            faults.push_back("device " + std::to_string(i) + " (model " +
                             std::to_string(sim->device(i).model()) + ") from " + where(before[i]) +
                             " to " + where(after[i]));
        }
    }
    return faults;
}

std::vector<std::string> FlowSoakTest::missedBySureSearch(const FlowClaims& claims,
                                                          const std::vector<bool>& presentBefore,
                                                          std::int64_t startUs) {
    std::vector<std::string> faults;
    if (!claims.sure) {
        return faults;
    }
    (void)startUs;
    const std::vector<DeviceAddress> now = places();
    for (std::size_t i = 0; i < now.size(); ++i) {
        SimulatedDevice& d = sim->device(i);
        // A device connected at both ends of the search was there throughout: it is connected
        // once, for one stretch of time.
        const bool throughout = presentBefore[i] && d.present();
        const auto searched = std::find(claims.searchedCodes.begin(), claims.searchedCodes.end(),
                                        now[i].code) != claims.searchedCodes.end();
        const auto unsure = std::find(claims.unsureCodes.begin(), claims.unsureCodes.end(),
                                      now[i].code) != claims.unsureCodes.end();
        if (!throughout || !searched || unsure || chaos_->touched(&d) ||
            d.mode() != SimDeviceMode::Normal) {
            continue;
        }
        bool shared = false;
        for (std::size_t k = 0; k < now.size(); ++k) {
            shared = shared ||
                     (k != i && now[k] == now[i] && (presentBefore[k] || sim->device(k).present()));
        }
        if (!shared && registry->find(now[i].code, now[i].id) == nullptr) {
            faults.push_back("device " + std::to_string(i) + " (model " +
                             std::to_string(d.model()) + ") at " + where(now[i]));
        }
    }
    return faults;
}

std::vector<std::string> FlowSoakTest::talkOver(const std::vector<DeviceAddress>& before) {
    // Answers of devices the chaos touched (in this operation or the one before: a reply
    // delayed past its operation) are the fault's doing, not the host's; a device the flow
    // moved answered under its old ID too.
    std::set<int> excused = touchedBefore_;
    for (const int id : touchedIds()) {
        excused.insert(id);
    }
    for (std::size_t i = 0; i < sim->deviceCount() && i < before.size(); ++i) {
        if (chaos_->touched(&sim->device(i))) {
            excused.insert(before[i].id);
        }
    }
    std::vector<SimTraffic> traffic = sim->traffic();
    std::erase_if(traffic, [&excused](const SimTraffic& t) {
        return t.direction == SimTraffic::BusToHost && excused.count(t.deviceId) != 0;
    });
#ifdef MVX_SOAK_TALK_OVER
    return talkOverWords(talkOverViolations(traffic));
#else
    // Until the traffic record tells what each answer answered: host bytes over an answer's.
    std::vector<std::string> faults;
    for (const SimTraffic& host : traffic) {
        if (host.direction != SimTraffic::HostToBus) {
            continue;
        }
        for (const SimTraffic& answer : traffic) {
            if (answer.direction == SimTraffic::BusToHost && host.startUs < answer.endUs &&
                answer.startUs < host.endUs) {
                faults.push_back("host bytes at " + std::to_string(host.startUs) +
                                 " us over the answer of ID " + std::to_string(answer.deviceId) +
                                 " at " + std::to_string(answer.startUs) + "-" +
                                 std::to_string(answer.endUs) + " us");
                break;
            }
        }
    }
    return faults;
#endif
}

}  // namespace mvx::test
