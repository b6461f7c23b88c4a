// The movantrix-cli program itself with a standard output that does not take what it writes:
// /dev/full, a file on a full disk, no stdout at all. Each is a message and status 1, never a
// silent success; watch stops at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs movantrix-cli on the simulated bus with `args`; `prepare` sets up stdout in the child.
Outcome runProgram(const std::vector<std::string>& args, const std::function<void()>& prepare) {
    std::vector<std::string> words = {MVX_CLI, "--port", "sim", "--sim-virtual-time"};
    words.insert(words.end(), args.begin(), args.end());
    int errPipe[2];
    EXPECT_EQ(::pipe(errPipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        prepare();
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(errPipe[1]);
    Outcome outcome;
    char buffer[4096];
    for (ssize_t n; (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0;) {
        outcome.err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return outcome;
}

void stdoutTo(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

TEST(CliProgramTest, OutputThatIsNotTakenIsStatusOneWithAMessage) {
    const std::string file =
        fs::temp_directory_path() / ("mvx-cli-program-" + std::to_string(::getpid()) + ".out");
    const struct {
        const char* name;
        std::function<void()> prepare;
    } outputs[] = {
        {"/dev/full", [] { stdoutTo("/dev/full"); }},
        {"no stdout", [] { ::close(STDOUT_FILENO); }},
        {"a full disk",
         [&] {
             stdoutTo(file.c_str());
             std::signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec: writes fail with EFBIG
             rlimit limit{};
             ::getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = 64;
             ::setrlimit(RLIMIT_FSIZE, &limit);
         }},
    };
    const std::vector<std::vector<std::string>> commands = {
        {"backup", "--id", "1", "--baud", "1"},
        {"--json", "scan"},
        {"watch", "--id", "1", "--baud", "1", "--duration", "100000"},
        {"watch", "--id", "1", "--baud", "1", "--json"},  // until interrupted: it must stop
    };
    for (const auto& output : outputs) {
        for (const auto& command : commands) {
            SCOPED_TRACE(std::string(output.name) + ": " + ::testing::PrintToString(command));
            const Outcome outcome = runProgram(command, output.prepare);
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(outcome.err,
                      "movantrix-cli: cannot write to standard output; the output is incomplete\n");
        }
    }
    fs::remove(file);
    // The same with room: status 0 and the whole output.
    const Outcome fine =
        runProgram({"backup", "--id", "1", "--baud", "1"}, [&] { stdoutTo(file.c_str()); });
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.err, "");
    std::stringstream text;
    text << std::ifstream(file).rdbuf();
    EXPECT_EQ(text.str().back(), '\n');
    EXPECT_NE(text.str().find("\"registers\""), std::string::npos);
    fs::remove(file);
}

}  // namespace
