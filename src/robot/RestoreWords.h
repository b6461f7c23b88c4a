// A failed restore in words, for the robot flows' rows: what failed and what the device holds.
#pragma once

#include <string>

#include "device/SettingsTransfer.h"

namespace mvx {

// "writing max-torque: no reply (timeout) (103); written: cw-angle-limit; not written: punch",
// or "reading it back: ...; written, not checked: ..." when the writes went through.
std::string restoreFailureWords(const RestoreResult& restored);

}  // namespace mvx
