#include "json/JsonInput.h"

#include <algorithm>
#include <set>
#include <vector>

namespace mvx {

namespace {

using Json = nlohmann::ordered_json;

// Thrown from the parser's callback to end the parse at the first refusal.
struct Refused {};

// Follows the parse through the parser's callback: where it is (for the refusal's key), how
// deep, and the keys seen in each open object.
class Walk {
public:
    explicit Walk(JsonRefusal& refusal) : refusal_(refusal) {}

    bool operator()(int, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
            case Json::parse_event_t::array_start:
                if (frames_.size() >= static_cast<std::size_t>(kJsonMaxDepth)) {
                    refuse(JsonRefusal::Kind::TooDeep);
                }
                frames_.push_back({event == Json::parse_event_t::array_start, 0, false, {}, {}});
                break;
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                frames_.pop_back();
                elementDone();
                break;
            case Json::parse_event_t::key: {
                Frame& frame = frames_.back();
                frame.key = parsed.get<std::string>();
                frame.keyed = true;
                if (!frame.keys.insert(frame.key).second) {
                    refuse(JsonRefusal::Kind::DuplicateKey);
                }
                break;
            }
            case Json::parse_event_t::value:
                elementDone();
                break;
        }
        return true;
    }

    // Where the parse is: the keys of the open objects, the indexes of the open arrays (no
    // more than the first few levels).
    std::string where() const {
        constexpr std::size_t kShownLevels = 6;
        std::string path;
        for (std::size_t level = 0; level < frames_.size(); ++level) {
            const Frame& frame = frames_[level];
            if (level == kShownLevels) {
                path += "...";
                break;
            }
            if (frame.array) {
                path += "[" + std::to_string(frame.next) + "]";
            } else if (frame.keyed) {
                path += (path.empty() ? "" : ".") + frame.key;
            }
        }
        return path;
    }

private:
    struct Frame {
        bool array = false;
        std::size_t next = 0;  // arrays: the index of the element being read
        bool keyed = false;    // objects: a key has been read
        std::string key;       // objects: the key whose value is being read
        std::set<std::string> keys;
    };

    void elementDone() {
        if (!frames_.empty() && frames_.back().array) {
            ++frames_.back().next;
        }
    }

    [[noreturn]] void refuse(JsonRefusal::Kind kind) {
        refusal_.kind = kind;
        refusal_.key = where();
        throw Refused{};
    }

    JsonRefusal& refusal_;
    std::vector<Frame> frames_;
};

// A number as written, shortened for a message.
std::string shortened(std::string token) {
    constexpr std::size_t kShown = 24;
    if (token.size() > kShown) {
        token = token.substr(0, kShown) + "... (" + std::to_string(token.size()) + " characters)";
    }
    return token;
}

// The token of the parser's "number overflow parsing 'TOKEN'".
std::string overflowToken(const std::string& what) {
    const auto open = what.find('\'');
    const auto close = what.rfind('\'');
    return open != std::string::npos && close > open ? what.substr(open + 1, close - open - 1)
                                                     : std::string();
}

}  // namespace

std::string JsonRefusal::reason() const {
    switch (kind) {
        case Kind::Syntax:
            return "parse error at byte " + std::to_string(byte);
        case Kind::NumberTooLarge:
            return "number " + shortened(detail) + " is out of range";
        case Kind::TooDeep:
            return "nested deeper than " + std::to_string(kJsonMaxDepth) + " levels";
        case Kind::DuplicateKey:
            return "duplicate key";
    }
    return {};
}

bool parseJsonInput(const std::string& text, Json& root, JsonRefusal& refusal) {
    Walk walk(refusal);
    try {
        root = Json::parse(text, std::ref(walk));
        return true;
    } catch (const Refused&) {
        return false;
    } catch (const Json::parse_error& e) {
        refusal = {JsonRefusal::Kind::Syntax, {}, e.byte, e.what()};
    } catch (const Json::out_of_range& e) {
        // The one the parser throws is a number beyond a double's range (406).
        refusal = {JsonRefusal::Kind::NumberTooLarge, walk.where(), 0, overflowToken(e.what())};
    } catch (const std::exception& e) {
        refusal = {JsonRefusal::Kind::Syntax, {}, 0, e.what()};
    } catch (...) {
        refusal = {JsonRefusal::Kind::Syntax, {}, 0, "unreadable"};
    }
    return false;
}

std::string shownJson(const nlohmann::ordered_json& value) {
    constexpr std::size_t kShown = 40;
    std::string text = value.dump();
    if (text.size() > kShown) {
        text = text.substr(0, kShown) + "...";
    }
    return text;
}

bool jsonIntegerIn(const nlohmann::ordered_json& value, long long low, long long high, int& out) {
    if (!value.is_number_integer()) {
        return false;
    }
    const long long v = value.is_number_unsigned()
                            ? static_cast<long long>(std::min<unsigned long long>(
                                  value.get<unsigned long long>(), 1ULL << 62))
                            : value.get<long long>();
    if (v < low || v > high) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

}  // namespace mvx
