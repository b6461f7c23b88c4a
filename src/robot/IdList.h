// Lists of IDs and baud-rate codes as a user writes them: "1-12", "1,2,5-8".
#pragma once

#include <string>
#include <vector>

namespace mvx {

// A number as a user writes it: decimal digits only (no sign, "0x", exponent or point), at
// most nine once the leading zeros are gone (leading zeros are not octal here). False for
// anything else.
bool parseDecimal(const std::string& text, int& value);

// Parses a comma-separated list of numbers and ranges ("1-12", "1,2,5-8") within
// [low, high], in the order written. False with `error` when an item is not a decimal number
// or range in bounds, a range runs backwards, a number comes twice or the list is empty.
// `what` names a number in the error ("ID", "baud-rate code").
bool parseNumberList(const std::string& text, int low, int high, const char* what,
                     std::vector<int>& out, std::string& error);

// The list written back with runs as ranges: {1, 2, 3, 5} -> "1-3, 5".
std::string numberListText(const std::vector<int>& numbers);

}  // namespace mvx
