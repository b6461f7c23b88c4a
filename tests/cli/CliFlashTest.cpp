// flash: search, update list, download, per-device results.
#include "CliFixture.h"

#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <numeric>

#include "sim/FirmwareFileWriter.h"

namespace mvx::test {
namespace {

using CliFlashTest = CliTest;

// The loader's blocks as they went on the wire, joined.
Bytes loaderImage(const SimulatedBus& bus) {
    Bytes sent;
    for (const SimTraffic& t : bus.traffic()) {
        if (t.direction == SimTraffic::HostToBus && t.rateBps == 57142 && t.bytes.size() > 1 &&
            t.bytes[0] != 0xFF) {
            sent.insert(sent.end(), t.bytes.begin(), t.bytes.end());
        }
    }
    return sent;
}

BusDescription twoOldMq35() {
    BusDescription description;
    description.devices = {simSpec(1, 1, 28), simSpec(1, 2, 28)};
    return description;
}

class CliFlashTwoDeviceTest : public CliTest {
protected:
    CliFlashTwoDeviceTest() : CliTest(twoOldMq35()) {}
};

// The built-in bus with a sensor at ID 1, code 34.
BusDescription idOneAlsoAt34() {
    BusDescription description = SimulatedBus::defaultBus();
    description.devices.push_back(simSpec(34, 1, 13, 20));
    return description;
}

class CliFlashIdInUseTest : public CliTest {
protected:
    CliFlashIdInUseTest() : CliTest(idOneAlsoAt34()) {}
};

TEST_F(CliFlashTest, UpdatesTheOlderDevicesOfTheFilesModelOnce) {
    // The sample file is MQ-35 (model 28) version 31; the default bus has one at ID 1 (v30).
    ASSERT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 0) << out() << err();
    EXPECT_EQ(out(),
              "Firmware for model MQ-35 (28), version 31; 1 device to update:\n"
              "  ID 1 at code 1 (version 30)\n"
              "ID 1 at code 1: Success\n"
              "Total Success=1, Fail=0\n");
    EXPECT_EQ(device(1, 1).reg(2), 31);
    EXPECT_EQ(device(1, 1).code(), 1) << "the device is back at its own rate";
    EXPECT_EQ(device(1, 2).reg(2), 24) << "other models keep their firmware";

    // Now nothing is older than the file.
    EXPECT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 1);
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(),
              "movantrix-cli: no device of model MQ-35 (28) with a version below 31 found; "
              "nothing updated\n");

    // Unless every version is taken.
    ASSERT_EQ(run({"--port", "sim", "flash", "--all-versions", sample("MQ-35_v31.mvx")}), 0)
        << err();
    EXPECT_NE(out().find("ID 1 at code 1: Success\n"), std::string::npos) << out();
}

TEST_F(CliFlashTest, FileOfAnUnknownModelUpdatesNothing) {
    // Model 255 is what the ping-only device at ID 9 is recorded as; it is never flashed.
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("mvx-unknown-" + std::to_string(::getpid()) + ".mvx");
    std::string error;
    ASSERT_TRUE(writeFirmwareFile(path.string(), 255, 1, makeSimFirmwareImage(255, 1, 100), error))
        << error;
    const int status = run({"--port", "sim", "flash", "--all-versions", path.string()});
    std::filesystem::remove(path);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(), "movantrix-cli: no device of model Unknown (255) found; nothing updated\n");
    EXPECT_EQ(device(1, 9).mode(), SimDeviceMode::Normal);
}

TEST_F(CliFlashTest, ProgressBarOnATerminal) {
    env.terminal = true;
    ASSERT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 0) << err();
    EXPECT_NE(err().find("\rUpdating ["), std::string::npos) << err();
    EXPECT_NE(err().find("] 100%\n"), std::string::npos) << err();
}

TEST_F(CliFlashTest, FailedDeviceIsReportedAndTheStatusIsNonZero) {
    // The target hears the keyed writes but its loader never answers.
    SimFaults faults;
    faults.dropReply = true;
    device(1, 1).setFaults(faults);
    EXPECT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 1);
    EXPECT_EQ(out(), "");  // a device that does not answer is not found, so nothing matched
    EXPECT_NE(err().find("no device of model MQ-35 (28)"), std::string::npos) << err();
}

// The adapter goes, or freezes (its port takes no more bytes), once the first device is in its
// loader: the run ends within the loader write's deadline with the adapter-failure message,
// the device in its loader is said to need a power cycle and the one not tried is not updated.
TEST_F(CliFlashTwoDeviceTest, LostOrFrozenAdapterEndsTheRunAndTheDeviceNotTriedIsNotUpdated) {
    for (const bool frozen : {false, true}) {
        SCOPED_TRACE(frozen ? "frozen" : "lost");
        bus.setAdapterFrozen(false);
        std::int64_t lostAtUs = -1;
        hooked.hook = [&](const std::string&) {
            SimulatedDevice* inLoader = bus.find(34, 1);  // a device in its loader is at code 34
            if (lostAtUs < 0 && inLoader && inLoader->mode() == SimDeviceMode::Loader) {
                lostAtUs = clock.nowUs();
                bus.setAdapterFrozen(frozen);
            }
            return lostAtUs < 0 || frozen ? FT_OK : FT_IO_ERROR;
        };
        EXPECT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 1);
        ASSERT_GE(lostAtUs, 0);
        // Frozen: the loader rate's settling pause, then the next loader write's deadline.
        EXPECT_LE(clock.nowUs() - lostAtUs, frozen ? 100000 + 1000000 : 999999);
        EXPECT_EQ(out(),
                  "Firmware for model MQ-35 (28), version 31; 2 devices to update:\n"
                  "  ID 1 at code 1 (version 30)\n"
                  "  ID 2 at code 1 (version 30)\n"
                  "ID 1 at code 1: Failed: may still be in its loader, power it off and on\n"
                  "ID 2 at code 1: Not updated\n"
                  "Total Success=0, Fail=1, Not updated=1\n");
        EXPECT_EQ(err(),
                  "movantrix-cli: USB2Movantrix access failed! Please check connection. (adapter "
                  "access failed (101))\n");
        clock.advanceUs(31000000);  // the loader left behind gives up
    }
}

// A sensor holds the MQ-35's ID at code 34, where the MQ-35 answers after its restart: the
// MQ-35 is left alone, and its line says why.
TEST_F(CliFlashIdInUseTest, DeviceWhoseIdIsInUseAtItsRestartCodeIsSkipped) {
    EXPECT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 1);
    EXPECT_NE(out().find("ID 1 at code 1: Skipped: ID in use at Baud:34\n"
                         "Total Success=0, Fail=0, Not updated=1\n"),
              std::string::npos)
        << out();
    EXPECT_EQ(device(1, 1).reg(2), 30);
    EXPECT_EQ(device(34, 1).model(), 13);
}

TEST_F(CliFlashTest, DeviceLeftAtItsLoadersCodeIsReported) {
    // The adapter goes right after the restart (the device at code 34 on the new version): the
    // rate write back to code 1 never goes out.
    hooked.hook = [&](const std::string&) {
        SimulatedDevice* restarted = bus.find(34, 1);
        return restarted && restarted->reg(2) == 31 ? FT_IO_ERROR : FT_OK;
    };
    EXPECT_EQ(run({"--port", "sim", "flash", sample("MQ-35_v31.mvx")}), 1);
    EXPECT_NE(out().find("ID 1 at code 1: Success (left at Baud:34)\nTotal Success=1, Fail=0\n"),
              std::string::npos)
        << out();
    EXPECT_NE(err().find("movantrix-cli: warning: ID 1 at code 1 was updated but now answers at "
                         "code 34: its baud rate could not be restored\n"),
              std::string::npos)
        << err();
    EXPECT_EQ(device(34, 1).reg(2), 31);
}

// The file is checked once and that image is sent, whatever becomes of the file afterwards.
TEST_F(CliFlashTest, ImageCheckedBeforeTheBusIsTheOneSent) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("mvx-swap-" + std::to_string(::getpid()) + ".mvx");
    const Bytes first = makeSimFirmwareImage(28, 31, 300);
    Bytes expected = first;
    expected.push_back(static_cast<std::uint8_t>(std::accumulate(first.begin(), first.end(), 0)));
    const std::vector<std::pair<const char*, std::function<void()>>> swaps = {
        {"replaced",
         [&] {
             std::string error;
             ASSERT_TRUE(writeFirmwareFile(path.string(), 28, 32, makeSimFirmwareImage(28, 32, 400),
                                           error));
         }},
        {"removed", [&] { std::filesystem::remove(path); }},
        {"fifo",
         [&] {
             std::filesystem::remove(path);
             ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
         }},
    };
    for (const auto& [what, swap] : swaps) {
        SCOPED_TRACE(what);
        std::string error;
        ASSERT_TRUE(writeFirmwareFile(path.string(), 28, 31, first, error)) << error;
        bus.clearTraffic();
        bool swapped = false;
        hooked.hook = [&](const std::string&) {
            if (!swapped) {  // the first call on the open adapter: the file was checked before
                swapped = true;
                swap();
            }
            return FT_OK;
        };
        EXPECT_EQ(run({"--port", "sim", "flash", "--all-versions", path.string()}), 0) << err();
        EXPECT_TRUE(swapped);
        EXPECT_EQ(loaderImage(bus), expected);
        EXPECT_EQ(device(1, 1).reg(2), 31);
        std::filesystem::remove(path);
    }
}

}  // namespace
}  // namespace mvx::test
