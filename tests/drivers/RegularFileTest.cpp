// The files the user names: every reader of such a file over the same hostile inputs, and the
// writer's targets (what it replaces, what it refuses) and its failures.
#include "drivers/RegularFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>

#include "device/ModelCatalogue.h"
#include "device/SettingsFile.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UpdateList.h"
#include "robot/RobotProfile.h"
#include "sim/SimulatedBus.h"
#include "support/FileSizeLimit.h"

namespace mvx {
namespace {

namespace fs = std::filesystem;

class RegularFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mvx-regular-file-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }
    static std::string contents(const std::string& file) {
        std::stringstream text;
        text << std::ifstream(file, std::ios::binary).rdbuf();
        return text.str();
    }
    // The names in the folder: no temporary file may stay behind.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(dir)) {
            out.push_back(entry.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path dir;
};

// A settings file of an MQ-35 that the reader accepts.
std::string goodSettingsText() {
    DeviceSettings s;
    s.modelNumber = 28;
    s.modelName = displayName(28);
    s.firmwareVersion = 30;
    s.id = 1;
    s.baudCode = 1;
    s.takenAt = "2026-12-09T02:48:10Z";
    for (const NamedRegister* reg : settingsRegisters()) {
        s.values.push_back({reg, reg->setting == Setting::ReturnLevel ? 2 : reg->min});
    }
    return settingsJsonText(s);
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    const auto at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return text.replace(at, what.size(), with);
}

// A robot profile of one MQ-35 whose settings hold `ccw` (JSON text) as its CCW angle limit.
std::string profileText(const std::string& ccw) {
    return "{\"format\": \"movantrix-robot-profile\", \"version\": 1, \"taken\": "
           "\"2026-12-09T02:48:10Z\", \"codes\": [1], \"devices\": [{\"baud\": 1, \"id\": 1, "
           "\"model\": 28, \"model_name\": \"MQ-35\", \"firmware_version\": 30, \"settings\": " +
           replaced(goodSettingsText(), "\"ccw-angle-limit\": 0", "\"ccw-angle-limit\": " + ccw) +
           "}]}";
}

// A reader of a file the user names, and documents it would accept but for one value.
struct Reader {
    const char* name;
    // A document with `value` (JSON text) in place of one number.
    std::function<std::string(const std::string& value)> withValue;
    std::string duplicateKey;  // a document with one key given twice
    // What the refusals of a file that is no JSON and of one too large say.
    const char* notJson;
    const char* tooLarge;
    // Reads `file`: false with the reason (the firmware reader gives none).
    std::function<bool(const std::string& file, std::string& error)> read;
};

const std::vector<Reader>& readers() {
    static const std::vector<Reader> kReaders = {
        {"settings file",
         [](const std::string& value) {
             return replaced(goodSettingsText(), "\"punch\": 0", "\"punch\": " + value);
         },
         replaced(goodSettingsText(), "\"model\": 28,", "\"model\": 28, \"model\": 28,"),
         "not a JSON file", "larger than 1 MB",
         [](const std::string& file, std::string& error) {
             DeviceSettings settings;
             return readSettingsFile(file, settings, error);
         }},
        {"bus description",
         [](const std::string& value) {
             return "{\"devices\": [{\"id\": 1, \"baud\": 1, \"model\": 28, \"position\": " +
                    value + "}]}";
         },
         "{\"devices\": [], \"devices\": []}", "not valid JSON", "larger than 16 MB",
         [](const std::string& file, std::string& error) {
             BusDescription description;
             return SimulatedBus::loadDescription(file, description, error);
         }},
        {"robot profile", profileText,
         replaced(profileText("512"), "\"codes\": [1],", "\"codes\": [1], \"codes\": [1],"),
         "not a JSON file", "larger than 4 MB",
         [](const std::string& file, std::string& error) {
             RobotProfile profile;
             return readProfileFile(file, profile, error);
         }},
        {"firmware file", [](const std::string& value) { return "{\"version\": " + value + "}"; },
         "{\"a\": 1, \"a\": 1}", "", "",
         [](const std::string& file, std::string&) {
             FirmwareImage firmware;
             UpdateList updates;
             LoadFirmware(file, firmware, updates);
             return firmware.valid != 0;
         }},
    };
    return kReaders;
}

// Every reader over every hostile input: a refusal that says why, at once, never a crash, a
// hang or a wait for a writer.
TEST_F(RegularFileTest, EveryReaderRefusesEveryHostileInput) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    enum Expect { NotRegular, NotJson, TooLarge, Says };
    const struct {
        const char* name;
        std::function<std::string(const Reader&)> make;  // the input's path
        Expect expect;
        std::string says;
    } inputs[] = {
        {"FIFO",
         [&](const Reader&) {
             ::mkfifo(path("fifo").c_str(), 0600);
             return path("fifo");
         },
         NotRegular, ""},
        {"directory", [&](const Reader&) { return dir.string(); }, NotRegular, ""},
        {"/dev/zero", [](const Reader&) { return std::string("/dev/zero"); }, NotRegular, ""},
        {"empty", [&](const Reader&) { return write("empty", ""); }, NotJson, ""},
        {"100 MB",
         [&](const Reader& r) {
             const std::string file = write("large", r.withValue("1"));
             EXPECT_EQ(::truncate(file.c_str(), 100 << 20), 0);
             return file;
         },
         TooLarge, ""},
        {"invalid UTF-8",
         [&](const Reader& r) { return write("utf8", r.withValue("\"\xff\xfe\xc3\x28\"")); },
         NotJson, ""},
        {"1e400", [&](const Reader& r) { return write("big", r.withValue("1e400")); }, Says,
         "number 1e400 is out of range"},
        {"-1e400", [&](const Reader& r) { return write("small", r.withValue("-1e400")); }, Says,
         "number -1e400 is out of range"},
        {"401 digits",
         [&](const Reader& r) { return write("digits", r.withValue(std::string(401, '9'))); }, Says,
         "(401 characters) is out of range"},
        {"NaN spelled out", [&](const Reader& r) { return write("nan", r.withValue("NaN")); },
         NotJson, ""},
        {"deep nesting", [&](const Reader& r) { return write("deep", r.withValue(deep)); }, Says,
         "nested deeper than 64 levels"},
        {"duplicate keys", [&](const Reader& r) { return write("twice", r.duplicateKey); }, Says,
         "duplicate key"},
    };
    for (const Reader& reader : readers()) {
        // The reader takes what it should: the table's inputs are refused for what they are.
        std::string error;
        if (std::string(reader.name) != "firmware file") {
            EXPECT_TRUE(reader.read(write("good", reader.withValue("512")), error))
                << reader.name << ": " << error;
        }
        for (const auto& input : inputs) {
            SCOPED_TRACE(std::string(reader.name) + ", " + input.name);
            const std::string file = input.make(reader);
            error.clear();
            auto reading = std::async(std::launch::async, [&] { return reader.read(file, error); });
            const bool returned =
                reading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
            if (!returned) {
                // A writer comes and goes, so that a reader waiting for one ends.
                ::close(::open(file.c_str(), O_WRONLY | O_NONBLOCK));
            }
            const bool accepted = reading.get();
            EXPECT_TRUE(returned) << "the reader waited";
            EXPECT_FALSE(accepted);
            if (reader.notJson[0] == '\0') {
                continue;  // the firmware reader only says that the file is no firmware file
            }
            EXPECT_NE(error.find(file), std::string::npos) << "names the file: " << error;
            const std::string says = input.expect == NotRegular ? "not a regular file"
                                     : input.expect == NotJson  ? reader.notJson
                                     : input.expect == TooLarge ? reader.tooLarge
                                                                : input.says;
            EXPECT_NE(error.find(says), std::string::npos) << error;
            EXPECT_LT(error.size(), 400u) << "a message, not the file";
        }
        fs::remove(path("fifo"));
    }
}

TEST_F(RegularFileTest, ReadAllReadsUpToItsLimit) {
    const struct {
        std::string text;
        std::size_t limit;
        RegularFile::Status status;
    } cases[] = {
        {"", 4, RegularFile::Status::Opened},
        {"four", 4, RegularFile::Status::Opened},
        {"fives", 4, RegularFile::Status::TooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RegularFile file = RegularFile::open(write("file", c.text));
        std::string text = "before";
        EXPECT_EQ(file.readAll(c.limit, text), c.status == RegularFile::Status::Opened);
        EXPECT_EQ(file.status(), c.status);
        EXPECT_EQ(text, c.status == RegularFile::Status::Opened ? c.text : "before");
    }
    RegularFile file = RegularFile::open(write("file", "fives"));
    std::string text;
    file.readAll(4, text);
    EXPECT_EQ(file.problem(), "larger than 4 bytes");
    EXPECT_EQ(RegularFile::open(path("none")).problem(), "no such file");
    EXPECT_EQ(RegularFile::open(dir.string()).problem(), "not a regular file");
}

// What the writer replaces and what it refuses; a refused target stays as it was and nothing
// is left beside it.
TEST_F(RegularFileTest, WriterReplacesRegularFilesOnlyFollowingLinksToThem) {
    const bool root = ::geteuid() == 0;
    const struct {
        const char* name;
        std::function<void()> setUp;  // makes "target" (and what it leads to)
        std::string refusal;          // empty: written
        std::string written;          // the file that holds the new text then
    } cases[] = {
        {"nothing there", [] {}, "", "target"},
        {"a private regular file", [&] { ::chmod(write("target", "old").c_str(), 0600); }, "",
         "target"},
        {"a link to a regular file",
         [&] {
             write("real", "old");
             ::symlink(path("real").c_str(), path("target").c_str());
         },
         "", "real"},
        {"a link to nothing", [&] { ::symlink(path("nothing").c_str(), path("target").c_str()); },
         ": a symbolic link to nothing", ""},
        {"a FIFO", [&] { ::mkfifo(path("target").c_str(), 0600); }, ": not a regular file", ""},
        {"a directory", [&] { fs::create_directory(path("target")); }, ": not a regular file", ""},
        {"a link to a FIFO",
         [&] {
             ::mkfifo(path("fifo").c_str(), 0600);
             ::symlink(path("fifo").c_str(), path("target").c_str());
         },
         ": not a regular file", ""},
        {"a socket",
         [&] {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::strncpy(address.sun_path, path("target").c_str(), sizeof address.sun_path - 1);
             ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
             ::close(fd);
         },
         ": not a regular file", ""},
        {"a device node (as root)",
         [&] { ::mknod(path("target").c_str(), S_IFCHR | 0600, makedev(1, 3)); },
         root ? ": not a regular file" : "", root ? "" : "skip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.written == "skip") {
            continue;
        }
        fs::remove_all(dir);
        fs::create_directory(dir);
        c.setUp();
        struct stat before {};
        ::lstat(path("target").c_str(), &before);
        const std::vector<std::string> namesBefore = names();
        std::string error;
        const bool checked = checkWriteTarget(path("target"), error);
        const bool written = writeFileAtomically(path("target"), "new", error);
        EXPECT_EQ(checked, written);
        if (!c.refusal.empty()) {
            EXPECT_FALSE(written);
            EXPECT_EQ(error, path("target") + c.refusal);
            struct stat after {};
            ::lstat(path("target").c_str(), &after);
            EXPECT_EQ(after.st_mode, before.st_mode) << "left as it was";
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(names(), namesBefore);
            continue;
        }
        ASSERT_TRUE(written) << error;
        EXPECT_EQ(contents(path(c.written)), "new");
        struct stat after {};
        ::lstat(path("target").c_str(), &after);
        EXPECT_EQ(S_ISLNK(after.st_mode), S_ISLNK(before.st_mode)) << "a link stays a link";
        if (std::string(c.name) == "a private regular file") {
            EXPECT_EQ(after.st_mode & 0777, 0600u) << "keeps its permissions";
        }
    }
}

// A full disk: the write fails, says why, and leaves the old file and no temporary file.
TEST_F(RegularFileTest, AFailedWriteLeavesTheOldFile) {
    const std::string target = write("target", "old");
    std::string error;
    {
        const test::FileSizeLimit full(16);
        EXPECT_FALSE(writeFileAtomically(target, std::string(4096, 'x'), error));
    }
    EXPECT_EQ(error, target + ": " + std::strerror(EFBIG));
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"target"});
    EXPECT_FALSE(writeFileAtomically(path("missing/target"), "new", error));
    EXPECT_EQ(error, path("missing/target") + ": " + std::strerror(ENOENT));
}

}  // namespace
}  // namespace mvx
