// The driver backend over a SimulatedBus: lists one adapter (the bus's adapter name) and opens
// a handle whose reads and writes are the host side of the bus. Every call counts toward the
// bus's adapter-failure fault. The bus must outlive the driver and its handles.
//
// A handle's write puts the bytes on the wire and returns once at most 128 of them (the
// adapter's transmit buffer) still wait to go out, so long writes take their wire time; its
// read waits on the bus's clock until the bytes arrived or the read timeout ran out. On a
// frozen adapter a write takes nothing: it waits its write timeout (1 s when none is set, as a
// serial port waits for room) on the bus's clock and returns FT_OK with nothing written.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "drivers/FtDriver.h"
#include "sim/SimulatedBus.h"

namespace mvx {

class SimDriver : public FtDriver {
public:
    explicit SimDriver(SimulatedBus& bus) : bus_(bus) {}

    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    // One handle at a time: a second open fails with FT_DEVICE_NOT_OPENED until it is closed.
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

    SimulatedBus& bus() { return bus_; }

    // Settings that handles opened from now on report as not taken (FtDevice::limitations),
    // as an adapter reached through its tty may: for showing and testing those reports.
    void setLimitations(std::vector<std::string> limitations) {
        limitations_ = std::move(limitations);
    }
    // Whether handles opened from now on report the bus's receive latency (as libftdi's
    // handle does) or report it unknown (as a pseudo-terminal does). Reported by default.
    void setLatencyKnown(bool known) { latencyKnown_ = known; }

private:
    SimulatedBus& bus_;
    std::vector<std::string> limitations_;
    bool latencyKnown_ = true;
};

}  // namespace mvx
