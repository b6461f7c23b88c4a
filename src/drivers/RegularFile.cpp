#include "drivers/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
      size_(other.size_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        status_ = std::exchange(other.status_, Status::Failed);
        error_ = other.error_;
        size_ = other.size_;
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
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

}  // namespace mvx
