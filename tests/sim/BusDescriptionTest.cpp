// Bus descriptions (built-in and JSON files) and the firmware file writer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "drivers/Clock.h"
#include "sim/FirmwareFileWriter.h"
#include "sim/SimulatedBus.h"

namespace mvx {
namespace {

TEST(BusDescriptionTest, DefaultBusShowsEveryKindOfDevice) {
    const BusDescription d = SimulatedBus::defaultBus();
    int atCode1 = 0;
    bool model106 = false, sensorAt34 = false, level1At34 = false, level0 = false, slow = false;
    for (const auto& s : d.devices) {
        atCode1 += s.code == 1 ? 1 : 0;
        model106 |= s.model == 106;
        sensorAt34 |= s.model == 13 && s.code == 34;
        level1At34 |= s.model != 13 && s.code == 34 && s.returnLevel == 1;
        level0 |= s.returnLevel == 0;
        slow |= s.code == 207;
    }
    EXPECT_GE(atCode1, 3);
    EXPECT_TRUE(model106 && sensorAt34 && level1At34 && level0 && slow);

    VirtualClock clock;
    SimulatedBus bus(d, clock);
    SimulatedDevice* pw = nullptr;
    for (std::size_t i = 0; i < bus.deviceCount(); ++i) {
        if (bus.device(i).model() == 106) {
            pw = &bus.device(i);
        }
    }
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(pw->reg16(8), 4095);
    EXPECT_EQ(pw->reg(17), 36);
    EXPECT_EQ(pw->reg(18), 36);
    EXPECT_EQ(pw->reg(13), 240);
}

TEST(BusDescriptionTest, ParsesAGoodDescription) {
    BusDescription d;
    std::string error;
    ASSERT_TRUE(SimulatedBus::parseDescription(R"({
        "adapter": "Bench bus",
        "latencyMs": 16,
        "broadcastSpacingUs": 300,
        "devices": [
            {"id": 5, "baud": 3, "model": 12, "version": 9, "returnLevel": 1,
             "returnDelay": 0, "position": 100, "registers": {"17": 4, "32": 300}},
            {"id": 6, "baud": 3, "model": 999}
        ]})",
                                               d, error))
        << error;
    EXPECT_EQ(d.adapterName, "Bench bus");
    EXPECT_EQ(d.receiveLatencyUs, 16000);
    EXPECT_EQ(d.broadcastSpacingUs, 300);
    ASSERT_EQ(d.devices.size(), 2u);
    EXPECT_EQ(d.devices[0].id, 5);
    EXPECT_EQ(d.devices[0].code, 3);
    EXPECT_EQ(d.devices[0].returnLevel, 1);
    EXPECT_EQ(d.devices[1].version, 30);
    EXPECT_EQ(d.devices[1].returnLevel, 2);

    VirtualClock clock;
    SimulatedBus bus(d, clock);
    SimulatedDevice* dev = bus.find(3, 5);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->reg(17), 4);
    EXPECT_EQ(dev->reg16(32), 300);
    EXPECT_EQ(dev->reg16(36), 100);
    EXPECT_EQ(dev->reg(2), 9);
    EXPECT_EQ(dev->reg(5), 0);
    EXPECT_EQ(bus.adapterName(), "Bench bus");
}

// Devices connected later may share an address (new actuators all come at one); those there
// from the start may not.
TEST(BusDescriptionTest, ScheduledDevicesMayShareAnAddress) {
    BusDescription d;
    std::string error;
    ASSERT_TRUE(SimulatedBus::parseDescription(R"({"devices": [
            {"id": 1, "baud": 34, "model": 28},
            {"id": 1, "baud": 34, "model": 28, "appearAtS": 3},
            {"id": 1, "baud": 34, "model": 28, "appearAtS": 4.5, "disappearAtS": 6.25}]})",
                                               d, error))
        << error;
    ASSERT_EQ(d.devices.size(), 3u);
    EXPECT_EQ(d.devices[0].appearAtUs, 0);
    EXPECT_EQ(d.devices[0].disappearAtUs, -1);
    EXPECT_EQ(d.devices[1].appearAtUs, 3000000);
    EXPECT_EQ(d.devices[2].appearAtUs, 4500000);
    EXPECT_EQ(d.devices[2].disappearAtUs, 6250000);
}

TEST(BusDescriptionTest, TwelveNewActuatorsSampleLoads) {
    BusDescription d;
    std::string error;
    ASSERT_TRUE(SimulatedBus::loadDescription(
        MVX_SOURCE_DIR "/samples/sim-bus-twelve-new-actuators.json", d, error))
        << error;
    ASSERT_EQ(d.devices.size(), 12u);
    for (std::size_t k = 0; k < 12; ++k) {
        EXPECT_EQ(d.devices[k].code, 34);
        EXPECT_EQ(d.devices[k].id, 1);
        EXPECT_EQ(d.devices[k].appearAtUs, 8000000 + 12000000 * static_cast<std::int64_t>(k));
        EXPECT_EQ(d.devices[k].disappearAtUs, -1);
    }
}

TEST(BusDescriptionTest, SampleFileLoads) {
    BusDescription d;
    std::string error;
    ASSERT_TRUE(SimulatedBus::loadDescription(MVX_SOURCE_DIR "/samples/sim-bus.json", d, error))
        << error;
    EXPECT_EQ(d.devices.size(), SimulatedBus::defaultBus().devices.size());
}

TEST(BusDescriptionTest, BadDescriptionsSayWhatIsWrong) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"{\"devices\": [", "not valid JSON"},
        {"{\"devices\": [{\"id\": 1e400, \"baud\": 1, \"model\": 12}]}",
         "devices[0].id: number 1e400 is out of range"},
        {"{\"devices\": [{\"id\": 18446744073709551615, \"baud\": 1, \"model\": 12}]}",
         "devices[0]: \"id\" is 18446744073709551615, outside 0-253"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"registers\": {\"17\": "
         "18446744073709551615}}]}",
         "devices[0]: register 17 needs an integer 0-65535"},
        {"{\"devices\": [{\"id\": 1, \"id\": 2, \"baud\": 1, \"model\": 12}]}",
         "devices[0].id: duplicate key"},
        {"{\"devices\": [], \"adapter\": [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[["
         "[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]}",
         "adapter[0][0][0][0][0]...: nested deeper than 64 levels"},
        {"[]", "top level must be an object"},
        {"{}", "\"devices\" must be an array"},
        {"{\"devices\": [], \"speed\": 1}", "unknown key \"speed\""},
        {"{\"devices\": [], \"latencyMs\": 256}", "\"latencyMs\" must be an integer from 0 to 255"},
        {"{\"devices\": [], \"broadcastSpacingUs\": 1001}",
         "\"broadcastSpacingUs\" must be an integer from 0 to 1000"},
        {"{\"devices\": [], \"broadcastSpacingUs\": -1}",
         "\"broadcastSpacingUs\" must be an integer from 0 to 1000"},
        {"{\"devices\": [], \"broadcastSpacingUs\": 0.5}",
         "\"broadcastSpacingUs\" must be an integer from 0 to 1000"},
        {"{\"devices\": [{\"id\": 300, \"baud\": 1, \"model\": 12}]}",
         "devices[0]: \"id\" is 300, outside 0-253"},
        {"{\"devices\": [{\"baud\": 1, \"model\": 12}]}", "devices[0]: \"id\" is missing"},
        {"{\"devices\": [{\"id\": 1, \"baud\": \"1\", \"model\": 12}]}",
         "\"baud\" must be an integer"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"colour\": 1}]}",
         "devices[0]: unknown key \"colour\""},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"registers\": {\"60\": 1}}]}",
         "register address \"60\""},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12}, "
         "{\"id\": 1, \"baud\": 1, \"model\": 28}]}",
         "devices[1]: another device already has baud 1 and id 1"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"registers\": {\"3\": 254}}]}",
         "devices[0]: register 3 (\"id\") is 254, outside 0-253"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"registers\": {\"16\": 3}}]}",
         "register 16 (\"returnLevel\") is 3, outside 0-2"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12}, "
         "{\"id\": 2, \"baud\": 3, \"model\": 28, \"registers\": {\"3\": 1, \"4\": 1}}]}",
         "devices[1]: another device already has baud 1 and id 1"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"appearAtS\": -1}]}",
         "devices[0]: \"appearAtS\" must be a number of seconds from 0 to 86400"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"appearAtS\": \"3\"}]}",
         "\"appearAtS\" must be a number of seconds"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"disappearAtS\": 1e9}]}",
         "\"disappearAtS\" must be a number of seconds"},
        {"{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 12, \"appearAtS\": 3, "
         "\"disappearAtS\": 3}]}",
         "devices[0]: \"disappearAtS\" must come after \"appearAtS\""},
    };
    for (const auto& c : cases) {
        BusDescription d = SimulatedBus::defaultBus();
        std::string error;
        EXPECT_FALSE(SimulatedBus::parseDescription(c.text, d, error)) << c.text;
        EXPECT_NE(error.find(c.message), std::string::npos) << "error was: " << error;
        EXPECT_EQ(d.devices.size(), SimulatedBus::defaultBus().devices.size())
            << "left untouched on failure";
    }
    // Only regular files of at most 16 MB are read: /dev/zero would never end, a FIFO would
    // block (the test would hang).
    const std::string fifo = ::testing::TempDir() + "bus_description_fifo";
    const std::string huge = ::testing::TempDir() + "bus_description_huge.json";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(huge, std::ios::binary).close();
    ASSERT_EQ(::truncate(huge.c_str(), (16 << 20) + 1), 0);
    const struct {
        std::string path;
        const char* message;
    } files[] = {
        {"/nonexistent/bus.json", "cannot open"}, {"/dev/zero", "is not a regular file"},
        {"/tmp", "is not a regular file"},        {fifo, "is not a regular file"},
        {huge, "is larger than 16 MB"},
    };
    for (const auto& f : files) {
        BusDescription d;
        std::string error;
        EXPECT_FALSE(SimulatedBus::loadDescription(f.path, d, error)) << f.path;
        EXPECT_NE(error.find(f.message), std::string::npos) << "error was: " << error;
    }
    std::remove(fifo.c_str());
    std::remove(huge.c_str());
}

TEST(FirmwareFileWriterTest, FileLayoutAndScrambling) {
    const std::vector<std::uint8_t> file = encodeFirmwareFile(12, 0xFF, {0x41, 0x42});
    const std::vector<std::uint8_t> expected = {0x11, 0x33, 0x55, 0x77, 0x99, 0x01,
                                                0x0C, 0x00, 0xFF, 0x48, 0x48};
    EXPECT_EQ(file, expected);
    // Byte 256 of the image sits at offset 265, scrambled with 0x09 again.
    std::vector<std::uint8_t> image(300, 0);
    EXPECT_EQ(encodeFirmwareFile(1, 1, image)[265], 0x09);
}

TEST(FirmwareFileWriterTest, ImagesCarryModelAndVersion) {
    const auto image = makeSimFirmwareImage(28, 31, 100);
    EXPECT_EQ(image.size(), 100u);
    EXPECT_EQ(simImageVersion(image, 28), 31);
    EXPECT_EQ(simImageVersion(image, 12), -1);
    EXPECT_EQ(simImageVersion({0x41, 0x42}, 28), -1);
    EXPECT_EQ(makeSimFirmwareImage(28, 31, 100), image) << "deterministic";
}

TEST(FirmwareFileWriterTest, SampleFileMatchesTheGenerator) {
    std::ifstream in(MVX_SOURCE_DIR "/samples/MQ-35_v31.mvx", std::ios::binary);
    ASSERT_TRUE(in);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, encodeFirmwareFile(28, 31, makeSimFirmwareImage(28, 31, 4096)));
}

TEST(FirmwareFileWriterTest, WriteFailsClearly) {
    std::string error;
    EXPECT_FALSE(writeFirmwareFile("/nonexistent/dir/x.mvx", 28, 1, {1, 2}, error));
    EXPECT_EQ(error, "/nonexistent/dir/x.mvx: No such file or directory");
    EXPECT_FALSE(writeFirmwareFile("/tmp", 28, 1, {1, 2}, error));
    EXPECT_EQ(error, "/tmp: not a regular file");
    EXPECT_FALSE(
        writeFirmwareFile("/tmp/never.mvx", 28, 1, std::vector<std::uint8_t>(65527), error));
    EXPECT_NE(error.find("too large"), std::string::npos);
}

}  // namespace
}  // namespace mvx
