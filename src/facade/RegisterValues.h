// Register values between the core's raw numbers and the library's Value: what read() returns,
// the text the setters parse for what write() is given, and the status block by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/NamedRegister.h"
#include "device/RegisterTable.h"
#include "device/TelemetrySampler.h"
#include "movantrix/types.h"

namespace movantrix::detail {

// The first address and the length of the status block.
inline constexpr int kStatusFirst = 24;
inline constexpr int kStatusLength = 26;

// The item `name` of a device of `model`, or null. The name unknown to every model:
// std::invalid_argument; known, but not to this model: std::invalid_argument naming the model.
mvx::RegisterItem itemOf(const std::string& name, int model);

// `raw` of `item` in its unit: volts as a double, flags by name, signed values with their
// sign, everything else the raw number (positions in steps, the return delay in its units).
Value valueOf(const mvx::RegisterItem& item, int raw);
// A setting's raw value (a settings file's) as a Value: volts, flag names or the number.
Value settingValue(const mvx::NamedRegister& reg, int raw);

// The named register of write(); std::invalid_argument for an unknown name.
const mvx::NamedRegister& namedRegister(const std::string& name);
// The text of `value` as `set` takes it for `reg` ("512", "14.5", "overload,range", "none").
// std::invalid_argument when the kind of value cannot be one of `reg`.
std::string valueText(const mvx::NamedRegister& reg, const Value& value);
// The raw value for `reg`, parsed and range-checked as `set` does; std::invalid_argument with
// the setter's message.
int rawOf(const mvx::NamedRegister& reg, const Value& value);

// The items of `model` in the status block (registers 24-49), the keyed ones left out.
std::vector<mvx::RegisterItem> statusItems(int model);
// Values of `items` from the status block `block` (kStatusLength bytes from address 24).
Values statusValues(const std::vector<mvx::RegisterItem>& items, const std::uint8_t* block);

// The names a watch sample can hold, in the order of a watch line.
const std::vector<std::string>& sampleNames();
// The values of `names` (checked with sampleNames) from a sampler's sample.
Values sampleValues(const mvx::StatusSample& sample, const std::vector<std::string>& names);
// std::invalid_argument for a name a watch cannot take; empty names: all of them.
std::vector<std::string> checkSampleNames(const std::vector<std::string>& names);

}  // namespace movantrix::detail
