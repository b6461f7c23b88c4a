#include "device/StatusText.h"

#include <array>
#include <charconv>

#include "device/NamedRegister.h"

namespace mvx {

namespace {

struct Field {
    const char* name;
    std::string text;
};

// The fields of a sample in file order.
std::array<Field, 8> fields(const StatusSample& s) {
    return {{{"time_s", fixedText(s.timeS, 3)},
             {"present_position", std::to_string(s.presentPosition)},
             {"present_speed", std::to_string(s.presentSpeed)},
             {"present_load", std::to_string(s.presentLoad)},
             {"present_voltage", voltsText(s.presentVoltage)},
             {"present_temperature", std::to_string(s.presentTemperature)},
             {"goal_position", std::to_string(s.goalPosition)},
             {"moving", std::to_string(s.moving)}}};
}

}  // namespace

std::string statusCsvLine(const StatusSample& sample) {
    std::string line;
    for (const Field& field : fields(sample)) {
        line += (line.empty() ? "" : ",") + field.text;
    }
    return line;
}

std::string statusJsonLine(const StatusSample& sample) {
    std::string line;
    for (const Field& field : fields(sample)) {
        line += (line.empty() ? "{\"" : ",\"") + std::string(field.name) + "\":" + field.text;
    }
    return line + "}";
}

std::string fixedText(double value, int decimals) {
    char text[400];  // the largest double has 309 digits
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return end.ec == std::errc() ? std::string(text, end.ptr) : std::string("nan");
}

std::string shortestText(double value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value);
    return end.ec == std::errc() ? std::string(text, end.ptr) : std::string("nan");
}

}  // namespace mvx
