#include "support/ArmSettings.h"

#include <utility>

#include "device/NamedRegister.h"

namespace mvx::test {

DeviceSettings armSettings() {
    DeviceSettings s;
    s.modelNumber = 28;
    s.modelName = "MQ-35";
    s.firmwareVersion = 30;
    s.id = 1;
    s.baudCode = 1;
    s.takenAt = "2026-12-09T02:48:10Z";
    const std::pair<const char*, int> values[] = {
        {"cw-angle-limit", 100},
        {"ccw-angle-limit", 900},
        {"temperature-limit", 75},
        {"min-voltage", 70},
        {"max-voltage", 160},
        {"max-torque", 800},
        {"alarm-led", 36},
        {"alarm-shutdown", 36},
        {"cw-compliance-margin", 1},
        {"ccw-compliance-margin", 1},
        {"cw-compliance-slope", 64},
        {"ccw-compliance-slope", 64},
        {"punch", 40},
        {"torque-limit", 700},
        {"return-delay", 10},
        {"return-level", 2},
    };
    for (const auto& [name, value] : values) {
        s.values.push_back({findNamedRegister(name), value});
    }
    return s;
}

}  // namespace mvx::test
