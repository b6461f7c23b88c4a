#include "search/SearchEngine.h"

#include <gtest/gtest.h>

#include <thread>

#include "device/ServoRecord.h"
#include "protocol/Packet.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

const Bytes kBroadcastPing = hexBytes("FF FF FE 02 01 FE");

class SearchEngineTest : public SimRegistryTest {
protected:
    // (code, id) of every device in list order.
    std::vector<std::pair<int, int>> addresses() const {
        std::vector<std::pair<int, int>> out;
        for (const DeviceSummary& d : registry->snapshot()) {
            out.emplace_back(d.baudCode, d.id);
        }
        return out;
    }
    std::vector<SimTraffic> broadcasts() const {
        std::vector<SimTraffic> out;
        for (const SimTraffic& t : hostWrites()) {
            if (t.bytes == kBroadcastPing) {
                out.push_back(t);
            }
        }
        return out;
    }
    int search(SearchMode mode) { return SearchEngine(*registry).search(mode); }
};

TEST_F(SearchEngineTest, QuickSearchFindsTheDefaultBusGroupedByCodeInListOrder) {
    startDefault();
    ASSERT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(registry->searchProgress.load(), 100);
    EXPECT_EQ(registry->searching.load(), 0);

    struct Expected {
        int code, id, model, version, level;
        ModelClass modelClass;
        bool record;
    };
    const std::vector<Expected> expected = {
        {1, 1, 28, 30, 2, Actuator, true},      {1, 2, 12, 24, 2, Actuator, true},
        {1, 3, 106, 38, 2, Actuator, true},     {1, 4, 64, 35, 2, Actuator, true},
        {1, 9, 255, 0, 0, UnknownModel, false}, {34, 7, 10, 27, 1, Actuator, true},
        {34, 100, 13, 20, 2, Sensor, false},    {207, 21, 113, 36, 2, Actuator, true},
    };
    const std::vector<DeviceSummary> found = registry->snapshot();
    ASSERT_EQ(found.size(), expected.size());
    EXPECT_EQ(registry->entryCount(), static_cast<int>(expected.size()));  // no placeholder
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        const Expected& e = expected[i];
        EXPECT_EQ(found[i].baudCode, e.code);
        EXPECT_EQ(found[i].id, e.id);
        EXPECT_EQ(found[i].modelNumber, e.model);
        EXPECT_EQ(found[i].firmwareVersion, e.version);
        EXPECT_EQ(found[i].returnLevel, e.level);
        EXPECT_EQ(found[i].modelClass, e.modelClass);
        DeviceEntry* entry = registry->find(e.code, e.id);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->servoRecord() != nullptr, e.record);
    }
    // The PW-900's record knows its larger range.
    EXPECT_EQ(registry->find(1, 3)->servoRecord()->maxPosition(), 4095);
    EXPECT_EQ(registry->codesInUse(), (std::vector<int>{1, 34, 207}));

    // Nine broadcasts, at the quick list's rates in order.
    std::vector<std::uint32_t> rates;
    for (const SimTraffic& t : broadcasts()) {
        rates.push_back(t.rateBps);
    }
    EXPECT_EQ(rates, (std::vector<std::uint32_t>{1000000, 57142, 500000, 400000, 250000, 200000,
                                                 117647, 19230, 9615}));
}

TEST_F(SearchEngineTest, CodesOutsideTheQuickListAreLeftToTheFullSearch) {
    start({simSpec(1, 3, 12), simSpec(2, 6, 12), simSpec(255, 253, 12)});
    ASSERT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}}));

    // The full search walks every code from 1 and clears the previous list.
    sim->clearTraffic();
    EXPECT_EQ(search(FullSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}, {2, 6}, {255, 253}}));
    EXPECT_EQ(broadcasts().size(), 255u);
}

TEST_F(SearchEngineTest, EmptyBusMakesNineBroadcastsAndAddsNothing) {
    start({});
    const std::int64_t start = clock.nowUs();
    EXPECT_EQ(search(QuickSearch), 100);
    const auto writes = hostWrites();
    ASSERT_EQ(writes.size(), 9u);
    for (const SimTraffic& t : writes) {
        EXPECT_EQ(t.bytes, kBroadcastPing);
    }
    EXPECT_EQ(registry->entryCount(), 0);
    EXPECT_EQ(registry->searchProgress.load(), 100);
    // Each silent code costs the baud change (100 ms), the 500 ms wait and a 1 ms count read.
    EXPECT_EQ((clock.nowUs() - start) / 1000, 9 * 601 - 100);  // code 1 was already set at open
}

TEST_F(SearchEngineTest, ProgressAdvancesPerIdAndPerSilentCode) {
    start({simSpec(1, 30, 12)});
    // Sample (search ID, progress) at every write.
    std::vector<std::pair<int, int>> samples;
    driver.hook = [&](const std::string& call) {
        if (call == "write") {
            samples.emplace_back(registry->searchId.load(), registry->searchProgress.load());
        }
        return FT_OK;
    };
    ASSERT_EQ(search(QuickSearch), 100);

    auto progressAtId = [&](int id) {
        for (const auto& [searchId, progress] : samples) {
            if (searchId == id) {
                return progress;
            }
        }
        return -1;
    };
    // Before pinging ID k at code 1, k of 2286 steps are done.
    EXPECT_EQ(progressAtId(0), 0);
    EXPECT_EQ(progressAtId(22), 0);  // 22/2286 = 0.96 %
    EXPECT_EQ(progressAtId(23), 1);  // 23/2286 = 1.006 %
    EXPECT_EQ(progressAtId(229), 10);
    EXPECT_EQ(progressAtId(253), 11);
    // The broadcasts of the eight silent codes: 254 steps each.
    std::vector<int> atBroadcast;
    for (const auto& [searchId, progress] : samples) {
        if (searchId == 254) {
            atBroadcast.push_back(progress);
        }
    }
    EXPECT_EQ(atBroadcast, (std::vector<int>{0, 11, 22, 33, 44, 55, 66, 77, 88}));
    EXPECT_EQ(registry->searchProgress.load(), 100);
}

TEST_F(SearchEngineTest, StopDuringTheWalkEndsAfterTheCurrentIdAndKeepsTheDevices) {
    start({simSpec(1, 3, 12), simSpec(1, 10, 28), simSpec(1, 20, 12), simSpec(34, 5, 12)});
    driver.hook = [&](const std::string& call) {
        if (call == "write" && registry->searchId.load() == 10 && registry->searching.load()) {
            registry->stopSearch();
        }
        return FT_OK;
    };
    EXPECT_EQ(search(QuickSearch), 100);
    // ID 10 was still probed to its end; nothing after it.
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}, {1, 10}}));
    EXPECT_EQ(registry->entryCount(), 2);
    EXPECT_EQ(registry->searchProgress.load(), 100);
    EXPECT_TRUE(packets(Ping, 11).empty());
    EXPECT_TRUE(hostWrites(57142).empty());
}

// Between a stop and the worker's end the worker still owns its placeholder: a new search, a
// refresh and a clear are refused and the placeholder is no device, also when the stop comes
// at the search's first bus call. Once the worker has ended, the devices found are intact.
TEST_F(SearchEngineTest, StoppedSearchRefusesSearchRefreshAndClearUntilItEnds) {
    struct Case {
        const char* name;
        int stopAtId;       // -1: at the first bus call of the search
        int devicesAtStop;  // while the placeholder is probed at the stop
        std::vector<std::pair<int, int>> found;
    };
    const Case cases[] = {
        {"first call", -1, 0, {}},
        {"walk", 10, 1, {{1, 3}, {1, 10}}},
    };
    start({simSpec(1, 3, 12), simSpec(1, 10, 28), simSpec(1, 20, 12)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool stopped = false;
        std::vector<int> refused;
        int devicesAtStop = -1;
        bool placeholderSeen = false;
        driver.hook = [&](const std::string&) {
            if (!registry->searchWorkerActive()) {
                return FT_OK;
            }
            if (!stopped && (c.stopAtId < 0 || registry->searchId.load() == c.stopAtId)) {
                registry->stopSearch();
                stopped = true;
                refused = {search(QuickSearch), registry->refresh(), registry->clear()};
                devicesAtStop = registry->deviceCount();
            }
            if (stopped) {  // every later bus call of the winding-down worker
                placeholderSeen = placeholderSeen || registry->find(-1, -1) != nullptr ||
                                  registry->entryCount() != registry->deviceCount() + 1 ||
                                  registry->snapshot().size() != registry->idsAt(1).size();
            }
            return FT_OK;
        };
        EXPECT_EQ(search(QuickSearch), 100);
        driver.hook = nullptr;
        ASSERT_TRUE(stopped);
        EXPECT_EQ(refused, (std::vector<int>{105, 105, 105}));
        EXPECT_EQ(devicesAtStop, c.devicesAtStop);
        EXPECT_FALSE(placeholderSeen);
        EXPECT_FALSE(registry->searchWorkerActive());
        EXPECT_EQ(addresses(), c.found);
        EXPECT_EQ(registry->entryCount(), static_cast<int>(c.found.size()));
        EXPECT_EQ(registry->refresh(), 100);
        EXPECT_EQ(addresses(), c.found);
    }
    EXPECT_EQ(registry->clear(), 100);
    EXPECT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}, {1, 10}, {1, 20}}));
}

TEST_F(SearchEngineTest, StopAfterASilentBroadcastEndsBeforeTheNextCode) {
    start({});
    driver.hook = [&](const std::string& call) {
        if (call == "write" && registry->searchCode.load() == 34) {
            registry->stopSearch();
        }
        return FT_OK;
    };
    EXPECT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(hostWrites().size(), 2u);  // broadcasts at codes 1 and 34 only
    EXPECT_EQ(registry->searchProgress.load(), 100);
    EXPECT_EQ(registry->searching.load(), 0);
}

TEST_F(SearchEngineTest, CorruptAnswersToTheBroadcastAreNotCounted) {
    // At code 1 a corrupt answer and noise come besides a good one; at code 34 only a corrupt
    // answer comes: nothing is walked there.
    start({simSpec(1, 3, 12), simSpec(1, 9, 12), simSpec(34, 4, 12)});
    dev(1, 9).setFaults({.corruptChecksum = true, .noiseBytes = 3});
    dev(34, 4).setFaults({.corruptChecksum = true});
    ASSERT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}}));
    for (const SimTraffic& t : hostWrites(57142)) {
        EXPECT_EQ(t.bytes, kBroadcastPing);  // no walk at code 34
    }
}

// A device whose identity read comes back corrupt once is read again and found; one whose
// read is corrupt twice is left out as before, and the search goes on to the next ID.
TEST_F(SearchEngineTest, CorruptIdentityReadIsReadOnceMore) {
    start({simSpec(1, 3, 12), simSpec(1, 5, 12), simSpec(1, 7, 12)});
    dev(1, 3).setFaults({.corruptReads = 1});
    dev(1, 5).setFaults({.corruptReads = 2});
    ASSERT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}, {1, 7}}));
    for (const auto& [id, reads] : {std::pair{3, 2u}, std::pair{5, 2u}, std::pair{7, 1u}}) {
        std::size_t identityReads = 0;
        for (const SimTraffic& t : packets(Read, id)) {
            identityReads += params(t) == bytes({0, 17}) ? 1 : 0;
        }
        EXPECT_EQ(identityReads, reads) << "ID " << id;
    }
    EXPECT_EQ(registry->find(1, 3)->modelNumber(), 12);
    EXPECT_NE(registry->find(1, 3)->servoRecord(), nullptr);
}

TEST_F(SearchEngineTest, LevelZeroDeviceIsRecordedAsUnknownWithoutRecord) {
    start({simSpec(1, 4, 12, 7, 0)});
    ASSERT_EQ(search(QuickSearch), 100);
    ASSERT_EQ(registry->deviceCount(), 1);
    const DeviceEntry* entry = registry->find(1, 4);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->modelNumber(), 255);
    EXPECT_EQ(entry->modelClass(), UnknownModel);
    EXPECT_EQ(entry->returnLevel(), 0);
    EXPECT_EQ(entry->firmwareVersion(), 0);
    EXPECT_EQ(entry->servoRecord(), nullptr);
}

TEST_F(SearchEngineTest, RefusesASecondSearchWhileOneRuns) {
    start({simSpec(1, 2, 12)});
    int nested = 0;
    driver.hook = [&](const std::string& call) {
        if (call == "write" && nested == 0) {
            nested = search(FullSearch);
        }
        return FT_OK;
    };
    EXPECT_EQ(search(QuickSearch), 100);
    EXPECT_EQ(nested, 105);
    EXPECT_EQ(registry->deviceCount(), 1);
}

TEST_F(SearchEngineTest, NoAdapterGives101) {
    start({simSpec(1, 2, 12)});
    registry->bus().close();
    EXPECT_EQ(search(QuickSearch), 101);
    EXPECT_EQ(registry->searching.load(), 0);
}

TEST_F(SearchEngineTest, AdapterFailureDuringTheWalkKeepsTheDevicesFoundSoFar) {
    start({simSpec(1, 2, 12), simSpec(1, 9, 12)});
    int progressBefore = -1;
    driver.hook = [&](const std::string& call) {
        if (call == "read" && registry->searchId.load() == 5) {
            progressBefore = registry->searchProgress.load();
            return FT_IO_ERROR;
        }
        return FT_OK;
    };
    EXPECT_EQ(search(QuickSearch), 101);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_EQ(registry->entryCount(), 1);  // placeholder removed
    EXPECT_EQ(registry->searching.load(), 0);
    EXPECT_EQ(registry->searchProgress.load(), progressBefore);  // not 100 after a failure
}

TEST_F(SearchEngineTest, FailedBaudChangeEndsTheSearchWithItsResult) {
    start({simSpec(1, 2, 12), simSpec(3, 9, 12)});
    driver.hook = [&](const std::string& call) {
        // The change to code 3, after code 34.
        return call == "setBaudRate" && registry->searchCode.load() == 34 ? FT_OTHER_ERROR : FT_OK;
    };
    EXPECT_EQ(search(QuickSearch), 101);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_EQ(registry->entryCount(), 1);
    EXPECT_EQ(registry->searching.load(), 0);
}

TEST_F(SearchEngineTest, AdapterFailureAtAnyPointKeepsThePrefixOfTheList) {
    startDefault();
    ASSERT_EQ(search(QuickSearch), 100);
    const std::vector<std::pair<int, int>> all = addresses();
    ASSERT_EQ(all.size(), 8u);

    // The adapter fails at different points of the search: each time the search ends with
    // 101, no placeholder is left and the devices found before the failure stay, in order.
    bool sawPartial = false;
    for (int from = 50; from < 20000; from *= 2) {
        SCOPED_TRACE(from);
        sim->failAdapterFrom(from);
        const int result = search(QuickSearch);
        sim->failAdapterFrom(0);
        if (result == 100) {
            break;  // the search got through before the failure point
        }
        EXPECT_EQ(result, 101);
        EXPECT_EQ(registry->searching.load(), 0);
        EXPECT_EQ(registry->entryCount(), registry->deviceCount());
        EXPECT_LT(registry->searchProgress.load(), 100);
        const std::vector<std::pair<int, int>> found = addresses();
        ASSERT_LE(found.size(), all.size());
        EXPECT_TRUE(std::equal(found.begin(), found.end(), all.begin()));
        sawPartial = sawPartial || (!found.empty() && found.size() < all.size());
        // The failed search left the adapter in a failed state; open it anew.
        registry->bus().close();
        ASSERT_TRUE(registry->bus().open(0));
    }
    EXPECT_TRUE(sawPartial);
}

// The GUI thread reads the registry and stops the search while the worker runs; under
// ThreadSanitizer this checks the registry's locking.
TEST_F(SearchEngineTest, ReadersAndStopOnAnotherThread) {
    startDefault();
    std::atomic<int> result{0};
    std::thread worker([&] { result = search(FullSearch); });
    int code = 0;
    int id = 0;
    int polls = 0;
    while (result.load() == 0) {
        for (const auto& device : registry->snapshot()) {
            EXPECT_NE(device.id, -1);
            EXPECT_NE(device.modelNumber, 0);
        }
        registry->codesInUse();
        registry->idsAt(1);
        registry->progress(code, id);
        if (++polls == 200) {
            registry->stopSearch();
        }
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(result.load(), 100);
    EXPECT_EQ(registry->searching.load(), 0);
    EXPECT_EQ(registry->entryCount(), registry->deviceCount());
}

}  // namespace
}  // namespace mvx::test
