#include "device/DeviceRegistry.h"

#include <algorithm>
#include <cmath>

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
    EXPECT_EQ(registry->clear(), 100);
    EXPECT_EQ(registry->entryCount(), 0);
    EXPECT_EQ(registry->walkPosition, 0);
    EXPECT_FALSE(registry->removeLast());
}

// From beginSearch until endSearch the worker's placeholder is no device, even once a stop
// has cleared the flag, and search, refresh and clear are refused; endSearch removes exactly
// that placeholder.
TEST_F(DeviceRegistryTest, SearchWorkerKeepsItsPlaceholderUntilItEnds) {
    startWithIds({1, 2});
    DeviceEntry* placeholder = registry->beginSearch();
    ASSERT_NE(placeholder, nullptr);
    EXPECT_TRUE(registry->searchWorkerActive());
    EXPECT_EQ(registry->searching.load(), 1);
    EXPECT_EQ(registry->entryCount(), 1);  // the list was emptied
    EXPECT_EQ(registry->deviceCount(), 0);
    EXPECT_EQ(registry->find(-1, -1), nullptr);  // not yet filled: still no device
    ASSERT_EQ(placeholder->probe(1, 1), 100);
    DeviceEntry* found = placeholder;
    placeholder = registry->appendPlaceholder();  // as the worker does after a find
    ASSERT_EQ(placeholder->probe(1, 2), 100);     // filled, but still the placeholder

    for (bool stopped : {false, true}) {
        SCOPED_TRACE(stopped);
        if (stopped) {
            registry->stopSearch();
            EXPECT_EQ(registry->searching.load(), 0);
        }
        EXPECT_EQ(registry->entryCount(), 2);
        EXPECT_EQ(registry->deviceCount(), 1);
        EXPECT_EQ(registry->find(1, 2), nullptr);
        EXPECT_EQ(registry->find(1, 1), found);
        EXPECT_EQ(registry->snapshot().size(), 1u);
        EXPECT_EQ(registry->idsAt(1), (std::vector<int>{1}));
        EXPECT_EQ(registry->codesInUse(), (std::vector<int>{1}));
        EXPECT_EQ(registry->beginSearch(), nullptr);
        EXPECT_EQ(registry->refresh(), 105);
        EXPECT_EQ(registry->clear(), 105);
    }
    // The placeholder is removed wherever it is, not whatever entry is last.
    registry->move(1, 0);
    registry->endSearch(placeholder);
    EXPECT_FALSE(registry->searchWorkerActive());
    EXPECT_EQ(registry->entryCount(), 1);
    EXPECT_EQ(registry->entryAt(0), found);
    EXPECT_EQ(registry->refresh(), 100);
    EXPECT_EQ(registry->deviceCount(), 1);
    EXPECT_EQ(registry->clear(), 100);
    EXPECT_EQ(registry->entryCount(), 0);
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

// The ID is written first, at the old code: a device holding the new ID there would take the
// baud write too, so that address counts as taken like the new one.
TEST_F(DeviceRegistryTest, ChangeAddressRefusesATakenAddressOnTheWay) {
    const struct {
        int code, id, newCode, newId, result;
    } cases[] = {
        {34, 1, 1, 3, 105},  // (34, 3) is passed on the way
        {34, 3, 1, 1, 105},  // (34, 1) likewise
        {34, 1, 1, 1, 100},  // the baud rate alone: only (1, 1) is passed
        {1, 1, 34, 5, 100},  // (1, 5) and (34, 5) are free
    };
    start({simSpec(34, 1, 12), simSpec(34, 3, 12)});
    registerDevice(34, 1);
    registerDevice(34, 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.code << "," << c.id << " to " << c.newCode << "," << c.newId);
        sim->clearTraffic();
        EXPECT_EQ(registry->changeAddress(c.code, c.id, c.newCode, c.newId), c.result);
        const bool moved = c.result == 100;
        EXPECT_EQ(hostWrites().empty(), !moved);
        EXPECT_EQ(sim->find(c.newCode, c.newId) != nullptr, moved);
        EXPECT_NE(registry->find(moved ? c.newCode : c.code, moved ? c.newId : c.id), nullptr);
    }
    EXPECT_EQ(addresses(), (std::vector<std::pair<int, int>>{{34, 3}, {34, 5}}));
}

// A failed write is reported, the addresses the device may be at are pinged (the new one, the
// new ID at the old code, the old one; each once), and the entry goes where the device answers,
// in (code, ID) order, so a refresh keeps it.
TEST_F(DeviceRegistryTest, FailedAddressChangeFollowsTheDevice) {
    using Addresses = std::vector<std::pair<int, int>>;
    struct Case {
        const char* name;
        int id, level;         // the device at code 1
        int newCode, newId;    // wanted address
        SimFaults faults;      // from the first write of the change ...
        int untilWrite;        // ... up to this host write (0: to the end)
        SimFaults then;        // after it
        int adapterFailsFrom;  // host writes from this one on fail (0: none)
        int result;
        std::pair<int, int> at;  // where the entry ends up
        Addresses pinged;        // (code, ID) of the pings on the wire, in order
        Addresses order;         // the registry afterwards
    };
    const Case cases[] = {
        // The reply is lost but the ID took effect.
        {"lost reply",
         10,
         2,
         1,
         45,
         {.dropReply = true},
         2,
         {},
         0,
         103,
         {1, 45},
         {{1, 45}},
         {{1, 20}, {1, 30}, {1, 40}, {1, 45}, {1, 50}}},
        // The device ignores the write: no answer at the new ID (the level-1 check, then the
        // registry's), the old one answers.
        {"ignored",
         20,
         1,
         1,
         5,
         {.ignoreWrites = true},
         0,
         {},
         0,
         103,
         {1, 20},
         {{1, 5}, {1, 5}, {1, 20}},
         {{1, 20}, {1, 30}, {1, 40}, {1, 45}, {1, 50}}},
        // ID and baud: the ID takes (write 1, ping 2), the baud write (3) is ignored.
        {"baud ignored",
         30,
         1,
         34,
         6,
         {},
         3,
         {.ignoreWrites = true},
         0,
         103,
         {1, 6},
         {{1, 6}, {34, 6}, {34, 6}, {1, 6}},
         {{1, 6}, {1, 20}, {1, 40}, {1, 45}, {1, 50}}},
        {"adapter",
         40,
         2,
         1,
         7,
         {},
         0,
         {},
         1,
         101,
         {1, 40},
         {},
         {{1, 6}, {1, 20}, {1, 40}, {1, 45}, {1, 50}}},
        // The write fails (no reply), then the adapter is lost while the device is looked
        // for: that is 101, not the write's 103.
        {"adapter lost while asking",
         50,
         2,
         1,
         8,
         {.dropReply = true, .ignoreWrites = true},
         0,
         {},
         2,
         101,
         {1, 50},
         {},
         {{1, 6}, {1, 20}, {1, 40}, {1, 45}, {1, 50}}},
    };
    start({simSpec(1, 10, 12, 30, 2), simSpec(1, 20, 12, 30, 1), simSpec(1, 30, 12, 30, 1),
           simSpec(1, 40, 12, 30, 2), simSpec(1, 50, 12, 30, 2)});
    for (const Case& c : cases) {
        registerDevice(1, c.id);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDevice& device = dev(1, c.id);
        device.setFaults(c.faults);
        sim->clearTraffic();
        int writes = 0;
        driver.hook = [&](const std::string& call) {
            if (call == "write" && ++writes == c.untilWrite) {
                device.setFaults(c.then);
            }
            const bool failing = c.adapterFailsFrom > 0 && writes >= c.adapterFailsFrom;
            return call == "write" && failing ? FT_IO_ERROR : FT_OK;
        };
        DeviceEntry* entry = registry->find(1, c.id);
        EXPECT_EQ(registry->changeAddress(1, c.id, c.newCode, c.newId), c.result);
        driver.hook = nullptr;
        Addresses pinged;
        for (const SimTraffic& ping : packets(Ping)) {
            pinged.emplace_back(std::lround(2000000.0 / ping.rateBps) - 1, ping.bytes[2]);
        }
        EXPECT_EQ(pinged, c.pinged);
        EXPECT_EQ(registry->find(c.at.first, c.at.second), entry);
        EXPECT_EQ(addresses(), c.order);
        device.setFaults({});
        EXPECT_EQ(registry->refresh(), 100);
        EXPECT_EQ(addresses(), c.order);
    }
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
