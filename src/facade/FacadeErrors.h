// Turning the core's result codes into the library's exceptions.
#pragma once

#include <string>

#include "movantrix/errors.h"

namespace movantrix::detail {

// "no reply (timeout) (103)": the core's words for a result code.
std::string resultWords(int result);

// Throws the exception for `result` (AdapterLost for 101, Timeout for 103, BusError otherwise)
// with the message "<where>: <words>". Nothing for 100.
void check(int result, const std::string& where);
[[noreturn]] void fail(int result, const std::string& where);
// A refusal by a setter or the device, in its own words.
[[noreturn]] void refuse(const std::string& where, const std::string& refusal);

// "code 1 ID 3".
std::string whereText(int code, int id);

}  // namespace movantrix::detail
