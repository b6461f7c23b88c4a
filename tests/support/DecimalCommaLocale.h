// Switches the C library's numbers (LC_NUMERIC) to a locale that writes a decimal comma, as
// the desktop program's do when its environment asks for one, and back to "C" at the end.
// scripts/setup.sh generates de_DE.UTF-8; a machine without any such locale makes active()
// false, and the test says so and skips.
#pragma once

#include <clocale>
#include <cstring>
#include <string>

namespace mvx::test {

class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "nl_NL.UTF-8",
                                 "it_IT.UTF-8", "es_ES.UTF-8", "ru_RU.UTF-8", "pt_BR.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) != nullptr &&
                std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
                name_ = name;
                return;
            }
        }
        std::setlocale(LC_NUMERIC, "C");
    }
    ~DecimalCommaLocale() { std::setlocale(LC_NUMERIC, "C"); }
    DecimalCommaLocale(const DecimalCommaLocale&) = delete;
    DecimalCommaLocale& operator=(const DecimalCommaLocale&) = delete;

    bool active() const { return !name_.empty(); }
    const std::string& name() const { return name_; }
    static constexpr const char* kMissing =
        "no locale with a decimal comma on this machine (scripts/setup.sh generates de_DE.UTF-8)";

private:
    std::string name_;
};

}  // namespace mvx::test
