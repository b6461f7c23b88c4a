#include "device/CsvField.h"

namespace mvx {

std::string csvField(const std::string& text) {
    std::string quoted = "\"";
    quoted.reserve(text.size() + 2);
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

}  // namespace mvx
