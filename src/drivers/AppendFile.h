// A file written as it goes (the bus log): made or emptied once at the start, then text is
// appended. It opens only what writeFileAtomically would write (checkWriteTarget: nothing
// there yet, a regular file, or a link to one), without blocking, and looks at what it opened
// again, so a FIFO or device put in the file's place is refused, never written into.
#pragma once

#include <memory>
#include <string>

namespace mvx {

class AppendFile {
public:
    // The emptied file at `path`, or null with `error` "PATH: reason".
    static std::unique_ptr<AppendFile> create(const std::string& path, std::string& error);
    ~AppendFile();

    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Appends `text`; false once any write has failed (nothing more is written then).
    bool append(const std::string& text);
    // The errno of the first failed write, 0 while all went well.
    int error() const { return error_; }

private:
    explicit AppendFile(int fd) : fd_(fd) {}

    int fd_;
    int error_ = 0;
};

}  // namespace mvx
