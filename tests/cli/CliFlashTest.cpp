// flash: search, update list, download, per-device results.
#include "CliFixture.h"

#include <unistd.h>

#include <filesystem>

#include "sim/FirmwareFileWriter.h"

namespace mvx::test {
namespace {

using CliFlashTest = CliTest;

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

}  // namespace
}  // namespace mvx::test
