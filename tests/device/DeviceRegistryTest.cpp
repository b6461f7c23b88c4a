#include "device/DeviceRegistry.h"

#include "protocol/Packet.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

class DeviceRegistryTest : public SimRegistryTest {
protected:
    // Model-12 devices at code 1 with these IDs, registered in this order.
    void startWithIds(std::initializer_list<int> ids, int level = 2) {
        std::vector<SimDeviceSpec> devices;
        for (int id : ids) {
            devices.push_back(simSpec(1, id, 12, 30, level));
        }
        start(devices);
        for (int id : ids) {
            registerDevice(1, id);
        }
    }
    std::vector<std::pair<int, int>> addresses() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& d : registry->snapshot()) {
            out.emplace_back(d.baudCode, d.id);
        }
        return out;
    }
};

TEST_F(DeviceRegistryTest, ListOperations) {
    startWithIds({1, 2, 3, 4});
    registry->move(3, 0);  // (1,4) before (1,1)
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 4}, {1, 1}, {1, 2}, {1, 3}}));
    registry->move(0, 2);  // just before the entry that was at index 2
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}, {1, 2}, {1, 3}}));
    registry->moveToEnd(1);
    EXPECT_EQ(registry->indexOf(1, 4), 3);
    EXPECT_EQ(registry->indexOf(1, 9), -1);
    EXPECT_EQ(registry->entryAt(4), nullptr);
    EXPECT_EQ(registry->entryAt(-1), nullptr);
    EXPECT_FALSE(registry->removeAt(4));
    EXPECT_TRUE(registry->removeAt(0));
    EXPECT_TRUE(registry->removeLast());
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 2}, {1, 3}}));
    registry->walkPosition = 5;
    registry->clear();
    EXPECT_EQ(registry->entryCount(), 0);
    EXPECT_EQ(registry->walkPosition, 0);
    EXPECT_FALSE(registry->removeLast());
}

TEST_F(DeviceRegistryTest, PlaceholderIsNoDevice) {
    startWithIds({1, 2});
    registry->searching = 1;
    DeviceEntry* placeholder = registry->appendPlaceholder();
    ASSERT_EQ(placeholder->probe(1, 2), 100);  // filled, but still the placeholder
    EXPECT_EQ(registry->entryCount(), 3);
    EXPECT_EQ(registry->deviceCount(), 2);
    EXPECT_NE(registry->find(1, 2), placeholder);
    EXPECT_EQ(registry->snapshot().size(), 2u);
    EXPECT_EQ(registry->idsAt(1), (std::vector<int>{1, 2}));
    // A stop leaves the placeholder out until the search removes it.
    registry->stopSearch();
    EXPECT_EQ(registry->searching.load(), 0);
    EXPECT_EQ(registry->deviceCount(), 2);
    EXPECT_EQ(registry->refresh(), 100);  // the real devices answer
    registry->removeLast();
    EXPECT_EQ(registry->deviceCount(), 2);
    EXPECT_EQ(registry->find(1, 2), registry->entryAt(1));
}

TEST_F(DeviceRegistryTest, CodesInUseAscendingAndIdsInListOrder) {
    start({simSpec(34, 8, 12), simSpec(34, 2, 12), simSpec(3, 1, 13)});
    registerDevice(34, 8);
    registerDevice(34, 2);
    registerDevice(3, 1);
    EXPECT_EQ(registry->codesInUse(), (std::vector<int>{3, 34}));
    EXPECT_EQ(registry->idsAt(34), (std::vector<int>{8, 2}));
    EXPECT_TRUE(registry->idsAt(1).empty());
}

TEST_F(DeviceRegistryTest, ProgressAndStop) {
    start({});
    registry->searchProgress = 42;
    registry->searchCode = 34;
    registry->searchId = 254;
    registry->searching = 1;
    int code = 0;
    int id = 0;
    EXPECT_EQ(registry->progress(code, id), 42);
    EXPECT_EQ(code, 34);
    EXPECT_EQ(id, 254);
    EXPECT_EQ(registry->refresh(), 105);
    registry->stopSearch();
    EXPECT_EQ(registry->searching.load(), 0);
}

TEST_F(DeviceRegistryTest, ChangeAddressMovesBeforeTheFirstGreaterAddress) {
    startWithIds({1, 3, 5});
    ASSERT_EQ(registry->changeAddress(1, 5, 1, 2), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {1, 3}}));
    EXPECT_EQ(registry->indexOf(1, 2), 1);
    const auto writes = packets(Write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].bytes[2], 5);
    EXPECT_EQ(params(writes[0]), bytes({3, 2}));
    EXPECT_NE(sim->find(1, 2), nullptr);
}

TEST_F(DeviceRegistryTest, ChangeAddressToAnotherCodeGoesBehindLowerCodes) {
    startWithIds({1, 3, 5});
    ASSERT_EQ(registry->changeAddress(1, 1, 34, 0), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 3}, {1, 5}, {34, 0}}));
    const auto writes = packets(Write);
    ASSERT_EQ(writes.size(), 2u);  // the ID first, then the baud rate
    EXPECT_EQ(params(writes[0]), bytes({3, 0}));
    EXPECT_EQ(params(writes[1]), bytes({4, 34}));
    EXPECT_EQ(writes[1].bytes[2], 0);
    EXPECT_EQ(registry->bus().link()->currentBaudCode(), 34);
    EXPECT_NE(sim->find(34, 0), nullptr);
}

TEST_F(DeviceRegistryTest, LevelOneDeviceIsFollowedByPingToItsNewAddress) {
    start({simSpec(1, 1, 28), simSpec(34, 7, 10, 30, 1)});
    registerDevice(1, 1);
    registerDevice(34, 7);
    ASSERT_EQ(registry->changeAddress(34, 7, 1, 8), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 8}}));
    EXPECT_EQ(dev(1, 8).model(), 10);
    EXPECT_EQ(registry->find(1, 8)->ping(), 100);
    EXPECT_EQ(registry->codesInUse(), (std::vector<int>{1}));
    EXPECT_EQ(registry->changeAddress(1, 8, 1, 1), 105);
    EXPECT_EQ(dev(1, 8).model(), 10);
}

TEST_F(DeviceRegistryTest, ChangeAddressInPlaceAndRefusals) {
    startWithIds({1, 3, 5});
    ASSERT_EQ(registry->changeAddress(1, 3, 1, 4), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}, {1, 5}}));
    ASSERT_EQ(registry->changeAddress(1, 4, 1, 4), 100);
    EXPECT_EQ(packets(Write).size(), 1u);

    // Occupied or unknown addresses send nothing.
    sim->clearTraffic();
    EXPECT_EQ(registry->changeAddress(1, 5, 1, 4), 105);
    EXPECT_EQ(registry->changeAddress(1, 7, 1, 8), 103);
    EXPECT_EQ(registry->changeAddress(1, 5, 1, 254), 105);
    EXPECT_TRUE(hostWrites().empty());
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}, {1, 5}}));
}

TEST_F(DeviceRegistryTest, FailedAddressChangeStillReorders) {
    startWithIds({1, 3, 5});
    dev(1, 5).setFaults({.dropReply = true});
    EXPECT_EQ(registry->changeAddress(1, 5, 1, 0), 100);  // only 101 is reported
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 5}, {1, 1}, {1, 3}}));
    driver.hook = [](const std::string& call) { return call == "write" ? FT_IO_ERROR : FT_OK; };
    EXPECT_EQ(registry->changeAddress(1, 3, 1, 9), 101);
}

TEST_F(DeviceRegistryTest, RefreshDropsSilentDevicesInOrder) {
    startWithIds({1, 2, 3, 4, 5});
    for (int id : {2, 3, 5}) {
        dev(1, id).setFaults({.dropReply = true});
    }
    EXPECT_EQ(registry->refresh(), 100);
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{1, 1}, {1, 4}}));
    registry->bus().close();
    EXPECT_EQ(registry->refresh(), 101);
    EXPECT_EQ(registry->deviceCount(), 2);
}

TEST_F(DeviceRegistryTest, DestroyingTheRegistryClosesTheBus) {
    start({});
    registry->bus().close();  // the simulated adapter opens once at a time
    auto other = std::make_unique<DeviceRegistry>(driver, clock);
    ASSERT_TRUE(other->bus().open(0));
    std::weak_ptr<AdapterLink> link = other->bus().link();
    other.reset();
    EXPECT_TRUE(link.expired());
    EXPECT_TRUE(registry->bus().open(0));
}

}  // namespace
}  // namespace mvx::test
