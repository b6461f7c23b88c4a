#include "search/SearchEngine.h"

#include <gtest/gtest.h>

#include <thread>

#include "device/DeviceRegistry.h"
#include "search/FakeBus.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::FakeBus;
using test::hexBytes;
using test::makeDevice;

const test::Bytes kBroadcastPing = hexBytes("FF FF FE 02 01 FE");

bool isPingOf(const test::WireWrite& w, int id) {
    return w.bytes.size() == 6 && w.bytes[2] == id && w.bytes[4] == 1;
}

class SearchEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.bus().open(0)); }

    // (code, id) of every device in list order.
    std::vector<std::pair<int, int>> addresses() const {
        std::vector<std::pair<int, int>> out;
        for (const DeviceSummary& d : registry_.snapshot()) {
            out.emplace_back(d.baudCode, d.id);
        }
        return out;
    }

    VirtualClock clock_;
    FakeBus bus_{clock_};
    DeviceRegistry registry_{bus_, clock_};
    SearchEngine engine_{registry_};
};

TEST_F(SearchEngineTest, QuickSearchFindsEveryDeviceGroupedByCodeInListOrder) {
    bus_.devices = {makeDevice(34, 7, 64, 21),    makeDevice(1, 3, 12, 24),
                    makeDevice(1, 0, 13, 5),      makeDevice(34, 2, 28, 30),
                    makeDevice(207, 200, 106, 9), makeDevice(2, 1, 12, 1)};

    EXPECT_EQ(engine_.search(QuickSearch), 100);

    // Code 2 is not in the quick list.
    EXPECT_EQ(addresses(),
              (std::vector<std::pair<int, int>>{{1, 0}, {1, 3}, {34, 2}, {34, 7}, {207, 200}}));
    const std::vector<DeviceSummary> devices = registry_.snapshot();
    EXPECT_EQ(devices[0].modelNumber, 13);
    EXPECT_EQ(devices[0].modelClass, Sensor);
    EXPECT_EQ(devices[0].firmwareVersion, 5);
    EXPECT_EQ(devices[1].modelNumber, 12);
    EXPECT_EQ(devices[1].modelClass, Actuator);
    EXPECT_EQ(devices[1].firmwareVersion, 24);
    EXPECT_EQ(devices[1].returnLevel, 2);
    EXPECT_EQ(devices[4].modelNumber, 106);
    EXPECT_EQ(devices[4].firmwareVersion, 9);
    ASSERT_NE(registry_.find(1, 3), nullptr);
    EXPECT_NE(registry_.find(1, 3)->servoRecord(), nullptr);
    EXPECT_EQ(registry_.find(1, 0)->servoRecord(), nullptr);  // a sensor has no record

    // The placeholder is gone and the search is over.
    EXPECT_EQ(registry_.entryCount(), 5);
    EXPECT_EQ(registry_.searching.load(), 0);
    EXPECT_EQ(registry_.searchProgress.load(), 100);

    // Nine broadcasts, at the quick list's rates in order.
    std::vector<std::uint32_t> rates;
    for (const auto& w : bus_.log) {
        if (w.bytes == kBroadcastPing) {
            rates.push_back(w.rate);
        }
    }
    EXPECT_EQ(rates, (std::vector<std::uint32_t>{1000000, 57142, 500000, 400000, 250000, 200000,
                                                 117647, 19230, 9615}));
}

TEST_F(SearchEngineTest, SearchClearsThePreviousList) {
    bus_.devices = {makeDevice(1, 3, 12)};
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    bus_.devices = {makeDevice(34, 4, 12)};
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{34, 4}}));
}

TEST_F(SearchEngineTest, EmptyBusMakesNineBroadcastsAndAddsNothing) {
    const std::int64_t start = clock_.nowUs();
    EXPECT_EQ(engine_.search(QuickSearch), 100);
    ASSERT_EQ(bus_.log.size(), 9u);
    for (const auto& w : bus_.log) {
        EXPECT_EQ(w.bytes, kBroadcastPing);
    }
    EXPECT_EQ(registry_.entryCount(), 0);
    EXPECT_EQ(registry_.searchProgress.load(), 100);
    // Each silent code costs the baud change (100 ms), the 500 ms wait and a 1 ms count read.
    EXPECT_EQ((clock_.nowUs() - start) / 1000, 9 * 601 - 100);  // code 1 was already set at open
}

TEST_F(SearchEngineTest, ProgressAdvancesPerIdAndPerSilentCode) {
    bus_.devices = {makeDevice(1, 30, 12)};
    // Sample (search ID, progress) at every write.
    std::vector<std::pair<int, int>> samples;
    bus_.fail = [&](const std::string& call) {
        if (call == "write") {
            samples.emplace_back(registry_.searchId.load(), registry_.searchProgress.load());
        }
        return false;
    };
    ASSERT_EQ(engine_.search(QuickSearch), 100);

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
    EXPECT_EQ(registry_.searchProgress.load(), 100);
}

TEST_F(SearchEngineTest, StopDuringTheWalkEndsAfterTheCurrentIdAndKeepsTheDevices) {
    bus_.devices = {makeDevice(1, 3, 12), makeDevice(1, 10, 28), makeDevice(1, 20, 12),
                    makeDevice(34, 5, 12)};
    bus_.fail = [&](const std::string& call) {
        if (call == "write" && registry_.searchId.load() == 10 && registry_.searching.load()) {
            registry_.stopSearch();
        }
        return false;
    };
    EXPECT_EQ(engine_.search(QuickSearch), 100);
    // ID 10 was still probed to its end; nothing after it.
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}, {1, 10}}));
    EXPECT_EQ(registry_.entryCount(), 2);
    EXPECT_EQ(registry_.searchProgress.load(), 100);
    for (const auto& w : bus_.log) {
        EXPECT_FALSE(isPingOf(w, 11));
        EXPECT_NE(w.rate, 57142u);
    }
}

TEST_F(SearchEngineTest, StopAfterASilentBroadcastEndsBeforeTheNextCode) {
    bus_.fail = [&](const std::string& call) {
        if (call == "write" && registry_.searchCode.load() == 34) {
            registry_.stopSearch();
        }
        return false;
    };
    EXPECT_EQ(engine_.search(QuickSearch), 100);
    EXPECT_EQ(bus_.log.size(), 2u);  // broadcasts at codes 1 and 34 only
    EXPECT_EQ(registry_.searchProgress.load(), 100);
    EXPECT_EQ(registry_.searching.load(), 0);
}

TEST_F(SearchEngineTest, CorruptPacketsDuringTheAnswerCountAreSkipped) {
    bus_.devices = {makeDevice(1, 3, 12)};
    // At code 1 a packet with a wrong checksum comes before the device's answer; at code 34
    // only one with bad header bytes comes: nothing answered there.
    bus_.noiseRate = 1000000;
    bus_.noise = hexBytes("FF FF 09 02 00 00");
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}}));

    bus_.noiseRate = 57142;
    bus_.noise = hexBytes("00 11 22 33");
    bus_.log.clear();
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}}));
    for (const auto& w : bus_.log) {
        EXPECT_TRUE(w.rate != 57142 || w.bytes == kBroadcastPing);  // no walk at code 34
    }
}

TEST_F(SearchEngineTest, LevelZeroDeviceIsRecordedAsUnknownWithoutRecord) {
    bus_.devices = {makeDevice(1, 4, 12, 7, 0)};
    ASSERT_EQ(engine_.search(QuickSearch), 100);
    ASSERT_EQ(registry_.deviceCount(), 1);
    const DeviceEntry* entry = registry_.find(1, 4);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->modelNumber(), 255);
    EXPECT_EQ(entry->modelClass(), UnknownModel);
    EXPECT_EQ(entry->returnLevel(), 0);
    EXPECT_EQ(entry->firmwareVersion(), 0);
    EXPECT_EQ(entry->servoRecord(), nullptr);
}

TEST_F(SearchEngineTest, RefusesASecondSearchWhileOneRuns) {
    bus_.devices = {makeDevice(1, 2, 12)};
    int nested = 0;
    bus_.fail = [&](const std::string& call) {
        if (call == "write" && nested == 0) {
            nested = engine_.search(FullSearch);
        }
        return false;
    };
    EXPECT_EQ(engine_.search(QuickSearch), 100);
    EXPECT_EQ(nested, 105);
    EXPECT_EQ(registry_.deviceCount(), 1);
}

TEST_F(SearchEngineTest, NoAdapterGives101) {
    registry_.bus().close();
    EXPECT_EQ(engine_.search(QuickSearch), 101);
    EXPECT_EQ(registry_.searching.load(), 0);
}

TEST_F(SearchEngineTest, AdapterFailureDuringTheWalkKeepsTheDevicesFoundSoFar) {
    bus_.devices = {makeDevice(1, 2, 12), makeDevice(1, 9, 12)};
    int progressBefore = -1;
    bus_.fail = [&](const std::string& call) {
        if (call == "read" && registry_.searchId.load() == 5) {
            progressBefore = registry_.searchProgress.load();
            return true;
        }
        return false;
    };
    EXPECT_EQ(engine_.search(QuickSearch), 101);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_EQ(registry_.entryCount(), 1);  // placeholder removed
    EXPECT_EQ(registry_.searching.load(), 0);
    EXPECT_EQ(registry_.searchProgress.load(), progressBefore);  // not 100 after a failure
}

TEST_F(SearchEngineTest, FailedBaudChangeEndsTheSearchWithItsResult) {
    bus_.devices = {makeDevice(1, 2, 12), makeDevice(3, 9, 12)};
    bus_.fail = [&](const std::string& call) {
        return call == "setBaudRate" && registry_.searchCode.load() == 34;  // the change to 3
    };
    EXPECT_EQ(engine_.search(QuickSearch), 101);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 2}}));
    EXPECT_EQ(registry_.entryCount(), 1);
    EXPECT_EQ(registry_.searching.load(), 0);
}

TEST_F(SearchEngineTest, FullSearchWalksEveryCodeFromOne) {
    bus_.devices = {makeDevice(2, 6, 12), makeDevice(255, 253, 12)};
    EXPECT_EQ(engine_.search(FullSearch), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{2, 6}, {255, 253}}));
    int broadcasts = 0;
    for (const auto& w : bus_.log) {
        broadcasts += w.bytes == kBroadcastPing;
    }
    EXPECT_EQ(broadcasts, 255);
}

// The GUI thread reads the registry and stops the search while the worker runs.
TEST_F(SearchEngineTest, ReadersAndStopOnAnotherThread) {
    bus_.devices = {makeDevice(1, 3, 12), makeDevice(1, 100, 12), makeDevice(34, 5, 12)};
    int result = 0;
    std::thread worker([&] { result = engine_.search(QuickSearch); });
    int code = 0;
    int id = 0;
    while (registry_.progress(code, id) < 100) {
        const auto devices = registry_.snapshot();
        registry_.codesInUse();
        if (devices.size() >= 2) {
            registry_.stopSearch();
        }
        std::this_thread::yield();
    }
    // Whoever sees 100 sees the final list.
    EXPECT_EQ(registry_.entryCount(), registry_.deviceCount());
    worker.join();
    EXPECT_EQ(result, 100);
    EXPECT_EQ(registry_.searching.load(), 0);
}

}  // namespace
}  // namespace mvx
