// What the real-time benchmark programs share: the monotonic clock, the process's CPU time,
// starting a program with its output on a pipe, waiting for it, and movantrix-bus-sim serving
// a bus on a pty.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

extern char** environ;

namespace mvx::bench {

inline std::int64_t monotonicUs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// CPU time (user + system) of the whole process.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Starts `args` with its standard output on a pipe; the read end comes back in `out`. With
// `quiet` its standard error goes to /dev/null.
inline pid_t spawnWithOutput(const std::vector<std::string>& args, int& out, bool quiet = false) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return -1;
    }
    out = fds[0];
    return pid;
}

// Waits for `pid` to end; its exit status, -1 when it did not exit normally.
inline int waitFor(pid_t pid) {
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

// movantrix-bus-sim (at `program`) serving a bus on a pty until destroyed: the default bus, or
// the one described in `busFile`, with the adapter's receive latency at `latencyMs` when given.
class BusSim {
public:
    explicit BusSim(const std::string& program, const std::string& busFile = "", int latencyMs = -1,
                    int broadcastSpacingUs = -1) {
        std::vector<std::string> args = {program};
        if (!busFile.empty()) {
            args.insert(args.end(), {"--bus", busFile});
        }
        if (latencyMs >= 0) {
            args.insert(args.end(), {"--latency-ms", std::to_string(latencyMs)});
        }
        if (broadcastSpacingUs >= 0) {
            args.insert(args.end(), {"--broadcast-spacing-us", std::to_string(broadcastSpacingUs)});
        }
        pid_ = spawnWithOutput(args, out_, true);  // its "Serving ..." line is not wanted here
        for (char c; pid_ > 0 && ::read(out_, &c, 1) == 1 && c != '\n';) {
            path_ += c;  // the first line of its output is the pty's path
        }
    }
    ~BusSim() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            waitFor(pid_);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }
    BusSim(const BusSim&) = delete;
    BusSim& operator=(const BusSim&) = delete;

    // Empty when the server did not start.
    const std::string& path() const { return path_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};

}  // namespace mvx::bench
