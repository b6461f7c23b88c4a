// The texts of the Operation page's value labels, and the slope steps of its property slider.
#pragma once

#include <QString>

namespace mvx::gui::operation {

// "512 (150.0˚)": a goal position and its angle on a device whose positions run 0..maxPosition.
QString goalText(int position, int maxPosition);
// Wheel mode "-512 (-50％)"; joint mode "1023 (114RPM)", or "0 (Max. RPM)" for speed 0.
QString speedText(int speed, bool wheel);
// "512 (50％)": a torque limit and its share of 1023.
QString torqueLimitText(int limit);
// Status values: "12.0v" from tenths of a volt, " 32℃", and "%4d" for position, speed, load.
QString voltageText(int tenths);
QString temperatureText(int celsius);
QString widthFourText(int value);

// The slider step 1..7 of a compliance slope value (2 or less is 1, ... above 64 is 7).
int slopeStep(int slope);
// The slope value a step stores: 2 to the power `step`.
inline int slopeOfStep(int step) {
    return 1 << step;
}
// "5 (32)": a step and a slope value.
QString slopeText(int step, int slope);

}  // namespace mvx::gui::operation
