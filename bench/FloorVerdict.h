// The verdict on a measured time against its floor and ceiling, shared by the benchmarks
// and by the real-time programs: the ratio measured / floor, and whether the run failed.
//
// Below the floor means the floor or the code is wrong (a floor is a true lower bound); above
// the ceiling means the code spends time the protocol does not ask for. Each benchmark states
// its ceiling ratio and why.
#pragma once

#include <cstdio>
#include <string>

namespace mvx::bench {

struct FloorVerdict {
    double ratio = 0.0;
    bool belowFloor = false;
    bool aboveCeiling = false;

    bool failed() const { return belowFloor || aboveCeiling; }
    // Why the run failed, or empty when it did not.
    std::string why(double ceilingRatio) const {
        char text[128] = "";
        if (belowFloor) {
            std::snprintf(text, sizeof text,
                          "measured below the floor (ratio %.4f): the floor or the code is wrong",
                          ratio);
        } else if (aboveCeiling) {
            std::snprintf(text, sizeof text, "ratio %.4f is above the ceiling %.4g", ratio,
                          ceilingRatio);
        }
        return text;
    }
};

inline FloorVerdict judgeAgainstFloor(double measuredUs, double floorUs, double ceilingRatio) {
    FloorVerdict verdict;
    verdict.ratio = floorUs > 0.0 ? measuredUs / floorUs : 1.0;
    verdict.belowFloor = measuredUs < floorUs;
    verdict.aboveCeiling = verdict.ratio > ceilingRatio;
    return verdict;
}

}  // namespace mvx::bench
