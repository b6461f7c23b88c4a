// What keeps the download from touching a device the user did not choose, and from hanging on
// an adapter that has stopped taking bytes.
#include <gtest/gtest.h>

#include <functional>

#include "FirmwareDownloadFixture.h"
#include "firmware/UpdateResultText.h"
#include "sim/FirmwareFileWriter.h"

namespace mvx::test {
namespace {

// After its restart a device answers at code 1 (model 12) or 34 until its rate is written back
// by ID. When another device of the registry holds its ID at that code, the write-back would
// move that one too: such a device is left alone, and nothing of the update reaches it.
TEST_F(FirmwareDownloadTest, DeviceWhoseIdIsTakenAtItsRestartCodeIsSkipped) {
    struct Row {
        const char* name;
        int model;
        int otherCode;  // where a sensor holds the target's ID
        int skippedAt;  // -1: updated
    };
    const Row rows[] = {
        {"restart at 34, ID taken there", 64, 34, 34},
        {"restart at 1, ID taken there", 12, 1, 1},
        {"restart at 1, ID taken at 34 only", 12, 34, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        startWith({simSpec(3, 5, row.model, 3), simSpec(row.otherCode, 5, 13, 20),
                   simSpec(3, 6, row.model, 3)});
        setImage(row.model, 4, makeSimFirmwareImage(row.model, 4, 50));
        BuildUpdateList(*registry, 1);
        ASSERT_EQ(registry->updates.count, 2);

        EXPECT_EQ(DownloadAll(*registry), 100);
        const UpdateList& updates = registry->updates;
        EXPECT_EQ(updates.resultFlags[1], UpdateSucceeded) << "the next device is updated";
        const SimulatedDevice* other = sim->find(row.otherCode, 5);
        ASSERT_NE(other, nullptr) << "the other device was moved";
        if (row.skippedAt < 0) {
            EXPECT_EQ(updates.resultFlags[0], UpdateSucceeded);
            EXPECT_EQ(dev(3, 5).reg(2), 4);
        } else {
            EXPECT_EQ(updates.resultFlags[0], UpdateSkippedIdInUse);
            EXPECT_EQ(UpdateOutcomeText(updates, 0),
                      "Skipped: ID in use at Baud:" + std::to_string(row.skippedAt));
            EXPECT_EQ(UpdateTotalsText(CountUpdateResults(updates)),
                      "Total Success=1, Fail=0, Not updated=1");
            // Only the stand-by writes of the other device's update reached ID 5.
            for (const SimTraffic& t : packets(KeyedWrite, 5)) {
                EXPECT_EQ(params(t).at(1), 10);
            }
            EXPECT_TRUE(packets(Instruction7, 5).empty());
            EXPECT_TRUE(packets(Write, 5).empty());
            EXPECT_EQ(dev(3, 5).reg(2), 3);
            EXPECT_EQ(registry->find(3, 5)->firmwareVersion(), 3);
        }
        registry.reset();
    }
}

// Before its loader is started the device's model number is read again: a device swapped for
// another model since the search is not flashed, nor one whose model cannot be read; neither
// gets a byte of the loader dialogue, and the run goes on with the next device.
TEST_F(FirmwareDownloadTest, DeviceOfAnotherModelNowIsNotFlashed) {
    struct Row {
        const char* name;
        std::function<void(SimulatedDevice&)> swap;
        UpdateResult result;
        const char* text;
    };
    const Row rows[] = {
        {"swapped for model 64", [](SimulatedDevice& d) { d.setReg16(0, 64); },
         UpdateSkippedModelChanged, "Skipped: model changed"},
        {"reads unanswered", [](SimulatedDevice& d) { d.setFaults({.answerReads = 0}); },
         UpdateFailed, "Fail"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        startWith({simSpec(1, 2, 12, 3), simSpec(1, 3, 12, 3)});
        setImage(12, 4, makeSimFirmwareImage(12, 4, 50));
        updateAll();
        row.swap(dev(1, 2));

        EXPECT_EQ(DownloadAll(*registry), 100);
        const UpdateList& updates = registry->updates;
        EXPECT_EQ(updates.resultFlags[0], row.result);
        EXPECT_EQ(UpdateOutcomeText(updates, 0), row.text);
        EXPECT_EQ(updates.resultFlags[1], UpdateSucceeded);
        for (const SimTraffic& t : packets(KeyedWrite, 2)) {
            EXPECT_EQ(params(t).at(1), 10) << "only stand-by writes";
        }
        EXPECT_EQ(loaderCount(0x0D), 1) << "one loader opened: the other device's";
        EXPECT_EQ(sim->device(0).mode(), SimDeviceMode::Normal);
        EXPECT_EQ(registry->find(1, 2)->firmwareVersion(), 3);
        registry.reset();
    }
}

// A device whose update failed gets the closing bytes (41, 47) even when its loader start was
// not confirmed, and is pinged at its own code afterwards: one that does not answer may still
// be in its loader, and its line says so.
TEST_F(FirmwareDownloadTest, FailedDeviceIsClosedAndPingedAndMayBeReportedInItsLoader) {
    struct Row {
        const char* name;
        bool loseStartReadBack;  // the read-back of register 45 does not reach the host
        int rejectImages;
        int lostCloses;  // closing bytes that do not reach the wire
        UpdateResult result;
        int blocks;
    };
    const Row rows[] = {
        // The loader starts all the same, and the closing bytes take it out again.
        {"start unconfirmed, loader entered", true, 0, 0, UpdateFailed, 0},
        {"three attempts refused", false, 3, 0, UpdateFailed, 3},
        {"three attempts refused, not closed", false, 3, 2, UpdateFailedInLoader, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        driver.hook = nullptr;
        startWith({simSpec(1, 2, 12, 3)});
        dev(1, 2).setFaults({.rejectImages = row.rejectImages});
        setImage(12, 4, {0x10});
        updateAll();
        bool readBackLost = false;
        int lost = 0;
        driver.hook = [&](const std::string& call) {
            if (row.loseStartReadBack && !readBackLost && call == "read" &&
                packets(KeyedWrite, 2).size() == 2u) {
                readBackLost = true;
                return FT_OTHER_ERROR;
            }
            const bool closing = call == "write" && blockSizes().size() == 3u &&
                                 loaderCount(0x41) + loaderCount(0x47) == 0;
            return closing && lost < row.lostCloses ? (++lost, FT_OTHER_ERROR) : FT_OK;
        };

        EXPECT_EQ(DownloadAll(*registry), 100);
        EXPECT_EQ(registry->updates.resultFlags[0], row.result);
        EXPECT_EQ(static_cast<int>(blockSizes().size()), row.blocks);
        EXPECT_EQ(loaderCount(0x41) + loaderCount(0x47), 2 - row.lostCloses);
        EXPECT_TRUE(packets(Instruction7, 2).empty());
        const std::vector<SimTraffic> pings = packets(Ping, 2);
        const std::vector<SimTraffic> raw = loaderBytes();
        ASSERT_FALSE(pings.empty() || raw.empty());
        EXPECT_GT(pings.back().startUs, raw.back().startUs) << "pinged after closing";
        EXPECT_EQ(sim->device(0).mode(),
                  row.lostCloses == 0 ? SimDeviceMode::Normal : SimDeviceMode::Loader);
        if (row.result == UpdateFailedInLoader) {
            EXPECT_EQ(UpdateOutcomeText(registry->updates, 0),
                      "Failed: may still be in its loader, power it off and on");
            EXPECT_EQ(UpdateTotalsText(CountUpdateResults(registry->updates)),
                      "Total Success=0, Fail=1");
        }
        registry.reset();
    }
}

// The adapter freezes (its port takes no bytes) just before one of the loader's writes: that
// write is given up at its deadline (wire time + 1000 ms) and the run ends at once with 101, as
// for a lost adapter; the device in its loader is reported as possibly still there, and the
// device not yet tried is not reached.
TEST_F(FirmwareDownloadTest, FrozenAdapterEndsTheRunAtTheLoaderWritesDeadline) {
    struct Row {
        const char* step;
        std::function<bool()> when;  // asked before each write
        UpdateResult first;
    };
    const std::vector<Row> rows = {
        {"image block", [&] { return loaderBytes().size() == 2; }, UpdateFailedInLoader},
        {"opening byte", [&] { return loaderBytes().size() == 1; }, UpdateFailedInLoader},
        {"closing byte", [&] { return loaderBytes().size() == 3; }, UpdateSucceeded},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        driver.hook = nullptr;
        startWith({simSpec(1, 1, 12, 3), simSpec(1, 2, 12, 3)});
        setImage(12, 4, Bytes(100, 0x22));  // one block
        updateAll();
        std::int64_t frozenAtUs = -1;
        driver.hook = [&](const std::string& call) {
            if (frozenAtUs < 0 && call == "write" && row.when()) {
                frozenAtUs = clock.nowUs();
                sim->setAdapterFrozen(true);
            }
            return FT_OK;
        };

        EXPECT_EQ(DownloadAll(*registry), 101);
        ASSERT_GE(frozenAtUs, 0);
        EXPECT_LE(clock.nowUs() - frozenAtUs, 1042000) << "one deadline, no more";
        EXPECT_EQ(registry->updates.resultFlags[0], row.first);
        EXPECT_EQ(registry->updates.resultFlags[1], UpdateNotReached);
        EXPECT_EQ(DownloadProgress(*registry), 100);
        registry.reset();
    }
}

}  // namespace
}  // namespace mvx::test
