// Settings files for the soak's restores: a device's settings with a few of them changed at
// random (limit pairs kept in order, now and then a position above the model's range), and
// where each setting lives in the control table, to check a restore against the device.
#pragma once

#include <random>

#include "device/SettingsFile.h"
#include "soak/SoakRig.h"

namespace mvx::test {

// `now` with one to four settings changed; the network ones only with `network` (never a
// return level of 0, which would leave the device answering pings only).
DeviceSettings variedSettings(const DeviceSettings& now, int maxPosition, bool network,
                              std::mt19937& rng);

// The register bytes `value` of `setting` gives the device, in `regs` (address -> values).
void allowSetting(RegisterValues& regs, Setting setting, int value);

// The value of `setting` as the device holds it now, or -1 for a setting the soak does not
// place.
int deviceSetting(SimulatedDevice& device, Setting setting);

}  // namespace mvx::test
