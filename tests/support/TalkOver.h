// Checks of the simulated bus's traffic record for a host that talks over the devices: on a
// half-duplex wire a packet sent while an answer is on it spoils both, and a host that changes
// its rate while an answer is still coming loses it.
#pragma once

#include <string>
#include <vector>

#include "sim/SimTraffic.h"

namespace mvx::test {

// One line per fault, empty when none:
// - a host packet on the wire at the same time as a device's answer;
// - a device's answer left behind: the host changed to another rate before it was over;
// - a host packet that starts while the longest reply the ping or read before it can cause may
//   still be on the wire (the packet's end, the longest return delay of 510 us, the reply at
//   the request's rate), whether or not anyone answered.
std::vector<std::string> talkOverViolations(const std::vector<SimTraffic>& traffic);

// Host packets that go out less than 500 ms after a broadcast ping: the devices may still be
// answering it (the only bound the protocol gives). A sure look never does this.
std::vector<std::string> broadcastWaitViolations(const std::vector<SimTraffic>& traffic);

}  // namespace mvx::test
