// An opened adapter that tells a LinkTap what it writes and reads. AdapterLink puts it around
// its adapter only when it is given a tap, so a link without one runs exactly as before. (The
// class stays out of sight of AdapterLink.cpp, so the compiler does not guess it as the target
// of the link's adapter calls.)
#pragma once

#include <atomic>

#include "drivers/FtDriver.h"
#include "link/LinkTap.h"

namespace mvx {

// `inner` telling `tap`; `code` is the link's current baud-rate code, read at each call.
FtHandle makeTappedDevice(FtHandle inner, LinkTap& tap, const std::atomic<int>& code);

}  // namespace mvx
