// A regular file opened for reading, and nothing else: how the wizard and movantrix-cli flash
// open the firmware file they are given.
//
// Opening never blocks and never opens what is not a regular file. The path is looked at
// first, so a FIFO, a device or a directory is not opened at all (opening a FIFO waits for a
// writer, opening a tty may reset what is behind it); then it is opened non-blocking and the
// descriptor is looked at again, so a FIFO put in the file's place meanwhile does not stall
// the caller either.
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
        Failed,      // there, but it cannot be looked at or opened (error() tells why)
    };

    static RegularFile open(const std::string& path);

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    Status status() const { return status_; }
    bool isOpen() const { return status_ == Status::Opened; }
    // The errno of a failed look or open; 0 otherwise.
    int error() const { return error_; }
    // The file's size when it was opened.
    std::uint64_t size() const { return size_; }
    // Reads exactly `count` bytes from the current position: false on an error or when the
    // file ends first.
    bool readExactly(std::uint8_t* buffer, std::size_t count);

private:
    RegularFile() = default;

    int fd_ = -1;
    Status status_ = Status::Failed;
    int error_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace mvx
