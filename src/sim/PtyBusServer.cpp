#include "sim/PtyBusServer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "drivers/Termios2.h"

namespace mvx {

namespace {

// Longest sleep without looking at the host's rate; replies and timers wake the loop earlier.
constexpr std::int64_t kIdleWaitUs = 100000;

std::string errorText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

void writeTrafficRecord(std::ostream& out, const std::vector<SimTraffic>& traffic,
                        std::int64_t originUs) {
    for (const SimTraffic& entry : traffic) {
        char head[64];
        const std::string who = entry.direction == SimTraffic::HostToBus
                                    ? std::string("host")
                                    : "id " + std::to_string(entry.deviceId);
        std::snprintf(head, sizeof head, "%9lld us  %-6s %8u bps ",
                      static_cast<long long>(entry.startUs - originUs), who.c_str(),
                      static_cast<unsigned>(entry.rateBps));
        out << head;
        for (std::uint8_t byte : entry.bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(byte));
            out << hex;
        }
        if (entry.direction == SimTraffic::BusToHost && !entry.heardByHost) {
            out << "  (not heard)";
        }
        out << '\n';
    }
}

PtyBusServer::PtyBusServer(WireHost& bus) : bus_(bus) {}

PtyBusServer::~PtyBusServer() {
    if (!linkPath_.empty()) {
        // Only our own link: another server may have taken the name over since.
        char target[PATH_MAX];
        const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_) {
            ::unlink(linkPath_.c_str());
        }
    }
    for (int fd : {slave_, master_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool PtyBusServer::start(const std::string& linkPath, std::string* error) {
    std::string dummy;
    std::string& why = error != nullptr ? *error : dummy;
    if (master_ >= 0) {
        why = "already started";
        return false;
    }
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        why = errorText("pipe");
        return false;
    }
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        why = errorText("posix_openpt");
        return false;
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        why = errorText("ptsname");
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) {
        why = errorText(name);
        return false;
    }
    // Until the host configures the port, it must not echo or translate anything.
    if (int e = tty::makeRaw(slave_)) {
        why = std::string("raw mode: ") + std::strerror(e);
        return false;
    }
    sampleRate();
    if (!linkPath.empty()) {
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                why = linkPath + " exists and is not a symbolic link";
                return false;
            }
            ::unlink(linkPath.c_str());
        }
        if (::symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
            why = errorText(linkPath.c_str());
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

void PtyBusServer::requestStop() {
    if (stopPipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &byte, 1);
    }
}

void PtyBusServer::sampleRate() {
    std::uint32_t rate = 0;
    if (tty::getRate(master_, &rate) == 0 && rate != 0 &&
        rate != lastRate_.load(std::memory_order_relaxed)) {
        lastRate_.store(rate, std::memory_order_relaxed);
        bus_.setHostRate(rate);
    }
}

bool PtyBusServer::flushOutbox() {
    std::size_t done = 0;
    while (done < outbox_.size()) {
        const ssize_t n = ::write(master_, outbox_.data() + done, outbox_.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN) {
            return false;
        } else {
            break;  // the host is not reading; keep the rest
        }
    }
    outbox_.erase(outbox_.begin(), outbox_.begin() + static_cast<std::ptrdiff_t>(done));
    return true;
}

bool PtyBusServer::run() {
    if (master_ < 0) {
        return false;
    }
    Clock& clock = bus_.clock();
    std::uint8_t buffer[4096];
    for (;;) {
        // Replies that have reached the host by now go into the pty. The next event is asked
        // for first: it counts only what arrives after the asking, so a byte that arrives
        // between the two calls is taken now instead of being left for the idle wait.
        sampleRate();
        const std::int64_t next = bus_.nextEventUs();
        for (;;) {
            const std::size_t n = bus_.hostRead(buffer, sizeof buffer);
            if (n == 0) {
                break;
            }
            outbox_.insert(outbox_.end(), buffer, buffer + n);
        }
        if (!outbox_.empty() && !flushOutbox()) {
            return false;
        }

        const std::int64_t now = clock.nowUs();
        std::int64_t waitUs =
            next < 0 ? kIdleWaitUs : std::clamp<std::int64_t>(next - now, 0, kIdleWaitUs);
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (outbox_.empty() ? 0 : POLLOUT)), 0},
                         {stopPipe_[0], POLLIN, 0}};
        const timespec wait{static_cast<time_t>(waitUs / 1000000),
                            static_cast<long>(waitUs % 1000000) * 1000};
        const int r = ::ppoll(fds, 2, &wait, nullptr);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[1].revents & POLLIN) {
            return true;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            return false;
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                // The rate in force when the host wrote these bytes.
                sampleRate();
                bus_.hostWrite(buffer, static_cast<std::size_t>(n),
                               lastRate_.load(std::memory_order_relaxed));
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                return false;
            }
        }
    }
}

}  // namespace mvx
