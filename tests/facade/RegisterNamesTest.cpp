// Registers by name: what write() sends for each name and value and what read() gives back,
// in units; the values it refuses with the command line's messages, before the bus is touched.
#include <stdexcept>

#include "FacadeFixture.h"

namespace movantrix::test {
namespace {

class RegisterNamesTest : public FacadeTest {};

TEST_F(RegisterNamesTest, EveryWritableNameReachesItsRegisterAndReadsBackInItsUnit) {
    struct Case {
        const char* name;
        Value written;
        int address;  // where the device holds it
        int size;
        int raw;     // what the device holds
        Value read;  // what read() gives
    };
    const Case cases[] = {
        {"torque-enable", 1, 24, 1, 1, 1},
        {"led", 1, 25, 1, 1, 1},
        {"cw-compliance-margin", 3, 26, 1, 3, 3},
        {"ccw-compliance-margin", 4, 27, 1, 4, 4},
        {"cw-compliance-slope", 16, 28, 1, 16, 16},
        {"ccw-compliance-slope", 64, 29, 1, 64, 64},
        {"goal-position", 700, 30, 2, 700, 700},
        {"moving-speed", -300, 32, 2, 1024 + 300, -300},
        {"moving-speed", 300, 32, 2, 300, 300},
        {"torque-limit", 512, 34, 2, 512, 512},
        {"punch", 40, 48, 2, 40, 40},
        {"cw-angle-limit", 100, 6, 2, 100, 100},
        {"ccw-angle-limit", 900, 8, 2, 900, 900},
        {"max-torque", 800, 14, 2, 800, 800},
        {"temperature-limit", 70, 11, 1, 70, 70},
        {"min-voltage", 6.5, 12, 1, 65, 6.5},
        {"max-voltage", 16.0, 13, 1, 160, 16.0},
        {"max-voltage", 15, 13, 1, 150, 15.0},
        {"alarm-led", Flags{"overload", "overheating"}, 17, 1, 0x20 | 0x04,
         Flags{"overload", "overheating"}},
        {"alarm-shutdown", Flags{}, 18, 1, 0, Flags{}},
        {"alarm-shutdown", 0x24, 18, 1, 0x24, Flags{"overload", "overheating"}},
        {"return-delay", 10, 5, 1, 10, 10},
        {"return-level", 1, 16, 1, 1, 1},
    };
    startDefault();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + text(c.written));
        Device device = bus->device(1, 1);
        device.write(c.name, c.written);
        mvx::SimulatedDevice& d = sim->device(0);
        EXPECT_EQ(c.size == 2 ? d.reg16(c.address) : d.reg(c.address), c.raw);
        EXPECT_EQ(device.read(c.name), c.read) << text(device.read(c.name));
    }
}

TEST_F(RegisterNamesTest, TextValuesAreTakenAsTheCommandLineTakesThem) {
    struct Case {
        const char* name;
        const char* text;
        Value read;
    };
    const Case cases[] = {
        {"led", "on", 1},
        {"led", "off", 0},
        {"torque-enable", "true", 1},
        {"min-voltage", "7.5", 7.5},
        {"alarm-led", "overload,range", Flags{"overload", "range"}},
        {"alarm-led", "none", Flags{}},
        {"goal-position", "0", 0},
    };
    startDefault();
    Device device = bus->device(1, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + c.text);
        device.write(c.name, c.text);
        EXPECT_EQ(device.read(c.name), c.read) << text(device.read(c.name));
    }
}

TEST_F(RegisterNamesTest, WheelModeIsBothAngleLimitsAtZero) {
    startDefault();
    Device device = bus->device(1, 1);
    EXPECT_EQ(device.read("wheel-mode"), Value(0));
    device.write("wheel-mode", 1);
    EXPECT_EQ(device.read("wheel-mode"), Value(1));
    EXPECT_EQ(device.read("cw-angle-limit"), Value(0));
    EXPECT_EQ(device.read("ccw-angle-limit"), Value(0));
}

TEST_F(RegisterNamesTest, ReadOnlyRegistersReadInTheirUnits) {
    startDefault();
    Device device = bus->device(1, 3);  // PW-900, positions 0-4095, in the middle
    EXPECT_EQ(device.read("model-number"), Value(106));
    EXPECT_EQ(device.read("firmware-version"), Value(38));
    EXPECT_EQ(device.read("present-position"), Value(2048));
    EXPECT_TRUE(std::holds_alternative<double>(device.read("present-voltage")));
    EXPECT_TRUE(std::holds_alternative<int>(device.read("present-temperature")));
    EXPECT_TRUE(std::holds_alternative<int>(device.read("present-load")));
}

TEST_F(RegisterNamesTest, BadNamesAndValuesAreRefusedWithTheCommandLineMessages) {
    struct Case {
        const char* name;
        Value value;
        const char* message;
    };
    const Case cases[] = {
        {"nope", 1, "unknown register name \"nope\""},
        {"present-position", 1,
         "unknown register name \"present-position\" to write (it is read only)"},
        {"goal-position", 5000, "goal-position: 5000 is out of range (0-4095)"},
        {"goal-position", 1.5, "goal-position: \"1.5\" is not a whole number"},
        {"moving-speed", -1024, "moving-speed: -1024 is out of range (-1023-1023)"},
        {"led", 2, "led: \"2\" is not on or off"},
        {"min-voltage", 4.9, "min-voltage: 4.9 V is out of range (5.0-25.0 V)"},
        {"min-voltage", 6.55,
         "min-voltage: \"6.55\" is not a voltage in volts with at most one decimal"},
        {"alarm-led", Flags{"bogus"},
         "alarm-led: unknown alarm flag \"bogus\" (flags: instruction,overload,checksum,range,"
         "overheating,angle-limit,input-voltage, or none)"},
        {"alarm-led", Flags{"overload,range"},
         "alarm-led: unknown alarm flag \"overload,range\" (flags: instruction,overload,checksum,"
         "range,overheating,angle-limit,input-voltage, or none)"},
        {"max-torque", Flags{"overload"},
         "max-torque: a list of flag names is only for alarm-led and alarm-shutdown"},
        {"id", 254, "id: 254 is out of range (0-253)"},
    };
    startDefault();
    Device device = bus->device(1, 1);
    const std::size_t before = sim->traffic().size();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " = " + text(c.value));
        try {
            device.write(c.name, c.value);
            ADD_FAILURE() << "not refused";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(sim->traffic().size(), before) << "nothing went on the wire";
}

TEST_F(RegisterNamesTest, ReadingANameTheModelDoesNotHaveIsABadArgument) {
    startDefault();
    Device sensor = bus->device(34, 100);  // LT-P1, a sensor
    EXPECT_THROW(sensor.read("goal-position"), std::invalid_argument);
    EXPECT_THROW(sensor.read("nope"), std::invalid_argument);
    EXPECT_EQ(sensor.read("id"), Value(100));
}

TEST_F(RegisterNamesTest, AnIdChangeMovesTheDeviceObjectWithIt) {
    startDefault();
    Device device = bus->device(1, 1);
    device.write("id", 20);
    EXPECT_EQ(device.id(), 20);
    EXPECT_EQ(sim->device(0).id(), 20);
    EXPECT_EQ(device.read("id"), Value(20));
    // Another device answers at ID 2: the move is refused before anything is written.
    EXPECT_THROW(device.write("id", 2), Refused);
    EXPECT_EQ(sim->device(0).id(), 20);
}

TEST_F(RegisterNamesTest, RawReadsAndWritesAndTheirLimits) {
    startDefault();
    Device device = bus->device(1, 1);
    device.writeRaw(30, 0x0123, true);
    EXPECT_EQ(device.readRaw(30, 2), (std::vector<std::uint8_t>{0x23, 0x01}));
    device.writeRaw(25, 1);
    EXPECT_EQ(sim->device(0).reg(25), 1);
    struct Case {
        int address;
        int valueOrLength;
        bool word;
        bool read;
        const char* message;
    };
    const Case cases[] = {
        {256, 1, false, true, "address 256 is out of range (0-255)"},
        {0, 151, false, true, "length 151 is out of range (1-150)"},
        {200, 60, false, true, "registers 200 to 259 run past the end of the control table (255)"},
        {30, 256, false, false, "value 256 is out of range (0-255 for a byte)"},
        {30, 65536, true, false, "value 65536 is out of range (0-65535 for a word)"},
        {255, 1, true, false, "a word at register 255 runs past the control table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            if (c.read) {
                device.readRaw(c.address, c.valueOrLength);
            } else {
                device.writeRaw(c.address, c.valueOrLength, c.word);
            }
            ADD_FAILURE() << "not refused";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST_F(RegisterNamesTest, StatusAndSettingsByName) {
    startDefault();
    Device device = bus->device(1, 3);
    const Values status = device.status();
    EXPECT_EQ(status.at("present-position"), Value(2048));
    EXPECT_TRUE(std::holds_alternative<double>(status.at("present-voltage")));
    EXPECT_EQ(status.count("torque-enable"), 1u);
    EXPECT_EQ(status.count("firmware-update"), 0u) << "keyed registers are left out";
    device.write("max-torque", 777);
    const Values settings = device.settings();
    EXPECT_EQ(settings.at("max-torque"), Value(777));
    EXPECT_TRUE(std::holds_alternative<double>(settings.at("min-voltage")));
    EXPECT_TRUE(std::holds_alternative<Flags>(settings.at("alarm-shutdown")));
    EXPECT_EQ(settings.count("id"), 0u) << "a settings file never holds the address";
}

}  // namespace
}  // namespace movantrix::test
