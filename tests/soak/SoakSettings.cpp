#include "soak/SoakSettings.h"

#include <algorithm>
#include <utility>

namespace mvx::test {

namespace {

struct Place {
    Setting setting;
    int address;
    bool word;
    int low;   // the range the soak picks from
    int high;  // -1: the model's max position
};

constexpr Place kPlaces[] = {
    {Setting::CwAngleLimit, 6, true, 0, -1},
    {Setting::CcwAngleLimit, 8, true, 0, -1},
    {Setting::TemperatureLimit, 11, false, 50, 99},
    {Setting::MinVoltage, 12, false, 50, 95},
    {Setting::MaxVoltage, 13, false, 100, 250},
    {Setting::MaxTorque, 14, true, 0, 1023},
    {Setting::AlarmLed, 17, false, 0, 127},
    {Setting::AlarmShutdown, 18, false, 0, 127},
    {Setting::CwComplianceMargin, 26, false, 0, 255},
    {Setting::CcwComplianceMargin, 27, false, 0, 255},
    {Setting::CwComplianceSlope, 28, false, 0, 255},
    {Setting::CcwComplianceSlope, 29, false, 0, 255},
    {Setting::TorqueLimit, 34, true, 0, 1023},
    {Setting::Punch, 48, true, 0, 1023},
    {Setting::ReturnDelay, 5, false, 0, 254},
    {Setting::ReturnLevel, 16, false, 1, 2},
};

const Place* placeOf(Setting setting) {
    for (const Place& p : kPlaces) {
        if (p.setting == setting) {
            return &p;
        }
    }
    return nullptr;
}

SettingValue* valueOf(DeviceSettings& s, Setting setting) {
    for (SettingValue& v : s.values) {
        if (v.reg != nullptr && v.reg->setting == setting) {
            return &v;
        }
    }
    return nullptr;
}

// Keeps a lower limit at most its upper one, as every settings file does.
void keepOrdered(DeviceSettings& s, Setting lower, Setting upper) {
    SettingValue* low = valueOf(s, lower);
    SettingValue* high = valueOf(s, upper);
    if (low != nullptr && high != nullptr && low->value > high->value) {
        std::swap(low->value, high->value);
    }
}

}  // namespace

DeviceSettings variedSettings(const DeviceSettings& now, int maxPosition, bool network,
                              std::mt19937& rng) {
    DeviceSettings wanted = now;
    auto pick = [&rng](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    const int changes = pick(1, 4);
    for (int n = 0; n < changes && !wanted.values.empty(); ++n) {
        SettingValue& v = wanted.values[static_cast<std::size_t>(
            pick(0, static_cast<int>(wanted.values.size()) - 1))];
        const Place* p = placeOf(v.reg->setting);
        if (p == nullptr || (v.reg->network && !network)) {
            continue;
        }
        // Now and then a position past a smaller model's range: skipped, never written.
        const int high = p->high >= 0 ? p->high : (pick(0, 9) == 0 ? 4095 : maxPosition);
        v.value = pick(p->low, high);
    }
    keepOrdered(wanted, Setting::CwAngleLimit, Setting::CcwAngleLimit);
    keepOrdered(wanted, Setting::MinVoltage, Setting::MaxVoltage);
    return wanted;
}

void allowSetting(RegisterValues& regs, Setting setting, int value) {
    const Place* p = placeOf(setting);
    if (p == nullptr) {
        return;
    }
    if (p->word) {
        allowWord(regs, p->address, value);
    } else {
        regs[p->address].insert(value);
    }
}

int deviceSetting(SimulatedDevice& device, Setting setting) {
    const Place* p = placeOf(setting);
    if (p == nullptr) {
        return -1;
    }
    return p->word ? device.reg16(p->address) : device.reg(p->address);
}

}  // namespace mvx::test
