// Whole numbers on the command line: decimal, as `set` reads them, in every option and every
// program. A parser left alone takes "010" for octal 8 and "0x10" for hex, and tells a range
// in its own words; here "010" is 10, and anything but digits (with a sign) is refused.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "robot/IdList.h"

namespace mvx::cli {

enum class DecimalRead { Number, NotANumber, OutOfRange };

// Reads `text` (digits with an optional sign) as a number within [low, high]; `value` is set
// for a Number only.
inline DecimalRead readDecimal(const std::string& text, int low, int high, int& value) {
    const bool hasSign = !text.empty() && (text[0] == '-' || text[0] == '+');
    const std::string digits = text.substr(hasSign ? 1 : 0);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        return DecimalRead::NotANumber;
    }
    int magnitude = 0;
    const bool fits = parseDecimal(digits, magnitude);  // false: more than nine digits
    const int number = text[0] == '-' ? -magnitude : magnitude;
    if (!fits || number < low || number > high) {
        return DecimalRead::OutOfRange;
    }
    value = number;
    return DecimalRead::Number;
}

// The words every number option refuses with: "\"0x10\" is not a number", "300 is out of
// range (0-253)"; empty with `value` set.
inline std::string decimalRefusal(const std::string& text, int low, int high, int& value) {
    switch (readDecimal(text, low, high, value)) {
        case DecimalRead::NotANumber:
            return "\"" + text + "\" is not a number";
        case DecimalRead::OutOfRange:
            return text + " is out of range (" + std::to_string(low) + "-" + std::to_string(high) +
                   ")";
        case DecimalRead::Number:
            break;
    }
    return {};
}

// The check of a number option within [low, high]: refuses with decimalRefusal's words, and
// hands the parser the plain number ("010" as "10").
inline CLI::Validator decimalIn(int low, int high) {
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            int value = 0;
            std::string refusal = decimalRefusal(text, low, high, value);
            if (refusal.empty()) {
                text = std::to_string(value);
            }
            return refusal;
        },
        std::to_string(low) + "-" + std::to_string(high), "DECIMAL");
}

}  // namespace mvx::cli
