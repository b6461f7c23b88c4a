// The exceptions of the library. Every failure of the bus or of a device is a BusError that
// carries the core's result code and its words; a bad argument is a std::invalid_argument with
// the command line's message, before anything goes on the wire.
#pragma once

#include <stdexcept>
#include <string>

#include "movantrix/export.h"

namespace movantrix {

// Result codes (BusError::resultCode()).
inline constexpr int kSuccess = 100;
inline constexpr int kAdapterFailure = 101;   // a driver call failed, or no adapter is open
inline constexpr int kWriteIncomplete = 102;  // fewer bytes written than asked
inline constexpr int kTimeout = 103;          // no or too little reply
inline constexpr int kCorruptReply = 104;     // broken bytes, a wrong checksum
inline constexpr int kBusy = 105;             // refused: something is in progress or in the way

// A bus operation failed. what() is the whole message ("code 1 ID 3: no reply"), words() the
// core's words for the result code ("no reply").
class MOVANTRIX_API BusError : public std::runtime_error {
public:
    BusError(int resultCode, const std::string& message, std::string words);
    int resultCode() const noexcept { return resultCode_; }
    const std::string& words() const noexcept { return words_; }

private:
    int resultCode_;
    std::string words_;
};

// A device did not answer (or not in full) within its reply window (103).
class MOVANTRIX_API Timeout : public BusError {
public:
    using BusError::BusError;
};

// Nothing answers at the address asked for (103): Bus::device(), Device::ping().
class MOVANTRIX_API NoAnswer : public Timeout {
public:
    using Timeout::Timeout;
};

// The adapter failed or is gone (101); the Bus must be opened again.
class MOVANTRIX_API AdapterLost : public BusError {
public:
    using BusError::BusError;
};

// The setter refused the value for this device before writing anything (a position above the
// model's max position, another device at the address an ID change passes through, a device
// without servo registers), or the device refused a raw write (105).
class MOVANTRIX_API Refused : public BusError {
public:
    using BusError::BusError;
};

}  // namespace movantrix
