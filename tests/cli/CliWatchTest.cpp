// watch on the simulated bus and virtual time: the lines, the rate, the endings.
#include <nlohmann/json.hpp>

#include <csignal>
#include <sstream>

#include "CliFixture.h"

namespace mvx::test {
namespace {

constexpr const char* kHeader =
    "time_s,present_position,present_speed,present_load,present_voltage,present_temperature,"
    "goal_position,moving";

class CliWatchTest : public CliTest {
protected:
    std::vector<std::string> lines() const {
        std::vector<std::string> all;
        std::istringstream text(out());
        for (std::string line; std::getline(text, line);) {
            all.push_back(line);
        }
        return all;
    }
    static std::vector<std::string> fields(const std::string& line) {
        std::vector<std::string> all;
        std::istringstream text(line);
        for (std::string field; std::getline(text, field, ',');) {
            all.push_back(field);
        }
        return all;
    }
    // Fails the adapter's writes, or calls `action`, from the `n`-th write on (counted from now).
    void onWrite(int n, std::function<FtStatus()> action) {
        writes_ = 0;
        hooked.hook = [this, n, action](const std::string& call) {
            return call == "write" && ++writes_ >= n ? action() : FT_OK;
        };
    }

private:
    int writes_ = 0;
};

TEST_F(CliWatchTest, LinesCarryTheRegistersInBothFormats) {
    struct Case {
        bool json;
        int goal;
        int sign;  // speed and load are signed by the direction of travel
    };
    for (const Case c : {Case{false, 800, 1}, Case{true, 200, -1}}) {
        SCOPED_TRACE(c.json);
        SimulatedDevice& d = device(1, 2);
        d.setReg(42, 121);
        d.setReg(43, 41);
        d.setReg16(32, 100);
        d.setReg16(30, c.goal);
        d.setReg(24, 1);
        std::vector<std::string> args = {"--port", "sim", "watch",      "--id", "2",
                                         "--baud", "1",   "--duration", "1"};
        if (c.json) {
            args.push_back("--json");
        }
        ASSERT_EQ(run(args), 0) << err();
        EXPECT_EQ(err(), "");
        const auto all = lines();
        ASSERT_EQ(all.size(), c.json ? 10u : 11u) << "10 Hz for 1 s";
        std::size_t first = 0;
        if (!c.json) {
            EXPECT_EQ(all[0], kHeader);
            first = 1;
        }
        int lastPosition = -1;
        for (std::size_t i = first; i < all.size(); ++i) {
            SCOPED_TRACE(all[i]);
            char time[16];
            std::snprintf(time, sizeof time, "%.3f", static_cast<double>(i - first) / 10);
            nlohmann::json row;
            if (c.json) {
                row = nlohmann::json::parse(all[i]);
                EXPECT_EQ(all[i].rfind(std::string("{\"time_s\":") + time + ",", 0), 0u);
            } else {
                const auto values = fields(all[i]);
                const auto keys = fields(kHeader);
                ASSERT_EQ(values.size(), keys.size());
                EXPECT_EQ(values[0], time);
                EXPECT_EQ(values[4], "12.1");
                for (std::size_t k = 0; k < keys.size(); ++k) {
                    row[keys[k]] = std::stod(values[k]);
                }
            }
            EXPECT_EQ(row.size(), 8u);
            EXPECT_EQ(row["present_speed"], 100 * c.sign);
            EXPECT_EQ(row["present_load"], (40 + 100 / 8) * c.sign);
            EXPECT_EQ(row["present_voltage"], 12.1);
            EXPECT_EQ(row["present_temperature"], 41);
            EXPECT_EQ(row["goal_position"], c.goal);
            EXPECT_EQ(row["moving"], 1);
            const int position = row["present_position"];
            if (lastPosition >= 0) {
                EXPECT_NEAR(position - lastPosition, 22.7 * c.sign, 1.01);  // 227 units/s
            }
            lastPosition = position;
        }
    }
}

TEST_F(CliWatchTest, TheRateIsHeldOrTheRateKeptIsToldOnce) {
    struct Case {
        std::string id, baud, rate;
        std::size_t samples;  // in 2 s
        std::string warning;
    };
    for (const Case& c : {Case{"2", "1", "100", 200, ""}, Case{"7", "34", "10", 20, ""},
                          Case{"21", "207", "200", 47,
                               "movantrix-cli: warning: ID 21 at code 207 (9615 bps): the bus "
                               "keeps 23.2 Hz, not the 200 Hz asked for; watching on at that "
                               "rate\n"}}) {
        SCOPED_TRACE(c.rate);
        ASSERT_EQ(run({"--port", "sim", "watch", "--id", c.id, "--baud", c.baud, "--rate", c.rate,
                       "--duration", "2"}),
                  0);
        EXPECT_EQ(err(), c.warning);
        EXPECT_NEAR(static_cast<double>(lines().size() - 1), static_cast<double>(c.samples), 1);
    }
}

TEST_F(CliWatchTest, FailuresEndWithStatusOne) {
    // Two reads go to the probe (identity, record); the device answers three samples more.
    SimFaults faults;
    faults.answerReads = 5;
    device(1, 2).setFaults(faults);
    EXPECT_EQ(run({"--port", "sim", "watch", "--id", "2", "--baud", "1", "--rate", "50"}), 1);
    EXPECT_EQ(lines().size(), 4u);
    EXPECT_EQ(err(),
              "movantrix-cli: ID 2 at code 1 (1000000 bps): no answer to 5 status reads in a row: "
              "no reply (timeout) (103)\n");

    onWrite(4, [] { return FT_IO_ERROR; });  // probe (2 writes), one sample, then the adapter fails
    EXPECT_EQ(run({"--port", "sim", "watch", "--id", "3", "--baud", "1", "--json"}), 1);
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_EQ(err(),
              "movantrix-cli: USB2Movantrix access failed! Please check connection. "
              "(adapter access failed (101))\n");
    hooked.hook = nullptr;

    EXPECT_EQ(run({"--port", "sim", "watch", "--id", "100", "--baud", "34"}), 1);
    EXPECT_EQ(out(), "");
    EXPECT_NE(err().find("not an actuator"), std::string::npos) << err();
}

TEST_F(CliWatchTest, BadArgumentsAreRefusedBeforeThePortIsOpened) {
    const std::vector<std::vector<std::string>> cases = {
        {"--rate", "0"},     {"--rate", "201"},    {"--rate", "fast"},
        {"--duration", "0"}, {"--duration", "-1"}, {"--csv", "--json"},
        {"--id", "254"},     {"--baud", "256"},    {"--interval", "1"},
    };
    for (const auto& extra : cases) {
        std::vector<std::string> args = {"--port", "sim", "watch", "--id", "2", "--baud", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(out(), "");
        EXPECT_NE(err(), "");
        EXPECT_EQ(env.portsMade, 0);
    }
}

TEST_F(CliWatchTest, InterruptsEndCleanlyWithStatusZero) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // The signal arrives in the middle of the sixth sample's exchange.
        onWrite(8, [signal] {
            std::raise(signal);
            return FT_OK;
        });
        ASSERT_EQ(run({"--port", "sim", "watch", "--id", "2", "--baud", "1", "--rate", "100"}), 0);
        hooked.hook = nullptr;
        EXPECT_EQ(err(), "");
        const auto all = lines();
        ASSERT_EQ(all.size(), 7u);
        EXPECT_EQ(fields(all.back()).size(), 8u);
        EXPECT_EQ(out().back(), '\n');
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << "the handler is put back";
    }
}

}  // namespace
}  // namespace mvx::test
