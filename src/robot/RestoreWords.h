// The robot flows' words for their rows: result codes, models, and a restore that failed or
// did not take.
#pragma once

#include <string>

#include "device/SettingsTransfer.h"

namespace mvx {

// "no reply (timeout) (103)".
std::string resultWords(int result);
// "MQ-35 (28)".
std::string modelWords(int modelNumber);

// "writing max-torque: no reply (timeout) (103); written: cw-angle-limit; not written: punch",
// or "reading it back: ...; written, not checked: ..." when the writes went through, or
// "refused, nothing written: cw-angle-limit 800 (from the file) would be above ..." for a
// restore that would have crossed a pair of limits.
std::string restoreFailureWords(const RestoreResult& restored);
// A setting the device did not take: "max-torque did not take: wrote 800, the device holds
// 1023".
std::string notTakenWords(const SettingChange& change);

}  // namespace mvx
