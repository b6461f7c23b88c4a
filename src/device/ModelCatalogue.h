// The fixed list of device models: class and display name by model number.
#pragma once

#include <cstdint>

namespace mvx {

enum ModelClass : std::uint8_t {
    Actuator = 0,
    Sensor = 1,
    UnknownModel = 255,
};

ModelClass classify(int modelNumber);
const char* displayName(int modelNumber);  // "Unknown" for numbers not in the catalogue
const char* classText(ModelClass modelClass);

}  // namespace mvx
