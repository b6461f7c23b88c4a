// Settings of an MQ-35 as a robot's joint would hold them: a whole settings file's worth that
// differs from a new actuator's in a few places (max torque 800, return delay 10 ...).
#pragma once

#include "device/SettingsFile.h"

namespace mvx::test {

DeviceSettings armSettings();

}  // namespace mvx::test
