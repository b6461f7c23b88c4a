// Commands on one device: ping, info, set, read, write, reset-defaults.
#include <nlohmann/json.hpp>

#include "CliFixture.h"

namespace mvx::test {
namespace {

using CliDeviceTest = CliTest;

TEST_F(CliDeviceTest, PingAnswersForAPresentDeviceAndFailsInWordsForAMissingOne) {
    ASSERT_EQ(run({"--port", "sim", "ping", "--id", "7", "--baud", "34"}), 0) << err();
    EXPECT_EQ(out(), "ID 7 at code 34 (57142 bps): answered\n");

    EXPECT_EQ(run({"--port", "sim", "ping", "--id", "5", "--baud", "1"}), 1);
    EXPECT_EQ(out(), "");
    EXPECT_EQ(err(), "movantrix-cli: ID 5 at code 1 (1000000 bps): no reply (timeout) (103)\n");
}

TEST_F(CliDeviceTest, InfoOfAnActuatorShowsTheControlTableWithUnits) {
    SimulatedDevice& d = device(1, 3);
    d.setReg(42, 121);  // 12.1 V
    d.setReg(43, 41);
    d.setReg(17, 36);  // overload, overheating
    d.setReg(18, 4);   // overheating
    d.setReg16(34, 700);
    ASSERT_EQ(run({"--port", "sim", "info", "--id", "3", "--baud", "1"}), 0) << err();
    const std::string text = out();
    EXPECT_TRUE(contains(text, "address                ID 3 at code 1 (1000000 bps)\n")) << text;
    EXPECT_TRUE(contains(text, "class                  Actuator\n"));
    EXPECT_TRUE(contains(text, "model                  PW-900 (106)\n"));
    EXPECT_TRUE(contains(text, "firmware-version       38\n"));
    EXPECT_TRUE(contains(text, "return-level           2 (All return)\n"));
    EXPECT_TRUE(contains(text, "max-position           4095\n"));
    EXPECT_TRUE(contains(text, "present-voltage        12.1 V\n"));
    EXPECT_TRUE(contains(text, "present-temperature    41 °C\n"));
    EXPECT_TRUE(contains(text, "alarm-led              overload,overheating\n"));
    EXPECT_TRUE(contains(text, "alarm-shutdown         overheating\n"));
    EXPECT_TRUE(contains(text, "torque-limit           700\n"));
    EXPECT_TRUE(contains(text, "goal-position          " + std::to_string(d.reg16(30)) + "\n"));
    EXPECT_TRUE(contains(text, "max-voltage            " + std::to_string(d.reg(13) / 10) + "." +
                                   std::to_string(d.reg(13) % 10) + " V\n"));
    // Info only reads.
    EXPECT_EQ(hostPackets(3), 0);
}

TEST_F(CliDeviceTest, InfoJsonOfAnActuatorAndOfASensor) {
    device(1, 1).setReg(42, 118);
    ASSERT_EQ(run({"--port", "sim", "--json", "info", "--id", "1", "--baud", "1"}), 0) << err();
    auto info = nlohmann::json::parse(out());
    EXPECT_EQ(info["code"], 1);
    EXPECT_EQ(info["id"], 1);
    EXPECT_EQ(info["name"], "MQ-35");
    EXPECT_EQ(info["model"], 28);
    ASSERT_TRUE(info["servo"].is_object());
    EXPECT_DOUBLE_EQ(info["servo"]["present_voltage"].get<double>(), 11.8);
    EXPECT_EQ(info["servo"]["max_position"], 1023);
    EXPECT_EQ(info["servo"]["alarm_shutdown"], nlohmann::json::array({"overload", "overheating"}));

    ASSERT_EQ(run({"--port", "sim", "--json", "info", "--id", "100", "--baud", "34"}), 0);
    info = nlohmann::json::parse(out());
    EXPECT_EQ(info["class"], "Sensor");
    EXPECT_TRUE(info["servo"].is_null());
}

TEST_F(CliDeviceTest, InfoOfAnAbsentDeviceFails) {
    EXPECT_EQ(run({"--port", "sim", "info", "--id", "8", "--baud", "1"}), 1);
    EXPECT_EQ(err(),
              "movantrix-cli: no device found at ID 8 at code 1 (1000000 bps): no reply "
              "(timeout) (103)\n");
}

TEST_F(CliDeviceTest, SetGoalPositionWritesTheRegister) {
    ASSERT_EQ(run({"--port", "sim", "set", "--id", "1", "--baud", "1", "goal-position", "700"}), 0)
        << err();
    EXPECT_EQ(out(), "ID 1 at code 1 (1000000 bps): goal-position = 700\n");
    EXPECT_EQ(device(1, 1).reg16(30), 700);
    EXPECT_EQ(device(1, 1).reg(24), 1) << "the goal switches the torque on";
}

TEST_F(CliDeviceTest, SetNamedRegistersConvertTheirValues) {
    auto set = [this](const std::string& name, const std::string& value) {
        return run({"--port", "sim", "set", "--id", "2", "--baud", "1", name, value});
    };
    ASSERT_EQ(set("moving-speed", "-300"), 0) << err();
    EXPECT_EQ(device(1, 2).reg16(32), 1324);
    ASSERT_EQ(set("alarm-shutdown", "overload,range"), 0) << err();
    EXPECT_EQ(device(1, 2).reg(18), 40);
    ASSERT_EQ(set("alarm-led", "none"), 0) << err();
    EXPECT_EQ(device(1, 2).reg(17), 0);
    ASSERT_EQ(set("min-voltage", "6.5"), 0) << err();
    EXPECT_EQ(device(1, 2).reg(12), 65);
    ASSERT_EQ(set("led", "on"), 0) << err();
    EXPECT_EQ(device(1, 2).reg(25), 1);
    ASSERT_EQ(set("wheel-mode", "on"), 0) << err();
    EXPECT_EQ(device(1, 2).reg16(6), 0);
    EXPECT_EQ(device(1, 2).reg16(8), 0);
    ASSERT_EQ(set("return-delay", "10"), 0) << err();
    EXPECT_EQ(device(1, 2).reg(5), 10);
}

TEST_F(CliDeviceTest, SetIdMovesTheDeviceButNotOntoAnotherOne) {
    ASSERT_EQ(run({"--port", "sim", "set", "--id", "4", "--baud", "1", "id", "12"}), 0) << err();
    EXPECT_EQ(out(), "ID 12 at code 1 (1000000 bps): id = 12\n");
    EXPECT_NE(bus.find(1, 12), nullptr);
    EXPECT_EQ(bus.find(1, 4), nullptr);

    bus.clearTraffic();
    EXPECT_EQ(run({"--port", "sim", "set", "--id", "12", "--baud", "1", "id", "2"}), 1);
    EXPECT_TRUE(contains(err(), "another device answers at ID 2, code 1")) << err();
    EXPECT_EQ(hostPackets(3), 0);
    EXPECT_NE(bus.find(1, 12), nullptr);
}

TEST_F(CliDeviceTest, SetRefusesWhatTheDeviceCannotTakeBeforeWriting) {
    struct Case {
        const char *id, *baud, *name, *value, *message;
    };
    const Case cases[] = {
        // Beyond the max position of a 1023 model (4095 passes the argument check).
        {"1", "1", "goal-position", "2000", "above the max position of this model (1023)"},
        {"100", "34", "led", "on", "has no servo registers (Sensor LT-P1"},
        {"9", "1", "torque-limit", "5", "(Unknown Unknown, return level 0)"},  // ping only
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(run({"--port", "sim", "set", "--id", c.id, "--baud", c.baud, c.name, c.value}),
                  1);
        EXPECT_TRUE(contains(err(), c.message)) << err();
        EXPECT_EQ(hostPackets(3), 0);
    }
    EXPECT_EQ(device(1, 1).reg16(30), 512);
}

TEST_F(CliDeviceTest, WriteAndReadRawRegisters) {
    ASSERT_EQ(run({"--port", "sim", "write", "--id", "1", "--baud", "1", "30", "600", "--word"}), 0)
        << err();
    EXPECT_EQ(out(), "ID 1 at code 1 (1000000 bps): wrote 600 to register 30 (word)\n");
    EXPECT_EQ(device(1, 1).reg16(30), 600);

    ASSERT_EQ(run({"--port", "sim", "write", "--id", "1", "--baud", "1", "25", "1"}), 0) << err();
    EXPECT_EQ(device(1, 1).reg(25), 1);

    ASSERT_EQ(run({"--port", "sim", "read", "--id", "1", "--baud", "1", "24", "8"}), 0) << err();
    EXPECT_EQ(out(), "24 1\n25 1\n26 " + std::to_string(device(1, 1).reg(26)) + "\n27 " +
                         std::to_string(device(1, 1).reg(27)) + "\n28 " +
                         std::to_string(device(1, 1).reg(28)) + "\n29 " +
                         std::to_string(device(1, 1).reg(29)) + "\n30 88\n31 2\n");
}

TEST_F(CliDeviceTest, NumbersWithLeadingZerosAreDecimal) {
    // Octal would be ID 7 at code 28, register 24 and 64 (128 for 0200).
    const struct {
        std::vector<std::string> args;
        std::uint8_t code;
        std::uint8_t id;
        int expected;
    } cases[] = {
        {{"write", "--id", "07", "--baud", "034", "030", "0100", "--word"}, 34, 7, 100},
        {{"set", "--id", "+03", "--baud", "001", "goal-position", "0200"}, 1, 3, 200},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_EQ(device(c.code, c.id).reg16(30), c.expected);
    }
}

TEST_F(CliDeviceTest, WriteTheDeviceRefusesIsAFailure) {
    // Present position is read-only.
    EXPECT_EQ(run({"--port", "sim", "write", "--id", "1", "--baud", "1", "36", "5"}), 1);
    EXPECT_EQ(err(),
              "movantrix-cli: ID 1 at code 1 (1000000 bps): the device refused the write "
              "(instruction)\n");
}

TEST_F(CliDeviceTest, WriteToALevelOneDeviceCountsWithoutAReply) {
    ASSERT_EQ(run({"--port", "sim", "write", "--id", "7", "--baud", "34", "25", "1"}), 0) << err();
    EXPECT_EQ(device(34, 7).reg(25), 1);
}

TEST_F(CliDeviceTest, ResetDefaultsWritesTheModelsLimits) {
    SimulatedDevice& d = device(1, 2);  // model 12
    d.setReg16(14, 500);
    d.setReg(11, 60);
    d.setReg(18, 0);
    ASSERT_EQ(run({"--port", "sim", "reset-defaults", "--id", "2", "--baud", "1"}), 0) << err();
    EXPECT_EQ(out(), "ID 2 at code 1 (1000000 bps): defaults restored\n");
    EXPECT_EQ(d.reg16(14), 1023);
    EXPECT_EQ(d.reg(11), 70);
    EXPECT_EQ(d.reg(13), 140);
    EXPECT_EQ(d.reg(18), 36);

    bus.clearTraffic();
    ASSERT_EQ(run({"--port", "sim", "reset-defaults", "--id", "100", "--baud", "34"}), 0);
    EXPECT_EQ(out(), "ID 100 at code 34 (57142 bps): nothing to reset (Sensor LT-P1)\n");
    EXPECT_EQ(hostPackets(3), 0);
}

TEST_F(CliDeviceTest, AdapterFailureMidCommandIsReportedInWords) {
    // Open and the identity read pass; the adapter fails during the write.
    bus.failAdapterFrom(25);
    EXPECT_EQ(run({"--port", "sim", "set", "--id", "1", "--baud", "1", "goal-position", "100"}), 1);
    EXPECT_TRUE(contains(err(), "adapter access failed (101)")) << err();
}

}  // namespace
}  // namespace mvx::test
