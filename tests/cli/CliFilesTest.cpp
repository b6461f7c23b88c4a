// What movantrix-cli reads and writes besides the bus: hostile settings files refused before
// the port is opened, backup targets that are no regular files, output that does not reach
// its place, numbers on the command line, and lines for machines under a decimal-comma locale.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>

#include "CliFixture.h"
#include "protocol/Packet.h"
#include "support/DecimalCommaLocale.h"

namespace mvx::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOutputFailed =
    "movantrix-cli: cannot write to standard output; the output is incomplete\n";

// An output that takes `room` bytes and then fails, as a full disk or a closed stdout does.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(std::size_t room) : room_(room) {}
    const std::string& taken() const { return taken_; }

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        const auto fits =
            std::min<std::size_t>(static_cast<std::size_t>(count), room_ - taken_.size());
        taken_.append(text, fits);
        return static_cast<std::streamsize>(fits);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    std::size_t room_;
    std::string taken_;
};

class CliFilesTest : public CliTest {
protected:
    CliFilesTest() {
        char pattern[] = "/tmp/mvx-cli-files-XXXXXX";
        dir = ::mkdtemp(pattern);
    }
    ~CliFilesTest() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string backupText() {
        EXPECT_EQ(run({"--port", "sim", "backup", "--id", "1", "--baud", "1"}), 0) << err();
        return out();
    }
    // Runs a command line that must be refused before the port is opened.
    void expectRefused(const std::vector<std::string>& args, const std::string& message) {
        SCOPED_TRACE(::testing::PrintToString(args));
        env.portsMade = 0;
        bus.clearTraffic();
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(out(), "");
        EXPECT_EQ(err(), message);
        EXPECT_EQ(env.portsMade, 0);
        EXPECT_FALSE(anyHostBytes());
    }

    fs::path dir;
};

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    const auto at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

TEST_F(CliFilesTest, HostileSettingsFilesAreRefusedWithTheKey) {
    const std::string good = backupText();
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    const struct {
        const char* name;
        std::string text;
        std::string message;  // after "movantrix-cli: FILE: "
    } cases[] = {
        {"big", replaced(good, "\"min-voltage\": 6.0", "\"min-voltage\": 1e400"),
         "settings.min-voltage: number 1e400 is out of range"},
        {"small", replaced(good, "\"max-voltage\": 19.0", "\"max-voltage\": -1e400"),
         "settings.max-voltage: number -1e400 is out of range"},
        {"digits", replaced(good, "\"punch\": 32", "\"punch\": " + std::string(401, '9')),
         "settings.punch: number 999999999999999999999999... (401 characters) is out of range"},
        {"nan", replaced(good, "\"min-voltage\": 6.0", "\"min-voltage\": NaN"),
         "not a JSON file (parse error at byte 296)"},
        {"deep", replaced(good, "\"model_name\": \"MQ-35\"", "\"model_name\": " + deep),
         "model_name[0][0][0][0][0]...: nested deeper than 64 levels"},
        {"flagsdeep", replaced(good, "\"alarm-led\": [", "\"alarm-led\": [" + deep + ","),
         "settings.alarm-led[0][0][0][0]...: nested deeper than 64 levels"},
        {"model", replaced(good, "\"model\": 28,", "\"model\": 12, \"model\": 28,"),
         "model: duplicate key"},
        {"setting", replaced(good, "\"punch\": 32,", "\"punch\": 32, \"punch\": 40,"),
         "settings.punch: duplicate key"},
        {"angles",
         replaced(replaced(good, "\"cw-angle-limit\": 0", "\"cw-angle-limit\": 900"),
                  "\"ccw-angle-limit\": 1023", "\"ccw-angle-limit\": 100"),
         "settings.cw-angle-limit: 900 is above ccw-angle-limit 100; the device cannot hold "
         "both"},
        {"volts", replaced(good, "\"min-voltage\": 6.0", "\"min-voltage\": 19.5"),
         "settings.min-voltage: 19.5 V is above max-voltage 19.0 V; the device cannot hold both"},
    };
    for (const auto& c : cases) {
        const std::string file = path(std::string(c.name) + ".json");
        std::ofstream(file) << c.text;
        for (const char* force : {"--dry-run", "--force"}) {
            expectRefused({"--port", "sim", "restore", file, "--baud", "1", "--id", "1,2", force},
                          "movantrix-cli: " + file + ": " + c.message + "\n");
        }
    }
    // Equal limits can both hold.
    const std::string equal = path("equal.json");
    std::ofstream(equal) << replaced(good, "\"min-voltage\": 6.0", "\"min-voltage\": 19.0");
    EXPECT_EQ(run({"--port", "sim", "restore", equal, "--baud", "1", "--id", "1"}), 0) << err();
    EXPECT_EQ(device(1, 1).reg(12), 190);
}

TEST_F(CliFilesTest, AFifoIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = path("settings.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto restoring = std::async(std::launch::async, [&] {
        return run({"--port", "sim", "restore", fifo, "--baud", "1", "--id", "1"});
    });
    const bool returned = restoring.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!returned) {
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // a writer comes and goes
    }
    EXPECT_EQ(restoring.get(), 2);
    EXPECT_TRUE(returned) << "restore waited for a writer";
    EXPECT_EQ(err(), "movantrix-cli: " + fifo + ": not a regular file\n");
    EXPECT_EQ(env.portsMade, 0);
}

TEST_F(CliFilesTest, BackupWritesOnlyRegularFilesFollowingLinks) {
    const std::string text = backupText();
    ::mkfifo(path("fifo").c_str(), 0600);
    fs::create_directory(path("folder"));
    std::ofstream(path("real.json")) << "old";
    ::symlink(path("real.json").c_str(), path("link.json").c_str());
    ::symlink(path("nothing.json").c_str(), path("dangling.json").c_str());
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::mknod(path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    const struct {
        std::string target;
        std::string refusal;  // after "movantrix-cli: TARGET: "; empty: written
    } cases[] = {
        {path("fifo"), "not a regular file"},
        {path("folder"), "not a regular file"},
        {path("dangling.json"), "a symbolic link to nothing"},
        {root ? path("null") : path("fifo"), "not a regular file"},
        {path("link.json"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        struct stat before {};
        ::lstat(c.target.c_str(), &before);
        if (!c.refusal.empty()) {
            expectRefused({"--port", "sim", "backup", "--id", "1", "--baud", "1", "-o", c.target},
                          "movantrix-cli: " + c.target + ": " + c.refusal + "; nothing written\n");
            struct stat after {};
            ::lstat(c.target.c_str(), &after);
            EXPECT_EQ(after.st_mode, before.st_mode);
            continue;
        }
        ASSERT_EQ(run({"--port", "sim", "backup", "--id", "1", "--baud", "1", "-o", c.target}), 0)
            << err();
        EXPECT_TRUE(fs::is_symlink(c.target)) << "the link stays";
        std::stringstream written;
        written << std::ifstream(path("real.json")).rdbuf();
        EXPECT_EQ(written.str().substr(0, 40), text.substr(0, 40))
            << "the file it leads to is replaced";
    }
}

// Output that does not reach its place is a failure with a message, never a silent success;
// watch stops at once.
TEST_F(CliFilesTest, FailedOutputIsStatusOneWithAMessage) {
    const struct {
        std::vector<std::string> args;
        std::size_t room;  // bytes the output takes before failing
    } cases[] = {
        {{"backup", "--id", "1", "--baud", "1"}, 0},
        {{"backup", "--id", "1", "--baud", "1"}, 100},
        {{"--json", "scan"}, 10},
        {{"info", "--id", "1", "--baud", "1"}, 0},
        {{"read", "--id", "1", "--baud", "1", "0", "10"}, 0},
        {{"--help"}, 0},
        {{"watch", "--id", "1", "--baud", "1", "--duration", "5"}, 0},
        {{"watch", "--id", "1", "--baud", "1", "--duration", "5", "--json"}, 150},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        bus.clearTraffic();
        FailingBuffer buffer(c.room);
        std::ostream failing(&buffer);
        EXPECT_EQ(run(args, failing), 1);
        EXPECT_EQ(err(), kOutputFailed);
        EXPECT_EQ(buffer.taken().size(), c.room);
        if (c.args.front() == "watch") {
            // The probe's two reads and the samples whose lines were written, then one more.
            EXPECT_LE(hostPackets(Read), 2 + 3) << "watch stopped at the failed line";
        }
    }
}

TEST_F(CliFilesTest, NumbersOnTheCommandLineAreDecimalAndInRange) {
    const std::string watch = "movantrix-cli: --rate: ";
    const std::string duration = "movantrix-cli: --duration: ";
    const std::string rateRange = " (1-200) (run movantrix-cli --help for the usage)\n";
    const std::string durationRange =
        " (more than 0, at most 31536000 (a year)) (run movantrix-cli --help for the usage)\n";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--rate", "nan"}, watch + "\"nan\" is not a decimal number" + rateRange},
        {{"--rate", "inf"}, watch + "\"inf\" is not a decimal number" + rateRange},
        {{"--rate", "0x10"}, watch + "\"0x10\" is not a decimal number" + rateRange},
        {{"--rate", "1e2"}, watch + "\"1e2\" is not a decimal number" + rateRange},
        {{"--rate", "-5"}, watch + "-5 is out of range" + rateRange},
        {{"--rate", "200.5"}, watch + "200.5 is out of range" + rateRange},
        {{"--duration", "nan"}, duration + "\"nan\" is not a decimal number" + durationRange},
        {{"--duration", "-1"}, duration + "-1 is out of range" + durationRange},
        {{"--duration", "0"}, duration + "0 is out of range" + durationRange},
        {{"--duration", "1e400"}, duration + "\"1e400\" is not a decimal number" + durationRange},
        {{"--duration", "31536001"}, duration + "31536001 is out of range" + durationRange},
        {{"--duration", std::string(400, '9')},
         duration + std::string(400, '9') + " is out of range" + durationRange},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", "sim", "watch", "--id", "1", "--baud", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        expectRefused(args, c.message);
    }
    for (const std::string value : {"99999999999999", "-99999999999999", "-1"}) {
        expectRefused(
            {"--port", "sim", "write", "--id", "1", "--baud", "1", "30", value},
            "movantrix-cli: write: value " + value + " is out of range (0-255 for a byte)\n");
    }
    // A duration of a fraction of a microsecond is one, not none (which runs until
    // interrupted): the first sample only.
    ASSERT_EQ(
        run({"--port", "sim", "watch", "--id", "1", "--baud", "1", "--duration", "0.0000001"}), 0);
    const std::string lines = out();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
}

TEST_F(CliFilesTest, WatchLinesKeepTheirDecimalPointUnderADecimalCommaLocale) {
    const DecimalCommaLocale locale;
    if (!locale.active()) {
        GTEST_SKIP() << DecimalCommaLocale::kMissing;
    }
    ASSERT_EQ(run({"--port", "sim", "watch", "--id", "1", "--baud", "1", "--duration", "0.25"}), 0);
    std::istringstream csv(out());
    std::string line;
    std::getline(csv, line);
    int rows = 0;
    for (; std::getline(csv, line); ++rows) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
        EXPECT_EQ(
            line.substr(
                line.find(',', line.find(',', line.find(',', line.find(',') + 1) + 1) + 1) + 1, 4),
            "12.0")
            << line;
    }
    EXPECT_EQ(rows, 3);
    ASSERT_EQ(
        run({"--port", "sim", "--json", "watch", "--id", "1", "--baud", "1", "--duration", "0.15"}),
        0);
    std::istringstream json(out());
    std::getline(json, line);
    std::getline(json, line);
    EXPECT_EQ(nlohmann::json::parse(line)["time_s"], 0.1) << line;
    // The settings file too: its volts keep their point, and it reads back.
    const std::string file = path("de.json");
    ASSERT_EQ(run({"--port", "sim", "backup", "--id", "1", "--baud", "1", "-o", file}), 0);
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_NE(text.str().find("\"max-voltage\": 19.0"), std::string::npos) << text.str();
    EXPECT_EQ(run({"--port", "sim", "restore", file, "--baud", "1", "--id", "1"}), 0) << err();
    EXPECT_EQ(out(), "ID 1: nothing to restore\n");
}

}  // namespace
}  // namespace mvx::test
