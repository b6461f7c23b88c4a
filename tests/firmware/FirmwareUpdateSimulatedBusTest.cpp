// A whole firmware update against the simulated bus: load the file, search, build the list,
// download, and see the new version in the devices.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "device/DeviceRegistry.h"
#include "firmware/FirmwareDownload.h"
#include "firmware/FirmwareImage.h"
#include "search/SearchEngine.h"
#include "sim/FirmwareFileWriter.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx {
namespace {

class FirmwareUpdateSimulatedBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("mvx-update-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        ASSERT_TRUE(registry_.bus().open(0));
        ASSERT_EQ(SearchEngine(registry_).search(QuickSearch), 100);
        ASSERT_EQ(registry_.deviceCount(), 8);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void load(std::uint16_t model, std::uint8_t version, std::size_t size) {
        const std::string path = (dir_ / "image.mvx").string();
        std::string error;
        ASSERT_TRUE(writeFirmwareFile(path, model, version,
                                      makeSimFirmwareImage(model, version, size), error))
            << error;
        LoadFirmware(path, registry_.firmware, registry_.updates);
        ASSERT_EQ(registry_.firmware.valid, 1);
    }

    std::filesystem::path dir_;
    VirtualClock clock_;
    SimulatedBus bus_{SimulatedBus::defaultBus(), clock_};
    SimDriver driver_{bus_};
    DeviceRegistry registry_{driver_, clock_};
};

TEST_F(FirmwareUpdateSimulatedBusTest, UpdatesTheVersionInTheDevice) {
    load(28, 31, 1000);
    BuildUpdateList(registry_, 1);
    ASSERT_EQ(registry_.updates.count, 1);
    EXPECT_EQ(registry_.updates.ids[0], 1);

    EXPECT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    EXPECT_EQ(DownloadProgress(registry_), 100);
    EXPECT_EQ(registry_.find(1, 1)->firmwareVersion(), 31);
    SimulatedDevice* device = bus_.find(1, 1);
    ASSERT_NE(device, nullptr);  // back on its own rate
    EXPECT_EQ(device->reg(2), 31);
    EXPECT_EQ(device->mode(), SimDeviceMode::Normal);

    // Every device, the quieted ones too, answers again; the identity read shows the update.
    EXPECT_EQ(registry_.refresh(), 100);
    EXPECT_EQ(registry_.deviceCount(), 8);
    EXPECT_EQ(registry_.find(1, 1)->readIdentity(), 100);
    EXPECT_EQ(registry_.find(1, 1)->firmwareVersion(), 31);
}

TEST_F(FirmwareUpdateSimulatedBusTest, Model12ComesBackOnItsOwnRate) {
    load(12, 25, 300);
    BuildUpdateList(registry_, 0);
    ASSERT_EQ(registry_.updates.count, 1);
    EXPECT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    SimulatedDevice* device = bus_.find(1, 2);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->reg(2), 25);
}

TEST_F(FirmwareUpdateSimulatedBusTest, ASecondRunWithoutReloadingSucceedsAgain) {
    load(64, 36, 450);
    BuildUpdateList(registry_, 0);
    ASSERT_EQ(registry_.updates.count, 1);
    ASSERT_EQ(DownloadAll(registry_), 100);
    ASSERT_EQ(registry_.updates.resultFlags[0], 1);
    const std::uint32_t length = registry_.firmware.imageLength;

    ASSERT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 1);
    EXPECT_EQ(registry_.firmware.imageLength, length);
    EXPECT_EQ(bus_.find(1, 4)->reg(2), 36);
}

TEST_F(FirmwareUpdateSimulatedBusTest, ASilentDeviceStopsTheRun) {
    load(28, 31, 100);
    BuildUpdateList(registry_, 0);
    ASSERT_EQ(registry_.updates.count, 1);
    SimFaults mute;
    mute.dropReply = true;
    bus_.find(34, 100)->setFaults(mute);  // the sensor, another model
    const std::int64_t start = clock_.nowUs();
    EXPECT_EQ(DownloadAll(registry_), 100);
    EXPECT_EQ(registry_.updates.resultFlags[0], 0);
    EXPECT_EQ(DownloadProgress(registry_), 100);
    EXPECT_EQ(bus_.find(1, 1)->reg(2), 30);
    EXPECT_GE(clock_.nowUs() - start, 100 * 100000);  // 100 pauses of 100 ms
}

}  // namespace
}  // namespace mvx
