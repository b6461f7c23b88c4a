// The fast search against the standard one on the simulated bus (virtual time): the same list
// and records on every bus, whatever the adapter's receive latency and whether it is known;
// no request while a reply may be on the wire; late replies credited to their IDs; stop,
// adapter failure and progress as the standard search has them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "device/ServoRecord.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "search/SearchEngine.h"
#include "support/SimRegistry.h"

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
        return fast ? engine.fastSearch(mode) : engine.search(mode);
    }

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

    // Host writes that start while the longest reply the request before can cause may still
    // be on the wire (request end, at most 510 us return delay, the reply at the request's
    // rate), or while a device's reply is on the wire.
    std::vector<std::string> talkOver() const {
        std::vector<std::string> faults;
        const std::vector<SimTraffic> traffic = sim->traffic();
        const SimTraffic* previous = nullptr;
        for (const SimTraffic& t : traffic) {
            if (t.direction == SimTraffic::BusToHost) {
                continue;
            }
            if (previous != nullptr) {
                const int replyData = previous->bytes.size() >= 8 && previous->bytes[4] == Read
                                          ? previous->bytes[6]
                                          : 0;
                const std::int64_t windowEnd =
                    previous->endUs + 510 +
                    SimulatedBus::wireTimeUs(6u + replyData, previous->rateBps);
                if (t.startUs < windowEnd) {
                    faults.push_back("request at " + std::to_string(t.startUs) +
                                     " us inside the reply window up to " +
                                     std::to_string(windowEnd) + " us");
                }
            }
            for (const SimTraffic& r : traffic) {
                if (r.direction == SimTraffic::BusToHost && r.startUs < t.endUs &&
                    t.startUs < r.endUs) {
                    faults.push_back("request at " + std::to_string(t.startUs) +
                                     " us over the reply of ID " + std::to_string(r.deviceId));
                }
            }
            previous = &t;
        }
        return faults;
    }

    // Virtual time between the broadcasts at two codes.
    std::int64_t broadcastGapUs(std::uint32_t fromRate, std::uint32_t toRate) const {
        std::int64_t from = -1;
        for (const SimTraffic& t : hostWrites()) {
            if (t.bytes == kBroadcastPing && t.rateBps == fromRate) {
                from = t.startUs;
            }
            if (t.bytes == kBroadcastPing && t.rateBps == toRate && from >= 0) {
                return t.startUs - from;
            }
        }
        return -1;
    }
};

// Item by item the standard search's list, on the buses that test its rules, with the adapter
// handing over replies 1 ms or 16 ms late, with the latency known or not (a pseudo-terminal).
TEST_F(FastSearchTest, FindsWhatTheStandardSearchFindsOnEveryBus) {
    struct Bus {
        const char* name;
        SearchMode mode;
        std::vector<SimDeviceSpec> devices;
        std::function<void()> faults;
    };
    const std::vector<Bus> buses = {
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
            }
        }
    }
}

// A reply that reaches the host after its wait (this device answers 4 ms later than any
// return delay allows; another one answered the broadcast in time) is credited to its ID: the
// device is found and probed, and the waits that follow are longer than on the same bus
// without it.
TEST_F(FastSearchTest, LateReplyIsCreditedToItsIdAndTheWaitsGrow) {
    std::int64_t gapWithout = 0;
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
        // The silent codes 3 and 4 after it: the broadcast waits for the first answer byte.
        const std::int64_t gap = broadcastGapUs(rateOf(3), rateOf(4));
        if (late) {
            EXPECT_GT(gap, gapWithout + 5000);
        } else {
            gapWithout = gap;
        }
    }
}

// Stop, a lost adapter and a missing one end the fast search as they end the standard one:
// same result, same list, progress 100 only after a normal end or a stop, no placeholder.
TEST_F(FastSearchTest, StopAndAdapterFailureEndItAsTheStandardSearch) {
    struct Case {
        const char* name;
        std::function<FtStatus(const std::string&)> hook;
        bool closeFirst;
        int result;
        std::vector<std::pair<int, int>> found;
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
         {{1, 3}, {1, 10}}},
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
            EXPECT_EQ(addresses, c.found);
            EXPECT_EQ(registry->entryCount(), static_cast<int>(c.found.size()));
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
// list, as the dialog stops watching at 100.
TEST_F(FastSearchTest, ProgressReachesHundredOnlyWithTheListComplete) {
    start({simSpec(207, 4, 12), simSpec(207, 200, 28)});
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
    EXPECT_EQ(samples.back().first, 99);  // the record load of ID 200, the last device
    EXPECT_EQ(registry->searchProgress.load(), 100);
    EXPECT_EQ(registry->deviceCount(), 2);
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
