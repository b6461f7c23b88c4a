#include "device/ModelCatalogue.h"

#include <array>

namespace mvx {

namespace {

struct CatalogueEntry {
    int modelNumber;
    ModelClass modelClass;
    const char* name;
};

// The models this tool knows. Lookups match the whole 16-bit model number exactly.
constexpr std::array<CatalogueEntry, 10> kCatalogue = {{
    {6, Actuator, "LT-20"},
    {10, Actuator, "MQ-15"},
    {12, Actuator, "LT-50+"},
    {13, Sensor, "LT-P1"},
    {28, Actuator, "MQ-35"},
    {64, Actuator, "MQ-75"},
    {106, Actuator, "PW-900"},
    {113, Actuator, "KV-430"},
    {116, Actuator, "KV-410"},
    {117, Actuator, "KV-420"},
}};

const CatalogueEntry* lookup(int modelNumber) {
    for (const auto& entry : kCatalogue) {
        if (entry.modelNumber == modelNumber) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

ModelClass classify(int modelNumber) {
    const CatalogueEntry* entry = lookup(modelNumber);
    return entry != nullptr ? entry->modelClass : UnknownModel;
}

const char* displayName(int modelNumber) {
    const CatalogueEntry* entry = lookup(modelNumber);
    return entry != nullptr ? entry->name : "Unknown";
}

const char* classText(ModelClass modelClass) {
    switch (modelClass) {
        case Actuator:
            return "Actuator";
        case Sensor:
            return "Sensor";
        default:
            return "Unknown";
    }
}

int maxPositionOf(int modelNumber) {
    return modelNumber == 106 ? 4095 : 1023;
}

}  // namespace mvx
