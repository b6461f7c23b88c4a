// The sure fast search and its quick look on buses whose devices space their broadcast answers
// out by ID (0.3 ms a unit), where a short wait passes devices by; the observer's reports; a
// stop; and the survey's wait for a quiet line on a line that never goes quiet.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "device/DeviceRegistry.h"
#include "link/AdapterLink.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "search/ReplyListener.h"
#include "search/SearchEngine.h"
#include "support/SimRegistry.h"
#include "support/TalkOver.h"

namespace mvx::test {
namespace {

using Addresses = std::vector<std::pair<int, int>>;

class Recorder final : public SearchObserver {
public:
    void deviceFound(const DeviceSummary& device) override {
        found.emplace_back(device.baudCode, device.id);
    }
    void makingSure(int code, int ordinal, int total) override {
        sure.emplace_back(code, ordinal, total);
    }
    Addresses found;
    std::vector<std::tuple<int, int, int>> sure;
};

class SureSearchTest : public SimRegistryTest {
protected:
    int run(SearchMode mode, bool quickLook) {
        SearchEngine engine(*registry);
        const int result = engine.fastSearch(mode, {.quickLook = quickLook, .observer = &seen});
        sure = engine.lastSearchSure();
        unsure = engine.unsureCodes();
        return result;
    }
    Addresses listed() const {
        Addresses out;
        for (const DeviceSummary& d : registry->snapshot()) {
            out.emplace_back(d.baudCode, d.id);
        }
        return out;
    }

    Recorder seen;
    bool sure = false;
    std::vector<int> unsure;
};

std::vector<int> quickCodesBut(std::vector<int> heard) {
    std::vector<int> codes(kQuickSearchCodes.begin(), kQuickSearchCodes.end());
    std::erase_if(
        codes, [&heard](int c) { return std::find(heard.begin(), heard.end(), c) != heard.end(); });
    std::sort(codes.begin(), codes.end());
    return codes;
}

// The buses where the short wait missed devices without a word: the sure search finds them
// all and is sure; the quick look finds what answered within its wait and names the codes it
// passed as silent without making sure of them. Neither talks over an answer; the sure search
// sends nothing within 500 ms of a broadcast.
TEST_F(SureSearchTest, SpacedBusesAreFoundAndSure) {
    struct Case {
        const char* name;
        std::vector<SimDeviceSpec> devices;
        Addresses quickFound;      // what the quick look finds
        std::vector<int> heardAt;  // codes whose broadcast the quick look heard
    };
    const Case cases[] = {
        {"ID 1 at code 1, ID 200 alone at code 3",
         {simSpec(1, 1, 28), simSpec(3, 200, 12)},
         {{1, 1}},
         {1}},
        {"IDs 1-4 at code 1, ID 20 at code 3",
         {simSpec(1, 1, 28), simSpec(1, 2, 12), simSpec(1, 3, 28), simSpec(1, 4, 12),
          simSpec(3, 20, 28)},
         {{1, 1}, {1, 2}, {1, 3}, {1, 4}},
         {1}},
        {"IDs 10-12 at code 1",
         {simSpec(1, 10, 28), simSpec(1, 11, 12), simSpec(1, 12, 28)},
         {},
         {}},
    };
    for (const Case& c : cases) {
        for (const bool quickLook : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (quickLook ? ", quick look" : ", sure"));
            BusDescription description;
            description.devices = c.devices;
            description.broadcastSpacingUs = 300;
            startBus(description);
            seen = {};
            ASSERT_EQ(run(QuickSearch, quickLook), Success);
            const std::vector<SimTraffic> traffic = sim->traffic();
            if (quickLook) {
                EXPECT_EQ(listed(), c.quickFound);
                EXPECT_FALSE(sure);
                EXPECT_EQ(unsure, quickCodesBut(c.heardAt));
                EXPECT_TRUE(seen.sure.empty());
            } else {
                Addresses all;
                for (const SimDeviceSpec& d : c.devices) {
                    all.emplace_back(d.code, d.id);
                }
                EXPECT_EQ(listed(), all);
                EXPECT_EQ(seen.found, all);  // each as it was found, in list order here
                EXPECT_TRUE(sure);
                EXPECT_EQ(unsure, std::vector<int>{});
                EXPECT_EQ(broadcastWaitViolations(traffic), std::vector<std::string>{});
                // Making sure of each code whose broadcast was silent in the short wait.
                ASSERT_FALSE(seen.sure.empty());
                for (const auto& [code, ordinal, total] : seen.sure) {
                    EXPECT_EQ(total, 9);
                    EXPECT_EQ(kQuickSearchCodes[static_cast<std::size_t>(ordinal - 1)], code);
                }
                EXPECT_EQ(talkOverViolations(traffic), std::vector<std::string>{});
            }
        }
    }
}

// A device whose reads go wrong after it answered its ping: the line is heard out before the
// next packet (the rest of a broken answer may still be coming), the device is read again, and
// one that cannot be read leaves its code unsure instead of missing from a sure list.
TEST_F(SureSearchTest, AProbeThatGoesWrongIsRetriedOnAQuietLine) {
    struct Case {
        const char* name;
        SimFaults faults;  // of ID 2 at code 1
        bool listed;       // ID 2 in the list
        bool sure;
    };
    const auto faults = [](int corruptReads, int noiseBytes, int answerReads) {
        SimFaults f;
        f.corruptReads = corruptReads;
        f.noiseBytes = noiseBytes;
        f.answerReads = answerReads;
        return f;
    };
    const Case cases[] = {
        {"first read reply corrupt", faults(1, 0, -1), true, true},
        {"two read replies corrupt", faults(2, 0, -1), true, true},
        {"noise before every reply", faults(0, 3, -1), false, false},
        {"every read reply corrupt", faults(100, 0, -1), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusDescription description;
        description.devices = {simSpec(1, 1, 28), simSpec(1, 2, 12), simSpec(1, 3, 28)};
        description.broadcastSpacingUs = 300;
        startBus(description);
        sim->find(1, 2)->setFaults(c.faults);
        ASSERT_EQ(run(QuickSearch, false), Success);
        const Addresses expected =
            c.listed ? Addresses{{1, 1}, {1, 2}, {1, 3}} : Addresses{{1, 1}, {1, 3}};
        EXPECT_EQ(listed(), expected);
        EXPECT_EQ(sure, c.sure);
        EXPECT_EQ(unsure, c.sure ? std::vector<int>{} : std::vector<int>{1});
        EXPECT_EQ(talkOverViolations(sim->traffic()), std::vector<std::string>{});
    }
}

// Walk replies that go wrong: a reply cut off (whose length byte then came from the noise
// before the next reply) hides none of the answers after it; a device whose walk reply was lost
// or cut off is read all the same, since its broadcast answer came. The list is whole and sure.
TEST_F(SureSearchTest, WalkRepliesLostOrSpoiltMissNoDevice) {
    struct Case {
        const char* name;
        int faulty;        // the ID whose walk reply goes wrong (the others' are clean)
        SimFaults faults;  // of its walk reply
    };
    SimFaults cut;
    cut.truncateReply = true;
    SimFaults lost;
    lost.dropReply = true;
    const Case cases[] = {
        {"ID 174's reply cut off, noise before ID 176's", 174, cut},
        {"ID 201's reply lost", 201, lost},
        {"ID 236's reply lost", 236, lost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BusDescription description;
        description.devices = {simSpec(1, 4, 28), simSpec(1, 174, 12), simSpec(1, 176, 28),
                               simSpec(1, 201, 12), simSpec(1, 236, 28)};
        description.broadcastSpacingUs = 376;
        startBus(description);
        // The faults from the broadcast's end to the walk's ping after the faulty one's.
        driver.hook = [&](const std::string& call) {
            const std::vector<SimTraffic> writes = hostWrites(1000000);
            if (call != "write" || writes.empty() || writes.back().bytes.size() < 3) {
                return FT_OK;
            }
            const int to = writes.back().bytes[2];
            if (to == kBroadcastId) {
                sim->find(1, c.faulty)->setFaults(c.faults);
                if (c.faulty == 174) {
                    SimFaults noise;
                    noise.noiseBytes = 6;
                    sim->find(1, 176)->setFaults(noise);
                }
            } else if (to == 240) {
                sim->find(1, c.faulty)->setFaults({});
                sim->find(1, 176)->setFaults({});
            }
            return FT_OK;
        };
        ASSERT_EQ(run(QuickSearch, false), Success);
        driver.hook = nullptr;
        EXPECT_EQ(listed(), (Addresses{{1, 4}, {1, 174}, {1, 176}, {1, 201}, {1, 236}}));
        EXPECT_TRUE(sure);
    }
}

// A full search visits the common codes first: the devices usually there are reported long
// before the search ends, and the list keeps the standard search's order of the codes.
TEST_F(SureSearchTest, FullSearchReportsTheCommonCodesFirst) {
    start({simSpec(1, 2, 28), simSpec(100, 7, 12), simSpec(207, 9, 28), simSpec(250, 4, 12)});
    std::int64_t lastCommonUs = -1;
    struct Timing final : SearchObserver {
        VirtualClock* clock;
        std::int64_t* at;
        Recorder* into;
        void deviceFound(const DeviceSummary& d) override {
            into->deviceFound(d);
            if (d.baudCode == 207) {
                *at = clock->nowUs();
            }
        }
        void makingSure(int code, int ordinal, int total) override {
            into->makingSure(code, ordinal, total);
        }
    } timing;
    timing.clock = &clock;
    timing.at = &lastCommonUs;
    timing.into = &seen;
    SearchEngine engine(*registry);
    ASSERT_EQ(engine.fastSearch(FullSearch, {.observer = &timing}), Success);
    EXPECT_EQ(seen.found, (Addresses{{1, 2}, {207, 9}, {100, 7}, {250, 4}}));
    EXPECT_EQ(listed(), (Addresses{{1, 2}, {100, 7}, {207, 9}, {250, 4}}));
    EXPECT_TRUE(engine.lastSearchSure());
    // Nine codes of about 0.5 s and two walks, of a search of 255 codes.
    EXPECT_LT(lastCommonUs, clock.nowUs() / 10);
    EXPECT_EQ(talkOverViolations(sim->traffic()), std::vector<std::string>{});
}

// A stop during the walk ends it at the ping in progress: no more pings, nothing probed, and
// the search is not sure of any code it had not finished (the code walked among them).
TEST_F(SureSearchTest, StopDuringTheWalkEndsItAndLeavesTheCodesUnsure) {
    for (const bool quickLook : {false, true}) {
        SCOPED_TRACE(quickLook ? "quick look" : "sure");
        start({simSpec(1, 3, 12), simSpec(1, 100, 28), simSpec(34, 5, 12)});
        std::size_t pingsAtStop = 0;
        driver.hook = [&](const std::string& call) {
            if (call == "write" && registry->searchId.load() == 10 && pingsAtStop == 0) {
                registry->stopSearch();
                pingsAtStop = packets(Ping).size();
            }
            return FT_OK;
        };
        ASSERT_EQ(run(QuickSearch, quickLook), Success);
        driver.hook = nullptr;
        ASSERT_NE(pingsAtStop, 0u);
        EXPECT_LE(packets(Ping).size(), pingsAtStop + 1);  // the ping in progress
        EXPECT_EQ(packets(Read).size(), 0u);
        EXPECT_EQ(listed(), Addresses{});
        EXPECT_FALSE(sure);
        EXPECT_EQ(unsure, quickCodesBut({}));
        EXPECT_EQ(talkOverViolations(sim->traffic()), std::vector<std::string>{});
    }
}

// The wait for a quiet line: on a quiet line it ends once nothing came for the quiet time; on a
// line that never goes quiet (a device answering again and again) it ends at its bound, or
// sooner when stopped, and says the line was not quiet.
TEST_F(SureSearchTest, UntilQuietIsBoundedAndHonoursAStop) {
    struct Case {
        const char* name;
        bool babbling;
        int stopAfterAnswers;  // -1: no stop
        int result;
        std::int64_t fromUs;  // the wait took at least this long ...
        std::int64_t toUs;    // ... and at most this long
    };
    constexpr std::int64_t kQuietUs = 3000;
    constexpr std::int64_t kBoundUs = 200000;
    const Case cases[] = {
        {"quiet line", false, -1, Success, kQuietUs, kQuietUs + 1000},
        {"babbling line", true, -1, Timeout, kBoundUs, kBoundUs + kQuietUs + 1000},
        {"babbling line, stopped", true, 5, Timeout, 0, 20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start({simSpec(1, 1, 28)});
        const std::shared_ptr<AdapterLink> link = registry->bus().link();
        ASSERT_TRUE(link);
        ASSERT_EQ(link->setBaudCode(1), Success);
        const Bytes ping = hexBytes("FF FF 01 02 01 FB");
        if (c.babbling) {
            // Every read finds the device answering once more.
            driver.hook = [&](const std::string& call) {
                if (call == "read") {
                    sim->hostWrite(ping.data(), ping.size(), rateOf(1));
                }
                return FT_OK;
            };
        }
        ReplyListener listener(*link);
        listener.clear();
        int answers = 0;
        const std::int64_t startUs = clock.nowUs();
        const int result = listener.untilQuiet(
            kQuietUs, startUs + kBoundUs,
            [&answers](const ScannedReply&, std::int64_t) { ++answers; },
            [&] { return c.stopAfterAnswers >= 0 && answers >= c.stopAfterAnswers; });
        driver.hook = nullptr;
        EXPECT_EQ(result, c.result);
        EXPECT_GE(clock.nowUs() - startUs, c.fromUs);
        EXPECT_LE(clock.nowUs() - startUs, c.toUs);
        if (c.babbling) {
            EXPECT_GT(answers, 0);
        }
    }
}

}  // namespace
}  // namespace mvx::test
