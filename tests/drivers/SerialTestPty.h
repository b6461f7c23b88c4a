// A pseudo-terminal pair for the serial-port tests: the test holds the master side and plays the
// wire; the code under test opens the slave path like any serial port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace mvx::test {

class TestPty {
public:
    TestPty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            char name[128];
            if (::ptsname_r(master_, name, sizeof name) == 0) {
                slavePath_ = name;
            }
        }
    }
    ~TestPty() { closeMaster(); }
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

    void closeMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    bool send(const std::vector<std::uint8_t>& bytes) {
        return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads from the master until `count` bytes came or `timeoutMs` passed.
    std::vector<std::uint8_t> receive(std::size_t count, int timeoutMs = 1000) {
        std::vector<std::uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                break;
            }
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            std::uint8_t buffer[256];
            const std::size_t want = std::min(sizeof buffer, count - out.size());
            const ssize_t n = ::read(master_, buffer, want);
            if (n <= 0) {
                break;
            }
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

}  // namespace mvx::test
