#include "device/CsvField.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(CsvFieldTest, QuotesEveryFieldAndDoublesItsQuotes) {
    const struct {
        const char* text;
        const char* field;
    } cases[] = {
        {"", "\"\""},
        {"12.0 V", "\"12.0 V\""},
        {"overload,overheating", "\"overload,overheating\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"150.0\xC2\xB0", "\"150.0\xC2\xB0\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(csvField(c.text), c.field) << c.text;
    }
}

}  // namespace
}  // namespace mvx
