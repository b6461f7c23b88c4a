// How a restore ends: every change it was given is written, the one that failed, or not
// written; after a failed read-back nothing written is checked. The device holds exactly the
// written values when the adapter is lost.
#include "device/SettingsTransfer.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "robot/RestoreWords.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

using SettingsTransferTest = SimRegistryTest;

SettingChange change(const char* name, int now, int wanted) {
    return {findNamedRegister(name), now, wanted, false, {}};
}

TEST_F(SettingsTransferTest, AFailureSplitsTheChangesIntoWrittenFailedAndNotWritten) {
    const struct {
        const char* name;
        int writesThrough;  // Write packets that go out before the adapter is lost
        int result;
        const char* written;
        const char* failedAt;  // "" for none
        const char* notWritten;
        bool readBackFailed;
    } cases[] = {
        {"lost at the first write", 0, AdapterFailure, "none", "max-torque", "punch, return-delay",
         false},
        {"lost at the second write", 1, AdapterFailure, "max-torque", "punch", "return-delay",
         false},
        {"lost at the last write", 2, AdapterFailure, "max-torque, punch", "return-delay", "none",
         false},
        {"lost at the read-back", 3, AdapterFailure, "max-torque, punch, return-delay", "", "none",
         true},
        {"not lost", 99, Success, "max-torque, punch, return-delay", "", "none", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({simSpec(1, 1, 28, 30, 2, {{14, 800}, {48, 100}, {5, 100}})});
        DeviceEntry& entry = registerDevice(1, 1);
        // Given out of order: writeOrder puts them in file order.
        const std::vector<SettingChange> changes = {change("return-delay", 100, 250),
                                                    change("punch", 100, 32),
                                                    change("max-torque", 800, 1023)};
        driver.hook = [this, &c](const std::string& call) {
            return call == "write" &&
                           packets(Write).size() >= static_cast<std::size_t>(c.writesThrough)
                       ? FT_IO_ERROR
                       : FT_OK;
        };
        const RestoreResult r = restoreSettings(*registry, entry, changes);
        driver.hook = nullptr;
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(settingNames(r.written), c.written);
        EXPECT_STREQ(r.failedAt != nullptr ? r.failedAt->name : "", c.failedAt);
        EXPECT_EQ(r.writeFailed(), *c.failedAt != '\0');
        EXPECT_EQ(settingNames(r.notWritten), c.notWritten);
        EXPECT_EQ(r.readBackFailed(), c.readBackFailed);
        EXPECT_TRUE(r.notTaken.empty());
        // The device holds what was written and nothing else.
        const int written = std::min(c.writesThrough, 3);
        EXPECT_EQ(dev(1, 1).reg16(14), written >= 1 ? 1023 : 800);
        EXPECT_EQ(dev(1, 1).reg16(48), written >= 2 ? 32 : 100);
        EXPECT_EQ(dev(1, 1).reg(5), written >= 3 ? 250 : 100);
    }
}

// A restore that would leave CW above CCW, or the low voltage limit above the high one, once
// written (a limit of the pair skipped or not chosen, or both written crossed) is refused with
// the pair and the values the device would hold, and nothing reaches the wire. The device holds
// CW 100, CCW 600, 6.0-14.0 V.
TEST_F(SettingsTransferTest, ARestoreThatWouldCrossAPairOfLimitsIsRefusedBeforeAnyWrite) {
    SettingChange skippedCcw = change("ccw-angle-limit", 600, 4095);
    skippedCcw.skipped = true;
    skippedCcw.skipReason = "above the max position of MQ-35 (1023)";
    const struct {
        const char* name;
        std::vector<SettingChange> changes;
        const char* refusal;  // "" when written
    } cases[] = {
        {"CCW skipped",
         {change("cw-angle-limit", 100, 800), skippedCcw},
         "cw-angle-limit 800 (from the file) would be above ccw-angle-limit 600 (the device's; "
         "the file's 4095 is skipped: above the max position of MQ-35 (1023))"},
        {"CCW not chosen",
         {change("cw-angle-limit", 100, 800), change("punch", 32, 40)},
         "cw-angle-limit 800 (from the file) would be above ccw-angle-limit 600 (the device's)"},
        {"CCW below the CW held",
         {change("ccw-angle-limit", 600, 50)},
         "cw-angle-limit 100 (the device's) would be above ccw-angle-limit 50 (from the file)"},
        {"both written crossed",
         {change("cw-angle-limit", 100, 900), change("ccw-angle-limit", 600, 700)},
         "cw-angle-limit 900 (from the file) would be above ccw-angle-limit 700 (from the file)"},
        {"low voltage above the high held",
         {change("min-voltage", 60, 150)},
         "min-voltage 15.0 (from the file) would be above max-voltage 14.0 (the device's)"},
        {"both limits moved up",
         {change("cw-angle-limit", 100, 800), change("ccw-angle-limit", 600, 900)},
         ""},
        {"only the skipped one", {change("max-torque", 1023, 800), skippedCcw}, ""},
        {"equal limits", {change("cw-angle-limit", 100, 600)}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({simSpec(1, 1, 28, 30, 2, {{6, 100}, {8, 600}, {12, 60}, {13, 140}})});
        DeviceEntry& entry = registerDevice(1, 1);
        DeviceSettings now;
        ASSERT_EQ(readDeviceSettings(entry, {}, now), Success);
        EXPECT_EQ(crossedLimits(entry, c.changes), c.refusal);
        const RestoreResult r = restoreSettings(*registry, entry, c.changes);
        EXPECT_EQ(r.refusal, c.refusal);
        if (*c.refusal == '\0') {
            EXPECT_EQ(r.result, Success);
            EXPECT_FALSE(packets(Write).empty());
            continue;
        }
        EXPECT_EQ(r.result, Busy);
        EXPECT_TRUE(r.refused());
        EXPECT_FALSE(r.writeFailed());
        EXPECT_FALSE(r.readBackFailed());
        EXPECT_TRUE(r.written.empty());
        EXPECT_EQ(r.notWritten.size(), writeOrder(c.changes).size());
        EXPECT_EQ(restoreFailureWords(r), std::string("refused, nothing written: ") + c.refusal);
        EXPECT_TRUE(packets(Write).empty());
        EXPECT_EQ(dev(1, 1).reg16(6), 100);
        EXPECT_EQ(dev(1, 1).reg16(8), 600);
        EXPECT_EQ(dev(1, 1).reg(12), 60);
    }
}

}  // namespace
}  // namespace mvx::test
