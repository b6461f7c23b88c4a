#include "drivers/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <utility>

namespace mvx {

RegularFile RegularFile::open(const std::string& path) {
    RegularFile file;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        file.error_ = errno;
        file.status_ = errno == ENOENT ? Status::Missing : Status::Failed;
        return file;
    }
    if (!S_ISREG(info.st_mode)) {
        file.status_ = Status::NotRegular;
        return file;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        file.error_ = errno;
        file.status_ = errno == ENOENT ? Status::Missing : Status::Failed;
        return file;
    }
    if (::fstat(fd, &info) != 0) {
        file.error_ = errno;
        ::close(fd);
        return file;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        file.status_ = Status::NotRegular;
        return file;
    }
    file.fd_ = fd;
    file.status_ = Status::Opened;
    file.size_ = static_cast<std::uint64_t>(info.st_size);
    return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      status_(std::exchange(other.status_, Status::Failed)),
      error_(other.error_),
      size_(other.size_),
      limit_(other.limit_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        status_ = std::exchange(other.status_, Status::Failed);
        error_ = other.error_;
        size_ = other.size_;
        limit_ = other.limit_;
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string RegularFile::problem() const {
    switch (status_) {
        case Status::Opened:
            return {};
        case Status::Missing:
            return "no such file";
        case Status::NotRegular:
            return "not a regular file";
        case Status::TooLarge:
            return "larger than " + std::to_string(limit_) + " bytes";
        case Status::Failed:
            break;
    }
    return error_ != 0 ? std::strerror(error_) : "cannot be read";
}

bool RegularFile::readExactly(std::uint8_t* buffer, std::size_t count) {
    if (fd_ < 0) {
        return false;
    }
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;  // a read error, or the end before `count` bytes
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool RegularFile::readAll(std::size_t maxBytes, std::string& text) {
    if (!isOpen()) {
        return false;
    }
    limit_ = maxBytes;
    if (size_ > maxBytes) {
        status_ = Status::TooLarge;
        return false;
    }
    // One byte beyond the limit tells a file that grew past it since it was measured.
    std::string bytes;
    char buffer[65536];
    while (true) {
        const std::size_t room = maxBytes + 1 - bytes.size();
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, room));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error_ = errno;
            status_ = Status::Failed;
            return false;
        }
        if (n == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maxBytes) {
            status_ = Status::TooLarge;
            return false;
        }
    }
    text = std::move(bytes);
    return true;
}

namespace {

// The file that writing `path` replaces: `path` itself, or the regular file a symbolic link
// there leads to. `exists` tells whether there is one, `mode` its permissions then.
bool resolveWriteTarget(const std::string& path, std::string& target, bool& exists, mode_t& mode,
                        std::string& error) {
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0) {
        if (errno != ENOENT) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        // Nothing there yet (or no such folder, which creating the file will tell).
        target = path;
        exists = false;
        return true;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error =
            path + ": " +
            (errno == ENOENT ? std::string("a symbolic link to nothing") : std::strerror(errno));
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    target = path;
    if (S_ISLNK(entry.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        target = real;
        std::free(real);
    }
    exists = true;
    mode = info.st_mode & 07777;
    return true;
}

}  // namespace

bool checkWriteTarget(const std::string& path, std::string& error) {
    std::string target;
    bool exists = false;
    mode_t mode = 0;
    return resolveWriteTarget(path, target, exists, mode, error);
}

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    std::string target;
    bool exists = false;
    mode_t mode = 0;
    if (!resolveWriteTarget(path, target, exists, mode, error)) {
        return false;
    }
    const auto slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        std::ostringstream name;
        name << dir << '.' << base << '.' << std::hex << random() << ".tmp";
        temp = name.str();
        // 0666 less the umask, as for any new file; O_EXCL never follows a link put there.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    // The first failure is the one told.
    int failure = 0;
    std::size_t done = 0;
    while (failure == 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failure = n < 0 ? errno : EIO;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    // A file replaced keeps its permissions: a private file stays private.
    if (failure == 0 && exists && ::fchmod(fd, mode) != 0) {
        failure = errno;
    }
    if (failure == 0 && ::fsync(fd) != 0) {
        failure = errno;
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        error = path + ": " + std::strerror(failure);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace mvx
