// The files the user names, read and written the one careful way: how the settings files, the
// bus descriptions and the firmware files are read, and how backups, CSV files and traffic
// records are written.
//
// Opening never blocks and never opens what is not a regular file. The path is looked at
// first, so a FIFO, a device or a directory is not opened at all (opening a FIFO waits for a
// writer, opening a tty may reset what is behind it); then it is opened non-blocking and the
// descriptor is looked at again, so a FIFO put in the file's place meanwhile does not stall
// the caller either. Reading a whole file never reads more than its reader's limit.
//
// Writing replaces a regular file (or makes a new one) only once the new content is complete
// and on the disk; a device node, a FIFO or a directory in its place is refused, never
// written into or replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mvx {

class RegularFile {
public:
    enum class Status {
        Opened,
        Missing,     // nothing at the path
        NotRegular,  // a directory, FIFO, socket or device
        TooLarge,    // larger than the reader's limit (readAll)
        Failed,      // there, but it cannot be looked at, opened or read (error() tells why)
    };

    static RegularFile open(const std::string& path);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    Status status() const { return status_; }
    bool isOpen() const { return status_ == Status::Opened; }
    // The errno of a failed look, open or read; 0 otherwise.
    int error() const { return error_; }
    // The file's size when it was opened.
    std::uint64_t size() const { return size_; }
    // What keeps the file from being read, in a few words: "no such file", "not a regular
    // file", "larger than N bytes" or the system's words for error(); empty when open.
    std::string problem() const;
    // Reads exactly `count` bytes from the current position: false on an error or when the
    // file ends first.
    bool readExactly(std::uint8_t* buffer, std::size_t count);
    // Reads the rest of the file into `text`, never more than `maxBytes`: false with status()
    // TooLarge when the file is larger (when opened, or by the time it is read), Failed when
    // a read fails. A file larger than the limit is refused unread.
    bool readAll(std::size_t maxBytes, std::string& text);

private:
    RegularFile() = default;

    int fd_ = -1;
    Status status_ = Status::Failed;
    int error_ = 0;
    std::uint64_t size_ = 0;
    std::size_t limit_ = 0;  // the limit readAll refused the file by
};

// Whether `path` may be written by writeFileAtomically: nothing there yet, a regular file, or
// a symbolic link to a regular file. False with `error` "PATH: not a regular file" (or
// another reason) otherwise.
bool checkWriteTarget(const std::string& path, std::string& error);

// Writes `bytes` to a temporary file beside the target, checks every write, flushes it to the
// disk and renames it over the target: a failed write leaves no partial file and the target
// as it was. The target is `path`, or the regular file a symbolic link at `path` leads to (the
// link stays and leads to the new content); a file replaced keeps its permissions. Anything
// but a regular file at `path` is refused (checkWriteTarget). False with `error`
// "PATH: reason".
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace mvx
