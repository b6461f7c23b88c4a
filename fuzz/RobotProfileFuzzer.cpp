// Fuzz target: the robot profile reader on any text.
//
// Invariants: a refusal names the file and says why; an accepted profile searched at least one
// code, each once, and holds devices at addresses of their own at codes it searched, each
// actuator's settings taken from that device; written again and read back, it gives the same
// text.
#include <algorithm>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "robot/RobotProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    mvx::RobotProfile profile;
    std::string error;
    if (!mvx::parseProfileText(text, "fuzz.json", profile, error)) {
        MVX_FUZZ_CHECK(error.rfind("fuzz.json: ", 0) == 0 && error.size() > 11);
        return 0;
    }
    MVX_FUZZ_CHECK(!profile.codes.empty() && profile.codes.size() <= 255);
    for (std::size_t i = 0; i < profile.codes.size(); ++i) {
        MVX_FUZZ_CHECK(profile.codes[i] >= 0 && profile.codes[i] <= 255);
        MVX_FUZZ_CHECK(std::count(profile.codes.begin(), profile.codes.end(), profile.codes[i]) ==
                       1);
    }
    for (const mvx::ProfileDevice& d : profile.devices) {
        MVX_FUZZ_CHECK(d.at.valid());
        MVX_FUZZ_CHECK(profile.find(d.at) == &d);
        MVX_FUZZ_CHECK(std::count(profile.codes.begin(), profile.codes.end(), d.at.code) == 1);
        MVX_FUZZ_CHECK(!d.settings ||
                       (d.settings->modelNumber == d.modelNumber && d.settings->id == d.at.id &&
                        d.settings->baudCode == d.at.code));
    }
    const std::string written = mvx::profileJsonText(profile);
    mvx::RobotProfile again;
    MVX_FUZZ_CHECK(mvx::parseProfileText(written, "again.json", again, error));
    MVX_FUZZ_CHECK(mvx::profileJsonText(again) == written);
    return 0;
}
