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
// Largest position (and angle limit) of a model: 4095 for the PW-900 (106), else 1023.
int maxPositionOf(int modelNumber);

}  // namespace mvx
