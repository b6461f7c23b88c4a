// How a restore ends: every change it was given is written, the one that failed, or not
// written; after a failed read-back nothing written is checked. The device holds exactly the
// written values when the adapter is lost.
#include "device/SettingsTransfer.h"

#include <algorithm>

#include "device/DeviceEntry.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
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

}  // namespace
}  // namespace mvx::test
