#include "firmware/FirmwareDownload.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "FirmwareDownloadFixture.h"
#include "firmware/FirmwareImage.h"
#include "search/SearchEngine.h"
#include "sim/FirmwareFileWriter.h"

namespace mvx::test {
namespace {

TEST_F(FirmwareDownloadTest, TwoByteImageIsSentWithItsChecksumAndTheDeviceRestarted) {
    startWith({simSpec(3, 5, 64, 1)});
    setImage(64, 2, {0x41, 0x42});
    updateAll();
    ASSERT_EQ(registry->updates.count, 1);

    EXPECT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 1);
    EXPECT_EQ(DownloadProgress(*registry), 100);
    // The device was restarted and put back on its own rate.
    EXPECT_EQ(packets(Instruction7, 5).size(), 1u);
    EXPECT_NE(sim->find(3, 5), nullptr);
    // The loaded image is left as loaded.
    EXPECT_EQ(registry->firmware.imageLength, 2u);

    // The dialogue on the wire, every wait exact: the read-back of register 45 answered,
    // 250 ms, the change to code 34 (100 ms), 0D, 100 ms, 4C, 100 ms, the image, 300 ms and
    // the untimed read (1 ms), 100 ms, 41, 100 ms, 47, 100 ms, the change back to code 3
    // (100 ms), instruction 7 answered, the change to code 34 (100 ms), 1000 ms, register 4.
    const std::vector<SimTraffic> raw = loaderBytes();
    ASSERT_EQ(raw.size(), 5u);
    EXPECT_EQ(raw[0].bytes, Bytes{0x0D});
    EXPECT_EQ(raw[1].bytes, Bytes{0x4C});
    EXPECT_EQ(raw[2].bytes, hexBytes("41 42 83"));
    EXPECT_EQ(raw[3].bytes, Bytes{0x41});
    EXPECT_EQ(raw[4].bytes, Bytes{0x47});
    const auto readBack = packets(Read, 5);
    const auto restart = packets(Instruction7, 5);
    const auto rateWrite = packets(Write, 5);
    ASSERT_EQ(readBack.size(), 3u);  // the model number, then registers 250 and 45
    EXPECT_EQ(params(readBack[0]), hexBytes("00 02"));
    ASSERT_EQ(rateWrite.size(), 1u);
    EXPECT_EQ(raw[0].startUs - answerArrivedUs(readBack[2].startUs), 250000 + 100000);
    EXPECT_EQ(raw[1].startUs - raw[0].startUs, 100000);
    EXPECT_EQ(raw[2].startUs - raw[1].startUs, 100000);
    EXPECT_EQ(raw[3].startUs - raw[2].startUs, 300000 + 1000 + 100000);
    EXPECT_EQ(raw[4].startUs - raw[3].startUs, 100000);
    EXPECT_EQ(restart[0].startUs - raw[4].startUs, 100000 + 100000);
    EXPECT_EQ(rateWrite[0].startUs - answerArrivedUs(restart[0].startUs), 100000 + 1000000);
    EXPECT_EQ(rateWrite[0].rateBps, kLoaderRate);
}

TEST_F(FirmwareDownloadTest, KeyedWritesQuietTheOthersAndOpenTheTargetsLoader) {
    startWith({simSpec(1, 1, 12), simSpec(3, 5, 64), simSpec(34, 9, 13)});
    setImage(64, 2, {0x01});
    updateAll();
    // While the target's loader runs, the others are on stand-by.
    SimDeviceMode otherMode = SimDeviceMode::Normal;
    driver.hook = [&](const std::string& call) {
        if (call == "write" && !loaderBytes().empty() && otherMode == SimDeviceMode::Normal) {
            otherMode = sim->device(0).mode();
        }
        return FT_OK;
    };
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(otherMode, SimDeviceMode::Quiet);

    for (int other : {1, 9}) {
        const auto keyed = packets(KeyedWrite, other);
        ASSERT_EQ(keyed.size(), 1u) << other;
        EXPECT_EQ(params(keyed[0]), hexBytes("2D 0A 4D 56 58 21")) << other;
    }
    const auto keyed = packets(KeyedWrite, 5);
    ASSERT_EQ(keyed.size(), 2u);
    EXPECT_EQ(keyed[0].bytes, hexBytes("FF FF 05 08 0D FA FF 4D 56 58 21 D0"));
    EXPECT_EQ(params(keyed[1]), hexBytes("2D FE 4D 56 58 21"));
}

TEST_F(FirmwareDownloadTest, EmptyImageIsSentAsTheChecksumByteAlone) {
    startWith({simSpec(1, 2, 12)});
    setImage(12, 4, {});
    updateAll();
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(loaderBytes().at(2).bytes, Bytes{0x00});
    EXPECT_EQ(registry->updates.resultFlags[0], 1);
}

TEST_F(FirmwareDownloadTest, ImageGoesOutInBlocksOfAtMost200Bytes) {
    startWith({simSpec(1, 2, 12)});
    Bytes image(450);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i);
    }
    setImage(12, 4, image);
    updateAll();
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 1);

    EXPECT_EQ(blockSizes(), (std::vector<std::size_t>{200, 200, 51}));
    Bytes sent;
    for (const SimTraffic& t : loaderBytes()) {
        if (t.bytes.size() > 1) {
            sent.insert(sent.end(), t.bytes.begin(), t.bytes.end());
        }
    }
    Bytes expected = image;
    expected.push_back(static_cast<std::uint8_t>((449 * 450 / 2) & 0xFF));
    EXPECT_EQ(sent, expected);
}

TEST_F(FirmwareDownloadTest, SuccessOnTheSecondAttempt) {
    startWith({simSpec(1, 2, 12)});
    dev(1, 2).setFaults({.rejectImages = 1});
    setImage(12, 4, {0x10, 0x20});
    updateAll();
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 1);
    EXPECT_EQ(loaderCount(0x0D), 2);
    EXPECT_EQ(loaderCount(0x4C), 2);
    EXPECT_EQ(blockSizes(), (std::vector<std::size_t>{3, 3}));
    EXPECT_EQ(loaderCount(0x41), 1);
    EXPECT_EQ(loaderCount(0x47), 1);
}

TEST_F(FirmwareDownloadTest, ThreeFailedAttemptsFailTheEntryButCloseTheLoader) {
    startWith({simSpec(1, 2, 12, 3)});
    dev(1, 2).setFaults({.rejectImages = 3});
    setImage(12, 4, {0x10});
    updateAll();
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 0);
    EXPECT_EQ(blockSizes().size(), 3u);
    EXPECT_EQ(loaderCount(0x0D), 3);
    EXPECT_EQ(loaderCount(0x41), 1);
    EXPECT_EQ(loaderCount(0x47), 1);
    EXPECT_TRUE(packets(Instruction7, 2).empty());
    EXPECT_EQ(registry->find(1, 2)->firmwareVersion(), 3);
    EXPECT_EQ(DownloadProgress(*registry), 100);
}

// A block write that fails (an error status, nothing written) or comes up short (102 bytes
// of 200) ends the attempt without reading an answer: the next attempt opens exactly 300 ms
// after that write. Only a later whole image can succeed; three broken attempts fail the entry.
// A loader that never got a byte of the image takes the closing bytes for image bytes and stays
// in its loader: it is reported so.
TEST_F(FirmwareDownloadTest, BrokenBlockWriteEndsTheAttemptWithoutReadingTheAnswer) {
    struct Row {
        const char* name;
        bool shortWrite;     // 102 bytes written, else an error status and nothing written
        int brokenAttempts;  // attempts whose first block breaks
        UpdateResult result;
        std::vector<std::size_t> blocks;
    };
    const Row rows[] = {
        {"error status every time", false, 3, UpdateFailedInLoader, {}},
        {"short write once", true, 1, UpdateSucceeded, {102, 200, 200, 51}},
        {"short write every time", true, 3, UpdateFailed, {102, 102, 102}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        driver.hook = nullptr;
        startWith({simSpec(1, 2, 12, 3)});
        setImage(12, 4, Bytes(450, 0x11));
        updateAll();
        int broken = 0;
        std::int64_t brokenAtUs = -1;
        driver.hook = [&](const std::string& call) {
            const std::vector<SimTraffic> sent = loaderBytes();
            if (call != "write" || broken == row.brokenAttempts || sent.empty() ||
                sent.back().bytes != Bytes{0x4C} || loaderCount(0x4C) == broken) {
                return FT_OK;
            }
            ++broken;  // the first block of this attempt
            brokenAtUs = clock.nowUs();
            driver.shortWrite = row.shortWrite ? 102 : -1;
            return row.shortWrite ? FT_OK : FT_OTHER_ERROR;
        };
        ASSERT_EQ(DownloadAll(*registry), 100);
        EXPECT_EQ(registry->updates.resultFlags[0], row.result);
        EXPECT_EQ(blockSizes(), row.blocks);
        EXPECT_EQ(loaderCount(0x0D), row.brokenAttempts + (row.result == UpdateSucceeded));
        EXPECT_EQ(loaderCount(0x41), 1);
        EXPECT_EQ(packets(Instruction7, 2).size(), row.result == UpdateSucceeded ? 1u : 0u);
        EXPECT_EQ(registry->find(1, 2)->firmwareVersion(), row.result == UpdateSucceeded ? 4 : 3);
        // After the last broken block: no read, 300 ms, then the next 0D (or 100 ms more and
        // the closing 41 after the last attempt).
        std::int64_t nextUs = -1;
        for (const SimTraffic& t : loaderBytes()) {
            if (nextUs < 0 && t.startUs > brokenAtUs && t.bytes.size() == 1) {
                nextUs = t.startUs;
            }
        }
        EXPECT_EQ(nextUs - brokenAtUs, row.brokenAttempts == 3 ? 400000 : 300000);
        registry.reset();
    }
}

// What the loader answers decides: only an answer whose first seven bytes the host reads are
// "Success" takes the image; anything else is retried, three times in all.
TEST_F(FirmwareDownloadTest, OnlyAnAnswerBeginningWithSuccessTakesTheImage) {
    struct Row {
        const char* name;
        SimFaults faults;
        bool accepted;
    };
    const Row rows[] = {
        {"exact", {}, true},
        {"more after it", {.loaderReply = "Success\r\n"}, true},
        {"prefix only", {.loaderReply = "Succ"}, false},
        {"near miss", {.loaderReply = "Succeeded"}, false},
        {"lower case", {.loaderReply = "success"}, false},
        {"other bytes first", {.loaderReply = ">Success"}, false},
        // The answer in two parts: both have arrived by the read, or the rest comes after it.
        {"split before the read", {.loaderReplySplit = 4, .loaderSplitGapUs = 200000}, true},
        {"split across the read", {.loaderReplySplit = 4, .loaderSplitGapUs = 300000}, false},
        // The purge before the image drops what the loader sent while the attempt opened.
        {"echoed opening bytes", {.loaderEcho = true}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        startWith({simSpec(1, 2, 12, 3)});
        dev(1, 2).setFaults(row.faults);
        setImage(12, 4, {0x10, 0x20});
        updateAll();
        ASSERT_EQ(DownloadAll(*registry), 100);
        EXPECT_EQ(registry->updates.resultFlags[0], row.accepted ? UpdateSucceeded : UpdateFailed);
        EXPECT_EQ(loaderCount(0x0D), row.accepted ? 1 : 3);
        EXPECT_EQ(packets(Instruction7, 2).size(), row.accepted ? 1u : 0u);
        EXPECT_EQ(registry->find(1, 2)->firmwareVersion(), row.accepted ? 4 : 3);
        EXPECT_EQ(dev(1, 2).mode(), SimDeviceMode::Normal);
        registry.reset();
    }
}

// The adapter lost at each step of the first device's update: the run ends within a second
// of the failing call with 101; the first device keeps its image only when its loader had
// taken it (left at code 1, the fast-restart model's, as its rate was not written back), and
// the device not yet tried is not reached.
TEST_F(FirmwareDownloadTest, LostAdapterEndsTheRunWithinASecond) {
    const UpdateResult failed = UpdateFailed;
    const UpdateResult notReached = UpdateNotReached;
    const UpdateResult succeeded = UpdateSucceeded;
    const UpdateResult inLoader = UpdateFailedInLoader;
    struct Row {
        const char* step;
        const char* call;
        std::function<bool()> when;
        UpdateResult first;
        int leftAt;
    };
    const std::vector<Row> rows = {
        {"readiness ping", "write", [&] { return hostWrites().empty(); }, notReached, -1},
        {"model read", "write", [&] { return packets(Ping).size() == 3 && packets(Read).empty(); },
         failed, -1},
        {"quiet write", "write",
         [&] { return packets(Read).size() == 1 && packets(KeyedWrite).empty(); }, failed, -1},
        {"loader start", "read", [&] { return packets(KeyedWrite, 1).size() == 2; }, inLoader, -1},
        {"loader rate", "setBaudRate", [&] { return packets(KeyedWrite, 1).size() == 2; }, inLoader,
         -1},
        {"image block", "write", [&] { return loaderBytes().size() == 2; }, inLoader, -1},
        {"loader reply", "read", [&] { return blockSizes().size() == 1; }, inLoader, -1},
        {"loader close", "write", [&] { return blockSizes().size() == 1; }, succeeded, 1},
        {"rate write", "write", [&] { return packets(Instruction7, 1).size() == 1; }, succeeded, 1},
        {"next readiness", "write", [&] { return packets(Write, 1).size() == 1; }, succeeded, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        driver.hook = nullptr;
        startWith({simSpec(3, 1, 12, 3), simSpec(3, 2, 12, 3), simSpec(1, 9, 64)});
        setImage(12, 4, {0x10});
        updateAll();
        ASSERT_EQ(registry->updates.count, 2);
        std::int64_t lostAtUs = -1;
        driver.hook = [&](const std::string& call) {
            if (lostAtUs < 0 && call == row.call && row.when()) {
                lostAtUs = clock.nowUs();
            }
            return lostAtUs < 0 ? FT_OK : FT_IO_ERROR;
        };

        EXPECT_EQ(DownloadAll(*registry), 101);
        ASSERT_GE(lostAtUs, 0);
        EXPECT_LT(clock.nowUs() - lostAtUs, 1000000);
        const UpdateList& updates = registry->updates;
        EXPECT_EQ(updates.resultFlags[0], row.first);
        EXPECT_EQ(updates.resultFlags[1], notReached);
        EXPECT_EQ(updates.leftAtCodes[0], row.leftAt);
        EXPECT_EQ(updates.leftAtCodes[1], -1);
        EXPECT_EQ(DownloadProgress(*registry), 100);
        EXPECT_EQ(registry->find(3, 1)->firmwareVersion(), row.first == succeeded ? 4 : 3);
        registry.reset();
    }
}

// The image is in but the rate write after the restart goes unanswered by a device that
// answers writes: it is reported at its loader's code and the run goes on.
TEST_F(FirmwareDownloadTest, UnansweredRateWriteLeavesTheDeviceAtItsRestartCode) {
    startWith({simSpec(3, 1, 64, 3)});
    setImage(64, 4, {0x10});
    updateAll();
    driver.hook = [&](const std::string&) {
        if (packets(Instruction7, 1).size() == 1) {
            dev(kLoaderCode, 1).setFaults({.dropReply = true, .ignoreWrites = true});
        }
        return FT_OK;
    };
    EXPECT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], UpdateSucceeded);
    EXPECT_EQ(registry->updates.leftAtCodes[0], 34);
    EXPECT_EQ(packets(Write, 1).size(), 1u);
    EXPECT_NE(sim->find(34, 1), nullptr);
}

// A refused loader start sends no image, only the closing bytes, in case the loader started
// after all.
TEST_F(FirmwareDownloadTest, RefusedLoaderKeyedWriteSendsOnlyTheClosingBytes) {
    startWith({simSpec(1, 2, 12, 3)});
    dev(1, 2).setFaults({.ignoreWrites = true});
    setImage(12, 4, {0x10});
    updateAll();
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 0);
    const std::vector<SimTraffic> raw = loaderBytes();
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0].bytes, Bytes{0x41});
    EXPECT_EQ(raw[1].bytes, Bytes{0x47});
    EXPECT_TRUE(packets(Instruction7, 2).empty());
    EXPECT_EQ(registry->find(1, 2)->firmwareVersion(), 3);
    EXPECT_EQ(DownloadProgress(*registry), 100);
}

TEST_F(FirmwareDownloadTest, SilentDeviceGivesUpTheRunAfter101Passes) {
    startWith({simSpec(1, 2, 12), simSpec(1, 3, 12), simSpec(34, 8, 13)});
    setImage(12, 4, {0x10});
    updateAll();
    ASSERT_EQ(registry->updates.count, 2);
    dev(34, 8).setFaults({.dropReply = true});  // a device of another model stops answering
    const std::int64_t start = clock.nowUs();

    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(packets(Ping, 8).size(), 101u);
    EXPECT_EQ(packets(Ping, 2).size(), 101u);
    EXPECT_TRUE(loaderBytes().empty());
    EXPECT_TRUE(packets(KeyedWrite, 2).empty());
    EXPECT_EQ(registry->updates.resultFlags[0], 0);
    EXPECT_EQ(registry->updates.resultFlags[1], 0);
    EXPECT_EQ(DownloadProgress(*registry), 100);
    EXPECT_EQ(dev(1, 2).reg(2), 30);
    // 100 pauses of 100 ms between 101 passes; each pass pings three devices (one silent
    // ping times out after about 20 ms) and changes the rate twice (100 ms each).
    const std::int64_t elapsedMs = (clock.nowUs() - start) / 1000;
    EXPECT_GE(elapsedMs, 100 * 100 + 101 * (200 + 20));
    EXPECT_LT(elapsedMs, 100 * 100 + 101 * (200 + 30));
}

TEST_F(FirmwareDownloadTest, ProgressTakes33And66And100ForThreeDevices) {
    startWith({simSpec(1, 1, 12), simSpec(1, 2, 12), simSpec(1, 3, 12)});
    setImage(12, 4, {0x10});
    updateAll();
    std::vector<int> seen;
    driver.hook = [&](const std::string& call) {
        const int progress = DownloadProgress(*registry);
        if (call == "write" && (seen.empty() || seen.back() != progress)) {
            seen.push_back(progress);
        }
        return FT_OK;
    };
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(seen, (std::vector<int>{0, 33, 66}));
    EXPECT_EQ(DownloadProgress(*registry), 100);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(registry->updates.resultFlags[k], 1);
    }
}

TEST(DownloadPercentTest, RoundsToSinglePrecisionThenTruncates) {
    EXPECT_EQ(DownloadPercent(1, 3), 33);
    EXPECT_EQ(DownloadPercent(2, 3), 66);
    EXPECT_EQ(DownloadPercent(3, 3), 100);
    EXPECT_EQ(DownloadPercent(29, 100), 29);  // 28.999999999999996 in double precision
    EXPECT_EQ(DownloadPercent(57, 100), 57);
    EXPECT_EQ(DownloadPercent(1, 1), 100);
}

TEST_F(FirmwareDownloadTest, EmptyListSendsNothing) {
    startWith({simSpec(1, 1, 12)});
    setImage(64, 4, {0x10});
    updateAll();
    ASSERT_EQ(registry->updates.count, 0);
    registry->updates.progress = 42;
    EXPECT_EQ(DownloadAll(*registry), 100);
    EXPECT_TRUE(hostWrites().empty());
    EXPECT_EQ(DownloadProgress(*registry), 100);
}

TEST_F(FirmwareDownloadTest, BuildUpdateListOldOnlyLeavesOutTheSameVersion) {
    startWith({simSpec(1, 1, 12, 3), simSpec(1, 2, 12, 4), simSpec(1, 3, 64, 1),
               simSpec(34, 4, 12, 5), simSpec(3, 5, 12, 1)});
    setImage(12, 4, {});
    BuildUpdateList(*registry, 1);
    ASSERT_EQ(registry->updates.count, 2);
    EXPECT_EQ(registry->updates.baudCodes[0], 1);
    EXPECT_EQ(registry->updates.ids[0], 1);
    EXPECT_EQ(registry->updates.baudCodes[1], 3);
    EXPECT_EQ(registry->updates.ids[1], 5);

    BuildUpdateList(*registry, 0);
    ASSERT_EQ(registry->updates.count, 4);
    EXPECT_EQ(registry->updates.ids[0], 1);
    EXPECT_EQ(registry->updates.ids[1], 2);
    EXPECT_EQ(registry->updates.ids[2], 4);
    EXPECT_EQ(registry->updates.ids[3], 5);
}

// Devices of unknown model never go into the list: a ping-only device (recorded as model
// 255) or a model the catalogue does not know, whatever model the image names.
TEST_F(FirmwareDownloadTest, BuildUpdateListLeavesOutUnknownModels) {
    startWith({simSpec(1, 1, 12, 3, 0), simSpec(1, 2, 255, 3), simSpec(1, 3, 99, 3),
               simSpec(1, 4, 12, 3)});
    ASSERT_EQ(registry->find(1, 1)->modelNumber(), 255);
    for (const auto& [model, expected] : {std::pair{255, 0}, {99, 0}, {12, 1}}) {
        SCOPED_TRACE(model);
        setImage(model, 4, {});
        BuildUpdateList(*registry, 1);
        ASSERT_EQ(registry->updates.count, expected);
    }
    EXPECT_EQ(registry->updates.ids[0], 4);
}

TEST_F(FirmwareDownloadTest, BuildUpdateListStopsAt256Devices) {
    std::vector<SimDeviceSpec> devices;
    for (int i = 0; i < 300; ++i) {
        devices.push_back(simSpec(i < 200 ? 1 : 3, i % 200, 13, 1));
    }
    startWith(devices);
    setImage(13, 2, {});
    BuildUpdateList(*registry, 1);
    ASSERT_EQ(registry->updates.count, 256);
    EXPECT_EQ(registry->updates.leftOut, 44) << "the devices left out are counted";
    EXPECT_EQ(registry->updates.baudCodes[199], 1);
    EXPECT_EQ(registry->updates.ids[199], 199);
    EXPECT_EQ(registry->updates.baudCodes[255], 3);
    EXPECT_EQ(registry->updates.ids[255], 55);
}

TEST_F(FirmwareDownloadTest, RestartRateDependsOnTheModelAndTheRecordedCodeIsWrittenBack) {
    startWith({simSpec(3, 5, 12), simSpec(4, 6, 64)});
    setImage(64, 4, makeSimFirmwareImage(64, 40, 50));
    BuildUpdateList(*registry, 0);
    ASSERT_EQ(DownloadAll(*registry), 100);
    setImage(12, 4, makeSimFirmwareImage(12, 25, 50));
    BuildUpdateList(*registry, 0);
    ASSERT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 1);

    // Model 64: instruction 7 at its own rate, then register 4 = 4 written at 57142 bps.
    const auto restart64 = packets(Instruction7, 6);
    ASSERT_EQ(restart64.size(), 1u);
    EXPECT_EQ(restart64[0].rateBps, 400000u);
    const auto baud64 = packets(Write, 6);
    ASSERT_EQ(baud64.size(), 1u);
    EXPECT_EQ(baud64[0].bytes, hexBytes("FF FF 06 04 03 04 04 EA"));
    EXPECT_EQ(baud64[0].rateBps, kLoaderRate);
    EXPECT_EQ(baud64[0].startUs - answerArrivedUs(restart64[0].startUs), 100000 + 1000000);
    // Model 12: register 4 = 3 written at 1000000 bps.
    const auto restart12 = packets(Instruction7, 5);
    ASSERT_EQ(restart12.size(), 1u);
    EXPECT_EQ(restart12[0].rateBps, 500000u);
    const auto baud12 = packets(Write, 5);
    ASSERT_EQ(baud12.size(), 1u);
    EXPECT_EQ(baud12[0].bytes, hexBytes("FF FF 05 04 03 04 03 EC"));
    EXPECT_EQ(baud12[0].rateBps, 1000000u);
    EXPECT_EQ(baud12[0].startUs - answerArrivedUs(restart12[0].startUs), 100000 + 1000000);
    // Both are back on their own rates, with the new firmware.
    EXPECT_EQ(dev(3, 5).reg(2), 25);
    EXPECT_EQ(dev(4, 6).reg(2), 40);
}

TEST_F(FirmwareDownloadTest, SecondRunSendsExactlyWhatTheFirstSent) {
    startWith({simSpec(1, 2, 12)});
    setImage(12, 4, {0x01, 0x02, 0x03});
    updateAll();
    ASSERT_EQ(DownloadAll(*registry), 100);
    const std::vector<SimTraffic> first = loaderBytes();
    sim->clearTraffic();
    ASSERT_EQ(DownloadAll(*registry), 100);
    const std::vector<SimTraffic> second = loaderBytes();
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].bytes, second[i].bytes);
    }
    EXPECT_EQ(second.at(2).bytes, hexBytes("01 02 03 06"));
    EXPECT_EQ(registry->updates.resultFlags[0], 1);
    EXPECT_EQ(registry->firmware.imageLength, 3u);
}

// The whole update from a firmware file on the built-in bus: load, search, list, download,
// and the new version in the device and in the registry.
TEST_F(FirmwareDownloadTest, UpdateFromAFileOnTheBuiltInBus) {
    startDefault();
    ASSERT_EQ(SearchEngine(*registry).search(QuickSearch), 100);
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("mvx-update-" + std::to_string(::getpid()) + ".mvx");
    std::string error;
    ASSERT_TRUE(writeFirmwareFile(path.string(), 28, 31, makeSimFirmwareImage(28, 31, 1000), error))
        << error;
    LoadFirmware(path.string(), registry->firmware, registry->updates);
    std::filesystem::remove(path);
    ASSERT_EQ(registry->firmware.valid, 1);
    BuildUpdateList(*registry, 1);
    ASSERT_EQ(registry->updates.count, 1);
    EXPECT_EQ(registry->updates.ids[0], 1);

    EXPECT_EQ(DownloadAll(*registry), 100);
    EXPECT_EQ(registry->updates.resultFlags[0], 1);
    EXPECT_EQ(registry->find(1, 1)->firmwareVersion(), 31);
    EXPECT_EQ(dev(1, 1).reg(2), 31);  // back on its own rate
    EXPECT_EQ(dev(1, 1).mode(), SimDeviceMode::Normal);

    // Every device, the quieted ones too, answers again; the identity read shows the update.
    EXPECT_EQ(registry->refresh(), 100);
    EXPECT_EQ(registry->deviceCount(), 8);
    EXPECT_EQ(registry->find(1, 1)->readIdentity(), 100);
    EXPECT_EQ(registry->find(1, 1)->firmwareVersion(), 31);
}

}  // namespace
}  // namespace mvx::test
