// Fuzz target: the settings file reader on any text.
//
// Invariants: a refusal names the file ("FILE: ...") and says why; an accepted file is an
// actuator's, holds every setting once in file order, each within its register's range and
// the model's max position, its limit pairs in order (CW angle limit not above CCW, min
// voltage not above max), and reads back the same from the text the writer makes of it.
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "device/ModelCatalogue.h"
#include "device/SettingsFile.h"

namespace {

bool sameSettings(const mvx::DeviceSettings& a, const mvx::DeviceSettings& b) {
    if (a.modelNumber != b.modelNumber || a.modelName != b.modelName ||
        a.firmwareVersion != b.firmwareVersion || a.id != b.id || a.baudCode != b.baudCode ||
        a.takenAt != b.takenAt || a.registers != b.registers ||
        a.values.size() != b.values.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        if (a.values[i].reg != b.values[i].reg || a.values[i].value != b.values[i].value) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    mvx::DeviceSettings settings;
    std::string error;
    if (!mvx::parseSettingsText(text, "fuzz.json", settings, error)) {
        MVX_FUZZ_CHECK(error.rfind("fuzz.json: ", 0) == 0 && error.size() > 11);
        return 0;
    }
    MVX_FUZZ_CHECK(mvx::classify(settings.modelNumber) == mvx::Actuator);
    const auto& registers = mvx::settingsRegisters();
    MVX_FUZZ_CHECK(settings.values.size() == registers.size());
    const int maxPosition = mvx::maxPositionOf(settings.modelNumber);
    for (std::size_t i = 0; i < registers.size(); ++i) {
        const mvx::SettingValue& v = settings.values[i];
        MVX_FUZZ_CHECK(v.reg == registers[i]);
        MVX_FUZZ_CHECK(v.value >= v.reg->min &&
                       v.value <= (v.reg->positionLimited ? maxPosition : v.reg->max));
    }
    MVX_FUZZ_CHECK(settings.find(mvx::Setting::CwAngleLimit)->value <=
                   settings.find(mvx::Setting::CcwAngleLimit)->value);
    MVX_FUZZ_CHECK(settings.find(mvx::Setting::MinVoltage)->value <=
                   settings.find(mvx::Setting::MaxVoltage)->value);

    mvx::DeviceSettings again;
    MVX_FUZZ_CHECK(
        mvx::parseSettingsText(mvx::settingsJsonText(settings), "again.json", again, error));
    MVX_FUZZ_CHECK(sameSettings(settings, again));
    return 0;
}
