#include "drivers/AppendFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "drivers/RegularFile.h"

namespace mvx {

std::unique_ptr<AppendFile> AppendFile::create(const std::string& path, std::string& error) {
    if (!checkWriteTarget(path, error)) {
        return nullptr;
    }
    // Not truncated on opening: only once it is known to be a regular file.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = path + ": not a regular file";
        ::close(fd);
        return nullptr;
    }
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<AppendFile>(new AppendFile(fd));
}

AppendFile::~AppendFile() {
    ::close(fd_);
}

bool AppendFile::append(const std::string& text) {
    std::size_t done = 0;
    while (error_ == 0 && done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    return error_ == 0;
}

}  // namespace mvx
