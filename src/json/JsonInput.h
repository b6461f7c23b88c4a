// JSON text from outside (a file the user names), parsed under limits that every reader of
// such a file needs: nesting is bounded (deep nesting would exhaust the stack of whatever
// walks the document), a key given twice in one object is refused (the parser would keep the
// last one silently), a number beyond what a double holds is refused with its key, and no
// exception of the parser escapes.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace mvx {

// The deepest nesting of objects and arrays read; the files read need three or four levels.
inline constexpr int kJsonMaxDepth = 64;

struct JsonRefusal {
    enum class Kind {
        Syntax,          // not JSON (invalid UTF-8, NaN spelled out and the like too)
        NumberTooLarge,  // a number no double holds
        TooDeep,         // nested deeper than kJsonMaxDepth
        DuplicateKey,    // a key given twice in one object
    };
    Kind kind = Kind::Syntax;
    // Where: "settings.min-voltage", "devices[1].id"; empty at the top level.
    std::string key;
    // Syntax: the byte the parser stopped at (counted from 1) and its explanation.
    std::size_t byte = 0;
    std::string detail;
    // The reason in words, without the key: "parse error at byte 12", "number 1e400 is out of
    // range", "nested deeper than 64 levels", "duplicate key".
    std::string reason() const;
};

// A value of a file as written, for a message: its JSON text, cut after 40 characters.
std::string shownJson(const nlohmann::ordered_json& value);

// Whether `value` is an integer in [low, high]; then `out` holds it.
bool jsonIntegerIn(const nlohmann::ordered_json& value, long long low, long long high, int& out);

// Parses `text` into `root`; false with `refusal` set (and `root` unspecified).
bool parseJsonInput(const std::string& text, nlohmann::ordered_json& root, JsonRefusal& refusal);

}  // namespace mvx
