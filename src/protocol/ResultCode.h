// Result codes returned by every bus function, as plain integers.
#pragma once

namespace mvx {

enum ResultCode : int {
    Success = 100,          // the operation completed
    AdapterFailure = 101,   // a driver call failed, or no adapter is open
    WriteIncomplete = 102,  // fewer bytes written than asked
    Timeout = 103,          // no or too little reply; a keyed write's read-back did not match
    CorruptReply = 104,     // bad header bytes, a partial header or body, or a wrong checksum
    Busy = 105,             // refused because something is in progress
};

// Words for a result code, for messages and logs ("adapter access failed").
const char* resultText(int result);

}  // namespace mvx
