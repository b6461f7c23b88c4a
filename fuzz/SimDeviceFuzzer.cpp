// Fuzz target: the simulated devices' packet and loader handling, fed any bytes as host
// writes on a small simulated bus, on virtual time.
//
// Input: a fault byte, then steps of [control][count][count bytes]. The fault byte switches
// on bus faults, one per bit (see faultsOf). The control byte's low two bits pick the
// host rate (codes 1, 1, 34, 207), the rest a pause after the write: 0-31 ms in 1 ms steps,
// then growing to about 30 s, so the loader's entry delay, gap and watchdog are reached.
// Everything that reaches the host is read back.
//
// Invariants: devices keep an ID of 0-253 and a return level of 0-2 whatever is written to
// them; while every step is at code 1 (where no loader talks), no fault mangles or delays
// replies (a delayed reply may meet the next one on the wire) and no two devices came to share
// an ID (their answers collide), the bytes read back are a sequence of well-formed status
// packets.
#include <array>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "drivers/Clock.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "sim/SimulatedBus.h"

namespace {

using namespace mvx;

constexpr std::uint8_t kRateCodes[4] = {1, 1, 34, 207};

BusDescription fuzzBus() {
    auto device = [](int id, int code, int model, int level) {
        SimDeviceSpec s;
        s.id = static_cast<std::uint8_t>(id);
        s.code = static_cast<std::uint8_t>(code);
        s.model = static_cast<std::uint16_t>(model);
        s.returnLevel = static_cast<std::uint8_t>(level);
        s.returnDelay = 10;
        return s;
    };
    BusDescription bus;
    bus.devices = {device(1, 1, 28, 2), device(2, 1, 12, 2), device(3, 1, 106, 1),
                   device(9, 1, 116, 0), device(7, 34, 10, 2)};
    return bus;
}

// The bits that change reply bytes, or (a delay) let one reply run into the next.
constexpr std::uint8_t kManglingFaults = 0x17;

// True when two devices listening at `code` answer to the same ID. Devices that came to share
// an ID stay so (whatever changes one ID reaches both), so looking at the end is enough.
bool sharedId(SimulatedBus& bus, std::uint8_t code) {
    std::array<bool, 256> taken{};
    for (std::size_t i = 0; i < bus.deviceCount(); ++i) {
        SimulatedDevice& device = bus.device(i);
        if (device.code() != code) {
            continue;
        }
        if (taken[device.id()]) {
            return true;
        }
        taken[device.id()] = true;
    }
    return false;
}

SimFaults faultsOf(std::uint8_t bits) {
    SimFaults f;
    f.corruptChecksum = (bits & 0x01) != 0;
    f.truncateReply = (bits & 0x02) != 0;
    f.noiseBytes = (bits & 0x04) != 0 ? 2 : 0;
    f.dropReply = (bits & 0x08) != 0;
    f.extraDelayUs = (bits & 0x10) != 0 ? 50000 : 0;
    f.silentAfterPackets = (bits & 0x20) != 0 ? 3 : -1;
    f.answerReads = (bits & 0x40) != 0 ? 1 : -1;
    f.ignoreWrites = (bits & 0x80) != 0;
    f.rejectImages = (bits & 0x80) != 0 ? 1 : 0;
    return f;
}

std::int64_t pauseUs(std::uint8_t control) {
    const std::int64_t w = control >> 2;
    return w < 32 ? w * 1000 : (w - 31) * (w - 31) * 30000;
}

// True when `bytes` is nothing but whole status packets with right checksums.
bool wholeStatusPackets(const std::vector<std::uint8_t>& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 6 || bytes[at] != 0xFF || bytes[at + 1] != 0xFF) {
            return false;
        }
        const std::size_t len = bytes[at + 3];
        if (len < 2 || len > kMaxParameters + 2 || bytes.size() - at < len + 4) {
            return false;
        }
        if (packetChecksum(bytes.data() + at + 2, len + 1) != bytes[at + len + 3]) {
            return false;
        }
        at += len + 4;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    VirtualClock clock;
    SimulatedBus bus(fuzzBus(), clock);
    bus.setFaults(faultsOf(data[0]));
    std::vector<std::uint8_t> heard;
    bool onlyCode1 = (data[0] & kManglingFaults) == 0;
    std::uint8_t buffer[512];

    std::size_t at = 1;
    while (at + 2 <= size) {
        const std::uint8_t control = data[at];
        const std::size_t count = std::min<std::size_t>(data[at + 1], size - at - 2);
        const std::uint8_t code = kRateCodes[control & 3];
        onlyCode1 = onlyCode1 && code == 1;
        bus.hostWrite(data + at + 2, count, rateOf(code));
        at += 2 + count;
        clock.advanceUs(pauseUs(control));
        for (std::size_t n; (n = bus.hostRead(buffer, sizeof buffer)) != 0;) {
            heard.insert(heard.end(), buffer, buffer + n);
        }
    }
    // Let every reply still on its way arrive.
    clock.advanceUs(1000000);
    for (std::size_t n; (n = bus.hostRead(buffer, sizeof buffer)) != 0;) {
        heard.insert(heard.end(), buffer, buffer + n);
    }

    for (std::size_t i = 0; i < bus.deviceCount(); ++i) {
        SimulatedDevice& device = bus.device(i);
        MVX_FUZZ_CHECK(device.id() <= 253);
        MVX_FUZZ_CHECK(device.reg(16) <= 2);
    }
    if (onlyCode1 && !sharedId(bus, 1)) {
        MVX_FUZZ_CHECK(wholeStatusPackets(heard));
    }
    return 0;
}
