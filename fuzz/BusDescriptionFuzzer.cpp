// Fuzz target: the bus description reader on any text, and a simulated bus built from what it
// accepts.
//
// Invariants: a refusal says why and leaves the description alone; an accepted description has
// fields in their ranges, a schedule that ends after it begins, and no two devices there from
// the start at one (baud, id); every device of the bus built from it that is there from the
// start answers at the (baud, id) the description gives.
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "FuzzCheck.h"
#include "drivers/Clock.h"
#include "sim/BusDescription.h"
#include "sim/SimulatedBus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    mvx::BusDescription description;
    description.adapterName = "untouched";
    std::string error;
    if (!mvx::SimulatedBus::parseDescription(text, description, error)) {
        MVX_FUZZ_CHECK(!error.empty());
        MVX_FUZZ_CHECK(description.adapterName == "untouched" && description.devices.empty());
        return 0;
    }
    MVX_FUZZ_CHECK(!description.adapterName.empty());
    std::set<std::pair<int, int>> addresses;
    for (const mvx::SimDeviceSpec& device : description.devices) {
        MVX_FUZZ_CHECK(device.id <= 253 && device.returnLevel <= 2);
        MVX_FUZZ_CHECK(device.position >= -1 && device.position <= 4095);
        MVX_FUZZ_CHECK(device.appearAtUs >= 0 &&
                       (device.disappearAtUs < 0 || device.disappearAtUs > device.appearAtUs));
        MVX_FUZZ_CHECK(device.appearAtUs > 0 || addresses.insert({device.code, device.id}).second);
    }

    mvx::VirtualClock clock;
    mvx::SimulatedBus bus(description, clock);
    MVX_FUZZ_CHECK(bus.deviceCount() == description.devices.size());
    for (std::size_t i = 0; i < description.devices.size(); ++i) {
        const mvx::SimDeviceSpec& device = description.devices[i];
        MVX_FUZZ_CHECK(device.appearAtUs > 0 || bus.find(device.code, device.id) == &bus.device(i));
    }
    return 0;
}
