// The searches through the library: the devices found, whether the result is sure, the codes
// a quick look leaves unsure, progress on the calling thread, and a stop.
#include <thread>

#include "FacadeFixture.h"

namespace movantrix::test {
namespace {

class FacadeSearchTest : public FacadeTest {};

std::vector<std::pair<int, int>> addresses(const ScanResult& found) {
    std::vector<std::pair<int, int>> out;
    for (const Device& d : found) {
        out.emplace_back(d.code(), d.id());
    }
    return out;
}

const std::vector<std::pair<int, int>> kDefaultBus = {{1, 1}, {1, 2},  {1, 3},    {1, 4},
                                                      {1, 9}, {34, 7}, {34, 100}, {207, 21}};

TEST_F(FacadeSearchTest, EverySearchFindsTheSameDevicesAndSaysWhetherItIsSure) {
    struct Case {
        const char* name;
        ScanOptions options;
        std::vector<std::pair<int, int>> devices;
        bool sure;
        std::vector<int> unsure;
    };
    const std::vector<Case> cases = {
        {"fast (the default)", {}, kDefaultBus, true, {}},
        {"standard", {.fast = false}, kDefaultBus, true, {}},
        {"fast, quick look", {.quickLook = true}, kDefaultBus, false, {3, 4, 7, 9, 16, 103}},
        {"codes 34 and 5", {.codes = {34, 5}}, {{34, 7}, {34, 100}}, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startDefault();
        const ScanResult found = bus->scan(c.options);
        EXPECT_EQ(addresses(found), c.devices);
        EXPECT_EQ(found.sure, c.sure);
        EXPECT_EQ(found.unsureCodes, c.unsure);
        EXPECT_FALSE(found.stopped);
    }
}

TEST_F(FacadeSearchTest, TheDevicesFoundCarryTheirIdentity) {
    startDefault();
    const ScanResult found = bus->scan();
    ASSERT_EQ(found.size(), 8u);
    const Device& pw = found[2];
    EXPECT_EQ(pw.model(), 106);
    EXPECT_EQ(pw.modelName(), "PW-900");
    EXPECT_EQ(pw.firmware(), 38);
    EXPECT_EQ(pw.returnLevel(), 2);
    EXPECT_TRUE(pw.isActuator());
    EXPECT_FALSE(found[6].isActuator()) << "LT-P1, a sensor";
    EXPECT_EQ(found[5].returnLevel(), 1);
}

TEST_F(FacadeSearchTest, ArgumentsAreCheckedBeforeTheBusIsTouched) {
    struct Case {
        ScanOptions options;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{.fast = false, .quickLook = true}, "quickLook goes with the fast search (fast = true)"},
        {{.codes = {1, 300}}, "codes: \"300\" is out of range (0-255)"},
        {{.codes = {1, 1}}, "codes: baud-rate code 1 is given twice"},
        {{.full = true, .codes = {1}}, "codes and full exclude each other"},
    };
    startDefault();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            bus->scan(c.options);
            ADD_FAILURE() << "not refused";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_TRUE(sim->traffic().empty());
}

TEST_F(FacadeSearchTest, ProgressComesOnTheCallingThreadAndAStopEndsTheSearchUnsure) {
    for (const bool fast : {true, false}) {
        SCOPED_TRACE(fast ? "fast" : "standard");
        startDefault();
        const std::thread::id caller = std::this_thread::get_id();
        std::vector<int> percents;
        bool elsewhere = false;
        ScanOptions options{.full = true, .fast = fast};
        options.progress = [&](int percent, int, int) {
            elsewhere = elsewhere || std::this_thread::get_id() != caller;
            percents.push_back(percent);
        };
        // Stopped at the 20th change of the rate: some way into the 255 codes.
        std::stop_source source;
        options.stop.token = source.get_token();
        int rateChanges = 0;
        driver.hook = [&](const std::string& call) {
            if (call == "setBaudRate" && ++rateChanges == 20) {
                source.request_stop();
            }
            return mvx::FT_OK;
        };
        const ScanResult found = bus->scan(options);
        driver.hook = nullptr;
        EXPECT_FALSE(elsewhere);
        EXPECT_TRUE(found.stopped);
        EXPECT_FALSE(found.sure);
        EXPECT_FALSE(percents.empty());
        EXPECT_LT(rateChanges, 40) << "it ended soon after the stop";
        // The bus is free for the next call.
        EXPECT_EQ(bus->device(207, 21).model(), 113);
    }
}

TEST_F(FacadeSearchTest, ACallbackThatUsesTheBusIsRefusedInsteadOfWaitingForEver) {
    startDefault();
    ScanOptions options;
    options.progress = [this](int, int, int) { bus->device(1, 1); };
    EXPECT_THROW(bus->scan(options), std::logic_error);
    // The search ended, and the bus is free again.
    EXPECT_EQ(bus->device(1, 1).model(), 28);
}

TEST_F(FacadeSearchTest, AStopRequestedBeforeTheSearchEndsItAtOnce) {
    startDefault();
    std::stop_source source;
    source.request_stop();
    ScanOptions options;
    options.stop.token = source.get_token();
    const ScanResult found = bus->scan(options);
    EXPECT_TRUE(found.stopped);
    EXPECT_FALSE(found.sure);
}

}  // namespace
}  // namespace movantrix::test
