// What a simulated bus holds: the adapter's name and the devices with their start-up state.
//
// Bus description file (JSON):
//
//   {
//     "adapter": "Movantrix Simulated Bus",        optional, the adapter's description
//     "latencyMs": 1,                               optional, 0-255, the adapter's receive
//                                                   latency: each byte reaches the host this
//                                                   long after its last bit (1)
//     "broadcastSpacingUs": 300,                    optional, 0-1000: each device answers a
//                                                   broadcast ping this many microseconds per
//                                                   unit of its ID later than its return delay
//                                                   (ID 253 at 300: 75.9 ms), as devices that
//                                                   space their answers out by ID (0: at once)
//     "devices": [                                  required, may be empty
//       {
//         "id": 1,                                  required, 0-253
//         "baud": 1,                                required, baud-rate code 0-255
//         "model": 28,                              required, model number 0-65535
//         "version": 30,                            optional, firmware version 0-255 (30)
//         "returnLevel": 2,                         optional, 0-2 (2)
//         "returnDelay": 250,                       optional, 0-255, units of 2 us (250)
//         "position": 512,                          optional, present and goal position
//         "registers": { "17": 4, "32": 200 },      optional, control-table overrides:
//                                                   address -> value; a 16-bit register
//                                                   takes the whole value at its low address
//         "appearAtS": 3,                           optional, seconds after the host's first
//                                                   write to the bus when the device is
//                                                   connected (0: there from the start)
//         "disappearAtS": 6                         optional, seconds after the host's first
//       }                                           write when it is disconnected again
//     ]                                             (after appearAtS; none: it stays)
//   }
//
// Unknown keys are errors, so a misspelt key does not go unnoticed; so is a key given twice.
// Two devices that are both there from the start may not have the same (baud, id); a device
// connected later may share the address of any other (new actuators all leave the factory at
// one address). Every device starts from the plausible defaults of its model (see
// SimulatedDevice::defaultTable), then the fields above are applied; one connected later
// starts from them when it is connected.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mvx {

struct SimDeviceSpec {
    std::uint8_t id = 1;
    std::uint8_t code = 1;
    std::uint16_t model = 28;
    std::uint8_t version = 30;
    std::uint8_t returnLevel = 2;
    std::uint8_t returnDelay = 250;
    int position = -1;  // -1: the middle of the model's range
    // Control-table overrides, applied last: address -> value (16-bit at the low address).
    std::map<int, int> registers;
    // On the bus from appearAtUs until disappearAtUs (-1: for good), counted from the host's
    // first write to the bus.
    std::int64_t appearAtUs = 0;
    std::int64_t disappearAtUs = -1;
};

struct BusDescription {
    std::string adapterName = "Movantrix Simulated Bus";
    // How long after its last bit a received byte reaches the host, in microseconds.
    std::int64_t receiveLatencyUs = 1000;
    // How much later per unit of its ID a device answers a broadcast ping, in microseconds.
    std::int64_t broadcastSpacingUs = 0;
    std::vector<SimDeviceSpec> devices;
};

}  // namespace mvx
