#include "device/DeviceRegistry.h"

#include <atomic>
#include <thread>

#include "DeviceFixture.h"

namespace mvx::test {
namespace {

using DeviceRegistryTest = DeviceTest;

std::vector<std::pair<int, int>> addresses(const DeviceRegistry& registry) {
    std::vector<std::pair<int, int>> out;
    for (const auto& d : registry.snapshot()) {
        out.emplace_back(d.baudCode, d.id);
    }
    return out;
}

TEST_F(DeviceRegistryTest, ListOperations) {
    for (int id : {1, 2, 3, 4}) {
        addDevice(12, 1, id, 2);
        registerDevice(1, id);
    }
    registry.move(3, 0);  // (1,4) before (1,1)
    EXPECT_EQ(addresses(registry),
              (std::vector<std::pair<int, int>>{{1, 4}, {1, 1}, {1, 2}, {1, 3}}));
    registry.move(0, 2);  // just before the entry that was at index 2
    EXPECT_EQ(addresses(registry),
              (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}, {1, 2}, {1, 3}}));
    registry.moveToEnd(1);
    EXPECT_EQ(registry.indexOf(1, 4), 3);
    EXPECT_EQ(registry.indexOf(1, 9), -1);
    EXPECT_EQ(registry.entryAt(4), nullptr);
    EXPECT_EQ(registry.entryAt(-1), nullptr);
    EXPECT_FALSE(registry.removeAt(4));
    EXPECT_TRUE(registry.removeAt(0));
    EXPECT_TRUE(registry.removeLast());
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 2}, {1, 3}}));
    registry.walkPosition = 5;
    registry.clear();
    EXPECT_EQ(registry.entryCount(), 0);
    EXPECT_EQ(registry.walkPosition, 0);
    EXPECT_FALSE(registry.removeLast());
}

TEST_F(DeviceRegistryTest, PlaceholderIsNoDevice) {
    addDevice(12, 1, 1, 2);
    addDevice(12, 1, 2, 2);
    registry.searching = 1;
    registerDevice(1, 1);
    registerDevice(1, 2);
    DeviceEntry* placeholder = registry.appendPlaceholder();
    ASSERT_EQ(placeholder->probe(1, 2), 100);  // filled, but still the placeholder
    EXPECT_EQ(registry.entryCount(), 3);
    EXPECT_EQ(registry.deviceCount(), 2);
    EXPECT_NE(registry.find(1, 2), placeholder);
    EXPECT_EQ(registry.snapshot().size(), 2u);
    EXPECT_EQ(registry.idsAt(1), (std::vector<int>{1, 2}));
    // A stop leaves the placeholder out until the search removes it.
    registry.stopSearch();
    EXPECT_EQ(registry.searching.load(), 0);
    EXPECT_EQ(registry.deviceCount(), 2);
    EXPECT_EQ(registry.refresh(), 100);  // the real devices answer
    registry.removeLast();
    EXPECT_EQ(registry.deviceCount(), 2);
    EXPECT_EQ(registry.find(1, 2), registry.entryAt(1));
}

TEST_F(DeviceRegistryTest, CodesInUseAscendingAndIdsInListOrder) {
    addDevice(12, 34, 8, 2);
    addDevice(12, 34, 2, 2);
    addDevice(13, 3, 1, 2);
    registerDevice(34, 8);
    registerDevice(34, 2);
    registerDevice(3, 1);
    EXPECT_EQ(registry.codesInUse(), (std::vector<int>{3, 34}));
    EXPECT_EQ(registry.idsAt(34), (std::vector<int>{8, 2}));
    EXPECT_TRUE(registry.idsAt(1).empty());
}

TEST_F(DeviceRegistryTest, ProgressAndStop) {
    registry.searchProgress = 42;
    registry.searchCode = 34;
    registry.searchId = 254;
    registry.searching = 1;
    int code = 0;
    int id = 0;
    EXPECT_EQ(registry.progress(code, id), 42);
    EXPECT_EQ(code, 34);
    EXPECT_EQ(id, 254);
    EXPECT_EQ(registry.refresh(), 105);
    registry.stopSearch();
    EXPECT_EQ(registry.searching.load(), 0);
}

class ChangeAddressTest : public DeviceRegistryTest {
protected:
    void SetUp() override {
        DeviceRegistryTest::SetUp();
        for (int id : {1, 3, 5}) {
            addDevice(12, 1, id, 2);
            registerDevice(1, id);
        }
    }
};

TEST_F(ChangeAddressTest, MovesBeforeTheFirstGreaterAddress) {
    ASSERT_EQ(registry.changeAddress(1, 5, 1, 2), 100);
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {1, 3}}));
    EXPECT_EQ(registry.indexOf(1, 2), 1);
    ASSERT_EQ(writes().size(), 1u);
    EXPECT_EQ(writes()[0].id, 5);
    EXPECT_EQ(writes()[0].parameters, params({3, 2}));
    EXPECT_NE(bus.device(1, 2), nullptr);
}

TEST_F(ChangeAddressTest, ToAnotherCodeGoesBehindLowerCodes) {
    ASSERT_EQ(registry.changeAddress(1, 1, 34, 0), 100);
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 3}, {1, 5}, {34, 0}}));
    ASSERT_EQ(writes().size(), 2u);  // the ID first, then the baud rate
    EXPECT_EQ(writes()[0].parameters, params({3, 0}));
    EXPECT_EQ(writes()[1].parameters, params({4, 34}));
    EXPECT_EQ(writes()[1].id, 0);
    EXPECT_EQ(registry.bus().link()->currentBaudCode(), 34);
    EXPECT_NE(bus.device(34, 0), nullptr);
}

TEST_F(ChangeAddressTest, SameAddressInPlace) {
    ASSERT_EQ(registry.changeAddress(1, 3, 1, 4), 100);
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}, {1, 5}}));
    ASSERT_EQ(registry.changeAddress(1, 4, 1, 4), 100);
    EXPECT_EQ(writes().size(), 1u);
}

TEST_F(ChangeAddressTest, OccupiedOrUnknownAddressIsRefused) {
    EXPECT_EQ(registry.changeAddress(1, 5, 1, 3), 105);
    EXPECT_EQ(registry.changeAddress(1, 7, 1, 8), 103);
    EXPECT_EQ(registry.changeAddress(1, 5, 1, 254), 105);
    EXPECT_TRUE(bus.sent.empty());
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 1}, {1, 3}, {1, 5}}));
}

TEST_F(ChangeAddressTest, FailedWriteStillReorders) {
    bus.device(1, 5)->silent = true;
    EXPECT_EQ(registry.changeAddress(1, 5, 1, 0), 100);  // only 101 is reported
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 5}, {1, 1}, {1, 3}}));
    bus.failWrites = true;
    EXPECT_EQ(registry.changeAddress(1, 3, 1, 9), 101);
}

TEST_F(DeviceRegistryTest, RefreshDropsSilentDevicesInOrder) {
    for (int id : {1, 2, 3, 4, 5}) {
        addDevice(12, 1, id, 2);
        registerDevice(1, id);
    }
    bus.device(1, 2)->silent = true;
    bus.device(1, 3)->silent = true;
    bus.device(1, 5)->silent = true;
    EXPECT_EQ(registry.refresh(), 100);
    EXPECT_EQ(addresses(registry), (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}}));
    registry.bus().close();
    EXPECT_EQ(registry.refresh(), 101);
    EXPECT_EQ(registry.deviceCount(), 2);
}

TEST_F(DeviceRegistryTest, DestroyingTheRegistryClosesTheBus) {
    auto other = std::make_unique<DeviceRegistry>(bus, clock);
    ASSERT_TRUE(other->bus().open(0));
    std::weak_ptr<AdapterLink> link = other->bus().link();
    other.reset();
    EXPECT_TRUE(link.expired());
}

// The worker fills the placeholder and appends entries while this thread reads the list, as
// the search and its dialog do. Run under ThreadSanitizer this checks the locking.
TEST_F(DeviceRegistryTest, ReadersSeeConsistentListsDuringASearch) {
    for (int id = 0; id < 40; id += 2) {
        addDevice(id % 4 == 0 ? 12 : 13, 1, id, 2);
    }
    std::atomic<bool> done{false};
    registry.searching = 1;
    std::thread worker([&] {
        registry.clear();
        DeviceEntry* placeholder = registry.appendPlaceholder();
        for (int id = 0; id < 40 && registry.searching.load() == 1; ++id) {
            placeholder->reset();
            placeholder->probe(1, id);
            if (placeholder->modelNumber() != 0) {
                placeholder = registry.appendPlaceholder();
            }
            registry.searchId = id;
        }
        registry.removeLast();
        registry.searching = 0;
        done = true;
    });
    int polls = 0;
    while (!done.load()) {
        const auto devices = registry.snapshot();
        for (const auto& d : devices) {
            EXPECT_EQ(d.id % 2, 0);
            EXPECT_EQ(d.baudCode, 1);
            EXPECT_EQ(d.modelNumber, d.id % 4 == 0 ? 12 : 13);
        }
        registry.codesInUse();
        registry.idsAt(1);
        registry.deviceCount();
        if (++polls == 50) {
            registry.stopSearch();
        }
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_LE(registry.deviceCount(), 20);
    for (const auto& d : registry.snapshot()) {
        EXPECT_NE(d.modelNumber, 0);
    }
}

}  // namespace
}  // namespace mvx::test
