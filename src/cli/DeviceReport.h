// How devices are shown: the scan table, the info listing, and their JSON forms.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "device/DeviceRegistry.h"
#include "device/NamedRegister.h"  // voltsText and the flag texts

namespace mvx {
class DeviceEntry;
class ServoRecord;
}  // namespace mvx

namespace mvx::cli {

// "ID 1 at code 1 (1000000 bps)"
std::string addressText(int code, int id);
// "adapter access failed (101)"
std::string resultWords(int result);

// Aligned columns: CODE, BPS, ID, CLASS, NAME, MODEL, VERSION, LEVEL.
void printDeviceTable(const std::vector<DeviceSummary>& devices, std::ostream& out);
// code, bps, id, class, class_code, name, model, version, return_delay, return_level.
nlohmann::json deviceJson(const DeviceSummary& device);
// {"devices": [...]} in the given (registry) order.
nlohmann::json scanJson(const std::vector<DeviceSummary>& devices);

// Identity, then for an actuator the control table by register name with units.
void printDeviceInfo(const DeviceEntry& entry, std::ostream& out);
// The device object of deviceJson plus "servo": the record's fields, or null.
nlohmann::json infoJson(const DeviceEntry& entry);

}  // namespace mvx::cli
