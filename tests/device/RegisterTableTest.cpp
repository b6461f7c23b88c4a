// The value of a register in its unit alone, as the Control Table page shows it beside the raw
// number, for every unit the register table knows.
#include "device/RegisterTable.h"

#include <gtest/gtest.h>

namespace mvx {
namespace {

TEST(RegisterTableTest, ValueInItsUnitAlone) {
    const struct {
        int address;
        int raw;
        int model;
        const char* text;  // as `regs` prints it
        const char* value;
    } cases[] = {
        {0, 28, 28, "28 (MQ-35)", "MQ-35"},
        {2, 30, 28, "30", "30"},
        {4, 1, 28, "1 (1000000 bps)", "1000000 bps"},
        {5, 250, 28, "250 (500 us)", "500 us"},
        {30, 512, 28, "512 steps (150.0\u00B0)", "150.0\u00B0"},
        {30, 2048, 106, "2048 steps (150.0\u00B0)", "150.0\u00B0"},
        {32, 1324, 28, "-300 (raw 1324)", "-300"},
        {38, 300, 28, "300", "300"},
        {12, 60, 28, "6.0 V", "6.0 V"},
        {11, 80, 28, "80 \u00B0C", "80 \u00B0C"},
        {17, 36, 28, "overload,overheating", "overload, overheating"},
        {17, 0, 28, "none", "none"},
        {24, 1, 28, "on", "on"},
        {24, 2, 28, "off (2)", "off (2)"},
    };
    for (const auto& c : cases) {
        const RegisterItem* item = registerItemAt(c.address);
        ASSERT_NE(item, nullptr) << c.address;
        const RegisterRow row = registerRow(*item, c.raw, c.model);
        EXPECT_EQ(row.text, c.text) << c.address;
        EXPECT_EQ(valueInUnit(row), c.value) << c.address;
    }
}

}  // namespace
}  // namespace mvx
