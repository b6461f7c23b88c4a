// What keeps the download from hanging on an adapter that has stopped taking bytes.
#include <gtest/gtest.h>

#include <functional>

#include "FirmwareDownloadFixture.h"

namespace mvx::test {
namespace {

// The adapter freezes (its port takes no bytes) just before one of the loader's writes: that
// write is given up at its deadline (wire time + 1000 ms) and the run ends at once with 101, as
// for a lost adapter; the device not yet tried is not reached.
TEST_F(FirmwareDownloadTest, FrozenAdapterEndsTheRunAtTheLoaderWritesDeadline) {
    struct Row {
        const char* step;
        std::function<bool()> when;  // asked before each write
        UpdateResult first;
    };
    const std::vector<Row> rows = {
        {"image block", [&] { return loaderBytes().size() == 2; }, UpdateFailed},
        {"opening byte", [&] { return loaderBytes().size() == 1; }, UpdateFailed},
        {"closing byte", [&] { return loaderBytes().size() == 3; }, UpdateSucceeded},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.step);
        driver.hook = nullptr;
        startWith({simSpec(1, 1, 12, 3), simSpec(1, 2, 12, 3)});
        setImage(12, 4, Bytes(100, 0x22));  // one block
        updateAll();
        std::int64_t frozenAtUs = -1;
        driver.hook = [&](const std::string& call) {
            if (frozenAtUs < 0 && call == "write" && row.when()) {
                frozenAtUs = clock.nowUs();
                sim->setAdapterFrozen(true);
            }
            return FT_OK;
        };

        EXPECT_EQ(DownloadAll(*registry), 101);
        ASSERT_GE(frozenAtUs, 0);
        EXPECT_LE(clock.nowUs() - frozenAtUs, 1042000) << "one deadline, no more";
        EXPECT_EQ(registry->updates.resultFlags[0], row.first);
        EXPECT_EQ(registry->updates.resultFlags[1], UpdateNotReached);
        EXPECT_EQ(DownloadProgress(*registry), 100);
        registry.reset();
    }
}

}  // namespace
}  // namespace mvx::test
