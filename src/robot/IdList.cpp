#include "robot/IdList.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace mvx {

bool parseDecimal(const std::string& text, int& value) {
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return false;
    }
    const std::size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
    if (text.size() - first > 9) {
        return false;
    }
    value = std::stoi(text.substr(first));
    return true;
}

bool parseNumberList(const std::string& text, int low, int high, const char* what,
                     std::vector<int>& out, std::string& error) {
    out.clear();
    const std::string bounds = " (" + std::to_string(low) + "-" + std::to_string(high) + ")";
    if (text.empty() || text.back() == ',') {
        error = "\"" + text + "\" is not a list of " + what + "s" + bounds;
        return false;
    }
    const std::string article = std::string("AEIOUaeiou").find(what[0]) != std::string::npos
                                    ? std::string("an ")
                                    : std::string("a ");
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        const auto dash = item.find('-');
        int first = 0;
        int last = 0;
        const bool range = dash != std::string::npos;
        if (!(range ? parseDecimal(item.substr(0, dash), first) &&
                          parseDecimal(item.substr(dash + 1), last)
                    : parseDecimal(item, first))) {
            error = "\"" + item + "\" is not " + article + what + bounds;
            return false;
        }
        if (!range) {
            last = first;
        }
        if (first < low || first > high || last < low || last > high) {
            error = "\"" + item + "\" is out of range" + bounds;
            return false;
        }
        if (last < first) {
            error = "\"" + item + "\" runs backwards";
            return false;
        }
        for (int n = first; n <= last; ++n) {
            if (std::find(out.begin(), out.end(), n) != out.end()) {
                error = std::string(what) + " " + std::to_string(n) + " is given twice";
                return false;
            }
            out.push_back(n);
        }
    }
    return true;
}

std::string numberListText(const std::vector<int>& numbers) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size();) {
        std::size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) {
            ++j;
        }
        text += (text.empty() ? "" : ", ") + std::to_string(numbers[i]);
        if (j > i) {
            text += (j == i + 1 ? ", " : "-") + std::to_string(numbers[j]);
        }
        i = j + 1;
    }
    return text;
}

}  // namespace mvx
