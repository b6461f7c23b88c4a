// ID and code lists as a user writes them.
#include <gtest/gtest.h>

#include "robot/IdList.h"

namespace mvx {
namespace {

TEST(IdListTest, ListsAndRangesInTheOrderWritten) {
    struct Case {
        const char* text;
        std::vector<int> ids;  // empty: refused
        const char* error;
        const char* back;  // numberListText of the result
    };
    const Case cases[] = {
        {"1-12", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, "", "1-12"},
        {"1,2,5-8", {1, 2, 5, 6, 7, 8}, "", "1, 2, 5-8"},
        {"7,3,253", {7, 3, 253}, "", "7, 3, 253"},
        {"0", {0}, "", "0"},
        {"007", {7}, "", "7"},
        {"", {}, "\"\" is not a list of IDs (0-253)", ""},
        {"1,", {}, "\"1,\" is not a list of IDs (0-253)", ""},
        {"1,,2", {}, "\"\" is not an ID (0-253)", ""},
        {"254", {}, "\"254\" is out of range (0-253)", ""},
        {"250-260", {}, "\"250-260\" is out of range (0-253)", ""},
        {"5-3", {}, "\"5-3\" runs backwards", ""},
        {"1-3,2", {}, "ID 2 is given twice", ""},
        {"-3", {}, "\"-3\" is not an ID (0-253)", ""},
        {"1-2-3", {}, "\"1-2-3\" is not an ID (0-253)", ""},
        {"0x10", {}, "\"0x10\" is not an ID (0-253)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<int> ids;
        std::string error;
        EXPECT_EQ(parseNumberList(c.text, 0, 253, "ID", ids, error), !c.ids.empty());
        if (c.ids.empty()) {
            EXPECT_EQ(error, c.error);
        } else {
            EXPECT_EQ(ids, c.ids);
            EXPECT_EQ(numberListText(ids), c.back);
        }
    }
}

}  // namespace
}  // namespace mvx
