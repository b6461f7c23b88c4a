// Status samples as text for machines: the CSV lines of `watch` and of the telemetry window's
// file, and the JSON lines of `watch --json`. Numbers are written the same whatever the
// locale (a decimal comma would split a CSV field in two).
#pragma once

#include <string>

#include "device/TelemetrySampler.h"

namespace mvx {

inline constexpr const char* kStatusCsvHeader =
    "time_s,present_position,present_speed,present_load,present_voltage,present_temperature,"
    "goal_position,moving";

// "0.100,512,0,0,12.0,32,512,0": time with three decimals, voltage in volts.
std::string statusCsvLine(const StatusSample& sample);
// {"time_s":0.100,"present_position":512,...,"moving":0}
std::string statusJsonLine(const StatusSample& sample);

// `value` with `decimals` decimals and a decimal point in every locale: "12.5", "0.100".
std::string fixedText(double value, int decimals);
// The shortest text that reads back as `value`, with a decimal point: "200", "12.5".
std::string shortestText(double value);

}  // namespace mvx
