// The fast search against the standard one on the simulated bus (virtual time): the same list
// and records on every bus, whatever the adapter's receive latency and whether it is known,
// also where devices space their broadcast answers out; sure of every code; no packet while an
// answer may be on the wire or a broadcast answer is due; late replies credited to their IDs
// before any purge; stop, adapter failure and progress as the standard search has them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "device/ServoRecord.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "search/SearchEngine.h"
#include "support/SimRegistry.h"
#include "support/TalkOver.h"

namespace mvx::test {
namespace {

const Bytes kBroadcastPing = hexBytes("FF FF FE 02 01 FE");

// What a search leaves: per device its summary and the record's fields a page shows.
struct Found {
    DeviceSummary summary;
    std::vector<int> record;  // empty without a record
};

bool operator==(const Found& a, const Found& b) {
    const DeviceSummary& x = a.summary;
    const DeviceSummary& y = b.summary;
    return x.baudCode == y.baudCode && x.id == y.id && x.modelClass == y.modelClass &&
           x.modelNumber == y.modelNumber && x.firmwareVersion == y.firmwareVersion &&
           x.returnDelay == y.returnDelay && x.returnLevel == y.returnLevel && a.record == b.record;
}

void PrintTo(const Found& f, std::ostream* os) {
    *os << "code " << f.summary.baudCode << " ID " << f.summary.id << " model "
        << f.summary.modelNumber << " v" << f.summary.firmwareVersion << " level "
        << f.summary.returnLevel << " delay " << f.summary.returnDelay << " record "
        << f.record.size();
}

SimDeviceSpec withDelay(SimDeviceSpec device, int returnDelay) {
    device.returnDelay = static_cast<std::uint8_t>(returnDelay);
    return device;
}

class FastSearchTest : public SimRegistryTest {
protected:
    int run(bool fast, SearchMode mode) {
        SearchEngine engine(*registry);
        const int result = fast ? engine.fastSearch(mode) : engine.search(mode);
        sure = engine.lastSearchSure();
        unsure = engine.unsureCodes();
        return result;
    }

    bool sure = false;
    std::vector<int> unsure;

    std::vector<Found> found() {
        std::vector<Found> out;
        for (const DeviceSummary& d : registry->snapshot()) {
            Found f{d, {}};
            if (const ServoRecord* r = registry->find(d.baudCode, d.id)->servoRecord()) {
                f.record = {r->maxPosition(),   r->cwAngleLimit(),  r->ccwAngleLimit(),
                            r->maxTorque(),     r->goalPosition(),  r->torqueLimit(),
                            r->movingSpeed(),   r->alarmShutdown(), r->presentPosition(),
                            r->presentVoltage()};
            }
            out.push_back(f);
        }
        return out;
    }

    std::vector<std::string> talkOver() const { return talkOverViolations(sim->traffic()); }
    std::vector<std::string> sentWhileAnswersDue() const {
        return broadcastWaitViolations(sim->traffic());
    }
};

// Item by item the standard search's list, on the buses that test its rules, with the adapter
// handing over replies 1 ms or 16 ms late, with the latency known or not (a pseudo-terminal),
// and on buses whose devices space their answers to a broadcast out by ID (0.3 ms a unit: ID
// 253 answers 76 ms late): nothing goes out while a broadcast answer may still come, and the
// search is sure of every code.
TEST_F(FastSearchTest, FindsWhatTheStandardSearchFindsOnEveryBus) {
    struct Bus {
        const char* name;
        SearchMode mode;
        std::vector<SimDeviceSpec> devices;
        std::function<void()> faults;
        std::int64_t spacingUs = 0;
    };
    const std::vector<Bus> buses = {
        {"spaced: IDs 0, 5, 253 at code 1, 150 and 200 alone at codes 34 and 3",
         QuickSearch,
         {simSpec(1, 0, 12), simSpec(1, 5, 28), simSpec(1, 253, 64), simSpec(34, 150, 28),
          simSpec(3, 200, 12)},
         nullptr,
         300},
        {"spaced: IDs 1 and 9 at code 1, 150 and 200 alone at codes 34 and 3",
         QuickSearch,
         {simSpec(1, 1, 28), simSpec(1, 9, 12), simSpec(34, 150, 28), simSpec(3, 200, 12)},
         nullptr,
         300},
        {"spaced: late answers only at the last code",
         QuickSearch,
         {simSpec(34, 30, 28), simSpec(3, 2, 12), simSpec(207, 0, 12), simSpec(207, 5, 28),
          simSpec(207, 253, 64)},
         nullptr,
         300},
        {"spaced: default bus", QuickSearch, SimulatedBus::defaultBus().devices, nullptr, 300},
        {"default bus", QuickSearch, SimulatedBus::defaultBus().devices, nullptr},
        {"IDs 0 and 253", QuickSearch, {simSpec(1, 0, 12), simSpec(1, 253, 28)}, nullptr},
        {"return delay 255 at code 207",
         QuickSearch,
         {withDelay(simSpec(207, 5, 28), 255), withDelay(simSpec(207, 6, 12), 255)},
         nullptr},
        {"level 0", QuickSearch, {simSpec(34, 8, 12, 30, 0), simSpec(34, 9, 28)}, nullptr},
        {"sensor", QuickSearch, {simSpec(3, 100, 13)}, nullptr},
        {"several at one code",
         QuickSearch,
         {simSpec(1, 1, 12), simSpec(1, 2, 28), simSpec(1, 3, 12), simSpec(1, 4, 64),
          simSpec(1, 10, 12, 30, 1), simSpec(1, 11, 13), simSpec(1, 12, 106), simSpec(16, 2, 12)},
         nullptr},
        {"codes of the full search only",
         FullSearch,
         {simSpec(1, 2, 12), simSpec(100, 7, 12), simSpec(250, 9, 28)},
         nullptr},
        {"identity read corrupted once",
         QuickSearch,
         {simSpec(1, 3, 12), simSpec(207, 4, 28)},
         [this] {
             dev(1, 3).setFaults({.corruptReads = 1});
             dev(207, 4).setFaults({.corruptReads = 1});
         }},
    };
    struct Adapter {
        std::int64_t latencyUs;
        bool known;
    };
    const Adapter adapters[] = {{1000, true}, {16000, true}, {16000, false}};

    for (const Bus& bus : buses) {
        for (const Adapter& adapter : adapters) {
            SCOPED_TRACE(std::string(bus.name) + ", latency " + std::to_string(adapter.latencyUs) +
                         " us" + (adapter.known ? "" : " unknown"));
            BusDescription description;
            description.devices = bus.devices;
            description.receiveLatencyUs = adapter.latencyUs;
            description.broadcastSpacingUs = bus.spacingUs;
            std::vector<Found> standard;
            for (const bool fast : {false, true}) {
                startBus(description, adapter.known);
                if (bus.faults) {
                    bus.faults();
                }
                ASSERT_EQ(run(fast, bus.mode), 100);
                EXPECT_EQ(registry->searchProgress.load(), 100);
                EXPECT_EQ(registry->entryCount(), registry->deviceCount());
                if (!fast) {
                    standard = found();
                    continue;
                }
                // Every device, and where the standard search found them all, its list. Where
                // the adapter's latency outlasts the standard search's read margins (16 ms at
                // codes 70-102) it misses devices; the others are the same.
                std::vector<Found> fastFound = found();
                EXPECT_EQ(fastFound.size(), bus.devices.size());
                std::erase_if(fastFound, [&standard](const Found& f) {
                    return std::none_of(standard.begin(), standard.end(), [&f](const Found& w) {
                        return w.summary.baudCode == f.summary.baudCode &&
                               w.summary.id == f.summary.id;
                    });
                });
                EXPECT_EQ(fastFound, standard);
                EXPECT_EQ(talkOver(), std::vector<std::string>{});
                EXPECT_EQ(sentWhileAnswersDue(), std::vector<std::string>{});
                EXPECT_TRUE(sure);
                EXPECT_EQ(unsure, std::vector<int>{});
            }
        }
    }
}

// A reply that reaches the host after its wait (this device answers 4 ms later than any
// return delay allows; another one answered the broadcast in time) is credited to its ID: the
// device is found and probed.
TEST_F(FastSearchTest, LateReplyIsCreditedToItsId) {
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late);
        start({simSpec(1, 3, 28), simSpec(1, 6, 12)});
        if (late) {
            dev(1, 6).setFaults({.extraDelayUs = 4000});
        }
        ASSERT_EQ(run(true, QuickSearch), 100);
        EXPECT_EQ(found().size(), 2u);
        ASSERT_NE(registry->find(1, 6), nullptr);
        EXPECT_EQ(registry->find(1, 6)->modelNumber(), 12);
        EXPECT_NE(registry->find(1, 6)->servoRecord(), nullptr);
        EXPECT_EQ(packets(Ping, 6).size(), 1u);  // not asked again: the late reply counted
        EXPECT_TRUE(sure);
    }
}

// Late replies are credited whenever they reach the host before a purge. At the end of the
// walk: a device at ID 252 or 253 that answers 3 ms late (its broadcast answer, after another
// device's, made the allowance grow). A broadcast answer that comes after the short wait, with
// a slow rate change or an adapter 16 ms late: the code is heard to its end all the same.
TEST_F(FastSearchTest, LateRepliesAreCreditedBeforeAnyPurge) {
    using Addresses = std::vector<std::pair<int, int>>;
    struct Case {
        const char* name;
        std::int64_t latencyUs;
        Addresses devices;  // in the standard search's order; the last answers late
        bool slowRateChange;
    };
    const Case cases[] = {
        {"ID 252 at the end of the walk", 1000, {{1, 1}, {1, 252}}, false},
        {"ID 253 at the end of the walk", 1000, {{1, 1}, {1, 253}}, false},
        {"before the next code's purge", 1000, {{1, 1}, {207, 21}, {34, 150}}, true},
        {"after the next code's purge", 16000, {{1, 1}, {207, 21}, {34, 150}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusDescription description;
        description.receiveLatencyUs = c.latencyUs;
        for (const auto& [code, id] : c.devices) {
            description.devices.push_back(simSpec(code, id, 28));
        }
        startBus(description);
        const auto [lateCode, lateId] = c.devices.back();
        dev(lateCode, lateId).setFaults({.extraDelayUs = 3000});
        if (c.slowRateChange) {
            driver.hook = [&](const std::string& call) {
                if (call == "setBaudRate" && registry->searchCode.load() == lateCode) {
                    clock.sleepMs(5);  // before the adapter leaves the rate
                }
                return FT_OK;
            };
        }
        ASSERT_EQ(run(true, QuickSearch), 100);
        driver.hook = nullptr;
        Addresses found;
        for (const DeviceSummary& d : registry->snapshot()) {
            found.emplace_back(d.baudCode, d.id);
        }
        Addresses expected = c.devices;
        std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            const auto rank = [](int code) {
                return std::find(kQuickSearchCodes.begin(), kQuickSearchCodes.end(), code) -
                       kQuickSearchCodes.begin();
            };
            return std::pair(rank(a.first), a.second) < std::pair(rank(b.first), b.second);
        });
        EXPECT_EQ(found, expected);
        EXPECT_TRUE(sure);
        EXPECT_EQ(sentWhileAnswersDue(), std::vector<std::string>{});
    }
}

// A stop while the fast search walks or probes a code with many devices ends it after at most
// one more probe, as the standard search ends after the ID in progress: at a slow code a probe
// takes about 0.1 s, and the dialog waits for the search when it is closed.
TEST_F(FastSearchTest, StopEndsTheSearchAfterAtMostOneMoreProbe) {
    struct Case {
        const char* name;
        int stopAtId;
        bool walkOver;  // stop once the walk is over (during the probes)
    };
    const Case cases[] = {
        {"stop during the walk", 100, false},
        {"stop during the probes", 5, true},
    };
    std::vector<SimDeviceSpec> devices;
    for (int id = 0; id < 40; ++id) {
        devices.push_back(simSpec(207, id, 28));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start(devices);
        bool walkOver = false;
        std::size_t stoppedAt = 0;
        driver.hook = [&](const std::string& call) {
            walkOver = walkOver || registry->searchId.load() == 253;
            if (call == "write" && stoppedAt == 0 && walkOver == c.walkOver &&
                registry->searchId.load() == c.stopAtId) {
                registry->stopSearch();
                stoppedAt = sim->traffic().size();
            }
            return FT_OK;
        };
        ASSERT_EQ(run(true, QuickSearch), 100);
        driver.hook = nullptr;
        ASSERT_NE(stoppedAt, 0u);
        const std::vector<SimTraffic> traffic = sim->traffic();
        const auto identityReads =
            std::count_if(traffic.begin() + static_cast<std::ptrdiff_t>(stoppedAt), traffic.end(),
                          [](const SimTraffic& t) {
                              return t.direction == SimTraffic::HostToBus && t.bytes.size() == 8 &&
                                     t.bytes[4] == Read && t.bytes[5] == 0;
                          });
        EXPECT_LE(identityReads, 1);
        EXPECT_EQ(registry->searchProgress.load(), 100);
        EXPECT_EQ(registry->entryCount(), registry->deviceCount());
    }
}

// Stop, a lost adapter and a missing one end the fast search as they end the standard one:
// same result, same list, progress 100 only after a normal end or a stop, no placeholder. A
// stop during the walk ends the fast search at once: the IDs that answered so far are not
// probed.
TEST_F(FastSearchTest, StopAndAdapterFailureEndItAsTheStandardSearch) {
    using Addresses = std::vector<std::pair<int, int>>;
    struct Case {
        const char* name;
        std::function<FtStatus(const std::string&)> hook;
        bool closeFirst;
        int result;
        Addresses found;
        std::optional<Addresses> fastFound = std::nullopt;  // when not `found`
    };
    const Case cases[] = {
        {"stop at ID 10",
         [this](const std::string& call) {
             if (call == "write" && registry->searchId.load() == 10 && registry->searching.load()) {
                 registry->stopSearch();
             }
             return FT_OK;
         },
         false,
         100,
         {{1, 3}, {1, 10}},
         Addresses{}},
        {"stop at a silent code",
         [this](const std::string& call) {
             if (call == "write" && registry->searchCode.load() == 4) {
                 registry->stopSearch();
             }
             return FT_OK;
         },
         false,
         100,
         {{1, 3}, {1, 10}, {1, 20}, {34, 5}, {3, 6}}},
        {"adapter lost at code 34",
         [this](const std::string& call) {
             return call == "read" && registry->searchCode.load() == 34 ? FT_IO_ERROR : FT_OK;
         },
         false,
         101,
         {{1, 3}, {1, 10}, {1, 20}}},
        {"rate change fails",
         [this](const std::string& call) {
             return call == "setBaudRate" && registry->searchCode.load() == 34 ? FT_OTHER_ERROR
                                                                               : FT_OK;
         },
         false,
         101,
         {{1, 3}, {1, 10}, {1, 20}, {34, 5}}},
        {"no adapter", nullptr, true, 101, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool fast : {false, true}) {
            SCOPED_TRACE(fast ? "fast" : "standard");
            start({simSpec(1, 3, 12), simSpec(1, 10, 28), simSpec(1, 20, 12), simSpec(34, 5, 12),
                   simSpec(3, 6, 12)});
            if (c.closeFirst) {
                registry->bus().close();
            }
            if (c.hook) {
                driver.hook = c.hook;
            }
            EXPECT_EQ(run(fast, QuickSearch), c.result);
            driver.hook = nullptr;
            std::vector<std::pair<int, int>> addresses;
            for (const DeviceSummary& d : registry->snapshot()) {
                addresses.emplace_back(d.baudCode, d.id);
            }
            const Addresses& expected = fast && c.fastFound ? *c.fastFound : c.found;
            EXPECT_EQ(addresses, expected);
            EXPECT_EQ(registry->entryCount(), static_cast<int>(expected.size()));
            EXPECT_EQ(registry->searching.load(), 0);
            EXPECT_FALSE(registry->searchWorkerActive());
            if (c.result == 100) {
                EXPECT_EQ(registry->searchProgress.load(), 100);
            } else if (!c.closeFirst) {
                EXPECT_LT(registry->searchProgress.load(), 100);
            }
        }
    }
}

// The progress rises with the IDs walked and reaches 100 only once the last device is in the
// list, as the dialog stops watching at 100; also when the devices space their answers out.
TEST_F(FastSearchTest, ProgressReachesHundredOnlyWithTheListComplete) {
    struct Case {
        const char* name;
        std::vector<SimDeviceSpec> devices;
        std::int64_t spacingUs;
        int lastProgress;  // at the last write
    };
    const Case cases[] = {
        // The last write: the record load of ID 200.
        {"prompt answers", {simSpec(207, 4, 12), simSpec(207, 200, 28)}, 0, 99},
        {"spaced answers",
         {simSpec(34, 30, 28), simSpec(207, 0, 12), simSpec(207, 253, 28)},
         300,
         99},  // the record load of ID 253 at code 207, the last code
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusDescription description;
        description.devices = c.devices;
        description.broadcastSpacingUs = c.spacingUs;
        startBus(description);
        std::vector<std::pair<int, int>> samples;  // (progress, devices) at each write
        driver.hook = [&](const std::string& call) {
            if (call == "write") {
                samples.emplace_back(registry->searchProgress.load(), registry->deviceCount());
            }
            return FT_OK;
        };
        ASSERT_EQ(run(true, QuickSearch), 100);
        driver.hook = nullptr;
        ASSERT_FALSE(samples.empty());
        EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end(),
                                   [](const auto& a, const auto& b) { return a.first < b.first; }));
        for (const auto& [progress, devices] : samples) {
            EXPECT_LT(progress, 100);
        }
        EXPECT_EQ(samples.back().first, c.lastProgress);
        EXPECT_EQ(registry->searchProgress.load(), 100);
        EXPECT_EQ(registry->deviceCount(), static_cast<int>(c.devices.size()));
    }
}

// As the dialog runs it: the worker searches while another thread reads the registry and
// stops it (under ThreadSanitizer this checks the fast search's state and the link's).
TEST_F(FastSearchTest, ReadersAndStopOnAnotherThread) {
    startDefault();
    std::atomic<int> result{0};
    std::thread worker([&] { result = run(true, FullSearch); });
    int code = 0;
    int id = 0;
    for (int polls = 0; result.load() == 0; ++polls) {
        for (const DeviceSummary& device : registry->snapshot()) {
            EXPECT_NE(device.id, -1);
        }
        registry->progress(code, id);
        if (polls == 200) {
            registry->stopSearch();
        }
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(result.load(), 100);
    EXPECT_EQ(registry->entryCount(), registry->deviceCount());
    EXPECT_EQ(registry->searchProgress.load(), 100);
}

}  // namespace
}  // namespace mvx::test
