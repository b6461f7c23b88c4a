// A text field of a CSV line as the tables' files write it: always in double quotes, a double
// quote inside doubled, so that commas, quotes and line feeds in a register's text or a
// packet's decoding stay inside their field.
#pragma once

#include <string>

namespace mvx {

// `overload,"x"` -> `"overload,""x"""`
std::string csvField(const std::string& text);

}  // namespace mvx
