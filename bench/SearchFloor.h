// Floors of a bus search and of the single-device requests, over a simulated bus description,
// from the figures of BusFloor.h. A floor is a true lower bound: the measured time can never
// be below it, whatever the adapter's write-ahead or the timing of the replies.
//
// Floor of a search, walking its codes in order from the code the link is at:
//   per code:      100 ms rate-change wait when the code differs from the previous one
//                  + 500 ms for the answers to the broadcast ping + 1 ms untimed read that
//                  ends the answer count (it runs to its timeout)
//   at a code where a device answered, per ID 0-253:
//     absent ID:   the timed read timeout of the 4-byte reply header: integer part of
//                  (byteTime x 4 + margin) ms, byteTime = 12000 / rate ms, margin 20 ms below
//                  code 103, 60 ms from it on
//     present ID:  ping: 6 + 6 bytes on the wire + return delay
//                  identity read (17 bytes from address 0): 8 + 23 bytes + return delay
//                  actuator at return level 1 or 2: servo record load (44 bytes from
//                  address 6): 8 + 50 bytes + return delay
//                  return level 0: the identity read gets no reply, so the timed read
//                  timeout of 4 bytes, then a second ping (6 + 6 bytes + return delay)
//   wire time:     10 bits per byte at the code's unrounded rate; return delay: 2 us a unit.
//
// Why the wire time of an unanswered packet (the broadcast ping, the ping of an absent ID,
// the identity read of a level-0 device) is not in the floor: a write returns before its
// bytes are on the wire (an adapter holds up to its transmit buffer, a tty its output
// queue), so that wire time runs under the wait or read timeout that follows. An answered
// request costs its full wire time, as the reply can only start after the request's last
// byte and the return delay. The wire time left out is kept apart as `hiddenWireUs`.
//
// Devices are taken from the description's fields; control-table overrides of the model,
// the return delay or the return level are not read, so buses with overrides are refused.
#pragma once

#include <algorithm>
#include <span>

#include "BusFloor.h"
#include "sim/BusDescription.h"

namespace mvx::bench {

// Model numbers of the actuators in the model catalogue; 13 is the one sensor and every
// other number an unknown model. Only actuators get their servo record loaded.
inline constexpr std::array<int, 9> kActuatorModels = {6, 10, 12, 28, 64, 106, 113, 116, 117};

inline constexpr int kPingParameters = 0;
inline constexpr int kReadParameters = 2;
inline constexpr int kIdentityLength = 17;
inline constexpr int kRecordLength = 44;
inline constexpr std::uint32_t kHeaderBytes = 4;

struct TimeFloor {
    double floorUs = 0.0;       // the lower bound
    double hiddenWireUs = 0.0;  // wire time of unanswered packets, inside the waits
    int replies = 0;            // status packets received on the way
};

// True when the floors below can be computed for `bus` (no control-table overrides).
inline bool floorKnown(const BusDescription& bus) {
    return std::all_of(bus.devices.begin(), bus.devices.end(),
                       [](const SimDeviceSpec& d) { return d.registers.empty(); });
}

inline const SimDeviceSpec* deviceAt(const BusDescription& bus, int code, int id) {
    for (const SimDeviceSpec& d : bus.devices) {
        if (d.code == code && d.id == id) {
            return &d;
        }
    }
    return nullptr;
}

inline bool isActuator(const SimDeviceSpec& d) {
    return std::find(kActuatorModels.begin(), kActuatorModels.end(), d.model) !=
           kActuatorModels.end();
}

// A request that is answered: request and reply on the wire plus the return delay.
inline void addExchange(TimeFloor& f, int code, int requestParams, int replyData,
                        const SimDeviceSpec& d) {
    f.floorUs += wireUs(requestBytes(requestParams) + replyBytes(replyData), code) +
                 d.returnDelay * kReturnDelayUnitUs;
    ++f.replies;
}

// A request that is not answered: the timed header read runs out; its wire time runs inside.
inline void addUnanswered(TimeFloor& f, int code, int requestParams) {
    f.floorUs += timedReadUs(kHeaderBytes, code);
    f.hiddenWireUs += wireUs(requestBytes(requestParams), code);
}

// Identity read of a device that answered its ping, with the record load of an actuator.
inline void addIdentity(TimeFloor& f, int code, const SimDeviceSpec& d) {
    if (d.returnLevel == 0) {
        addUnanswered(f, code, kReadParameters);
        addExchange(f, code, kPingParameters, 0, d);
        return;
    }
    addExchange(f, code, kReadParameters, kIdentityLength, d);
    if (isActuator(d)) {
        addExchange(f, code, kReadParameters, kRecordLength, d);
    }
}

// Rate change from `current` to `code`: the wait, when they differ.
inline void addTune(TimeFloor& f, int& current, int code) {
    if (code != current) {
        f.floorUs += kBaudChangeWaitUs;
        current = code;
    }
}

// Opening the link: the first rate setting always waits, then the bit-mode switch waits.
inline TimeFloor openFloor() {
    TimeFloor f;
    f.floorUs = kBaudChangeWaitUs + kBitModeWaitUs;
    return f;
}

// A search of `codes` with the link at `linkCode`.
inline TimeFloor searchFloor(const BusDescription& bus, std::span<const int> codes,
                             int linkCode = kOpenCode) {
    TimeFloor f;
    int current = linkCode;
    for (const int code : codes) {
        addTune(f, current, code);
        f.floorUs += kBroadcastWaitUs + kUntimedReadUs;
        f.hiddenWireUs += wireUs(requestBytes(kPingParameters), code);
        const bool anyone = std::any_of(bus.devices.begin(), bus.devices.end(),
                                        [code](const SimDeviceSpec& d) { return d.code == code; });
        if (!anyone) {
            continue;
        }
        for (int id = 0; id < kIdsPerCode; ++id) {
            const SimDeviceSpec* d = deviceAt(bus, code, id);
            if (d == nullptr) {
                addUnanswered(f, code, kPingParameters);
                continue;
            }
            addExchange(f, code, kPingParameters, 0, *d);
            addIdentity(f, code, *d);
        }
    }
    return f;
}

// The devices a search of `codes` finds.
inline int devicesOn(const BusDescription& bus, std::span<const int> codes) {
    return static_cast<int>(
        std::count_if(bus.devices.begin(), bus.devices.end(), [codes](const SimDeviceSpec& d) {
            return std::find(codes.begin(), codes.end(), d.code) != codes.end();
        }));
}

}  // namespace mvx::bench

namespace mvx::bench {

// The wire floor of a fast search of `codes`: what the wire, the return delays and the
// adapter's receive latency take when nothing waits beyond them. Per code the broadcast ping;
// where a device answers, each device's answer to it, the 254 pings of the walk, each
// device's ping reply, and the probe of each device as a chain of round trips (request, return
// delay, reply and the latency, one after another; an unanswered identity read counts its
// request only). A true lower bound: pings and replies share the one wire, and each round trip
// of a probe waits for the one before.
inline double wireFloorUs(const BusDescription& bus, std::span<const int> codes, double latencyUs) {
    double floor = 0.0;
    for (const int code : codes) {
        floor += wireUs(requestBytes(kPingParameters), code);
        bool anyone = false;
        for (const SimDeviceSpec& d : bus.devices) {
            if (d.code != code) {
                continue;
            }
            anyone = true;
            // Its answer to the broadcast and to its ping in the walk.
            floor += 2 * wireUs(replyBytes(0), code);
            const double delay = d.returnDelay * kReturnDelayUnitUs;
            const auto roundTrip = [&](int requestParams, int replyData) {
                floor += wireUs(requestBytes(requestParams) + replyBytes(replyData), code) + delay +
                         latencyUs;
            };
            if (d.returnLevel == 0) {
                floor += wireUs(requestBytes(kReadParameters), code);
                roundTrip(kPingParameters, 0);
            } else {
                roundTrip(kReadParameters, kIdentityLength);
                if (isActuator(d)) {
                    roundTrip(kReadParameters, kRecordLength);
                }
            }
        }
        if (anyone) {
            floor += kIdsPerCode * wireUs(requestBytes(kPingParameters), code);
        }
    }
    return floor;
}

// The floor of the fast search as it waits: the wire floor, with the broadcast step of each
// code where a device answers taking the standard search's 500 ms broadcast wait instead of
// the wire time of the ping and its answers (the walk starts only after that wait there).
// Where late answers make it wait so at silent codes too, it takes longer still.
inline double fastFloorUs(const BusDescription& bus, std::span<const int> codes, double latencyUs) {
    double floor = wireFloorUs(bus, codes, latencyUs);
    for (const int code : codes) {
        const auto answers =
            std::count_if(bus.devices.begin(), bus.devices.end(),
                          [code](const SimDeviceSpec& d) { return d.code == code; });
        if (answers > 0) {
            floor += kBroadcastWaitUs - wireUs(requestBytes(kPingParameters), code) -
                     static_cast<double>(answers) * wireUs(replyBytes(0), code);
        }
    }
    return floor;
}

}  // namespace mvx::bench
