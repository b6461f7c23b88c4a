#include "cli/DeviceReport.h"

#include <algorithm>
#include <iomanip>

#include "cli/NamedRegister.h"
#include "device/DeviceEntry.h"
#include "device/ModelCatalogue.h"
#include "device/ServoRecord.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"

namespace mvx::cli {

namespace {

const char* levelText(int level) {
    switch (level) {
        case 0:
            return "0 (No return)";
        case 1:
            return "1 (Only read)";
        case 2:
            return "2 (All return)";
        default:
            return "unknown";
    }
}

const char* onOff(int value) {
    return value ? "on" : "off";
}

// Columns of text; numbers right-aligned, text left-aligned, two blanks between columns.
void printTable(const std::vector<std::string>& headers, const std::vector<bool>& rightAligned,
                const std::vector<std::vector<std::string>>& rows, std::ostream& out) {
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t c = 0; c < headers.size(); ++c) {
        widths[c] = headers[c].size();
        for (const auto& row : rows) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::string pad(widths[c] - cells[c].size(), ' ');
            if (c > 0) {
                line += "  ";
            }
            line += rightAligned[c] ? pad + cells[c] : cells[c] + pad;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    };
    printRow(headers);
    for (const auto& row : rows) {
        printRow(row);
    }
}

}  // namespace

std::string addressText(int code, int id) {
    return "ID " + std::to_string(id) + " at code " + std::to_string(code) + " (" +
           std::to_string(rateOf(code)) + " bps)";
}

std::string resultWords(int result) {
    return std::string(resultText(result)) + " (" + std::to_string(result) + ")";
}

void printDeviceTable(const std::vector<DeviceSummary>& devices, std::ostream& out) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& d : devices) {
        rows.push_back({std::to_string(d.baudCode), std::to_string(rateOf(d.baudCode)),
                        std::to_string(d.id), classText(d.modelClass), displayName(d.modelNumber),
                        std::to_string(d.modelNumber), std::to_string(d.firmwareVersion),
                        std::to_string(d.returnLevel)});
    }
    printTable({"CODE", "BPS", "ID", "CLASS", "NAME", "MODEL", "VERSION", "LEVEL"},
               {true, true, true, false, false, true, true, true}, rows, out);
}

nlohmann::json deviceJson(const DeviceSummary& d) {
    return {
        {"code", d.baudCode},
        {"bps", rateOf(d.baudCode)},
        {"id", d.id},
        {"class", classText(d.modelClass)},
        {"class_code", static_cast<int>(d.modelClass)},
        {"name", displayName(d.modelNumber)},
        {"model", d.modelNumber},
        {"version", d.firmwareVersion},
        {"return_delay", d.returnDelay},
        {"return_level", d.returnLevel},
    };
}

nlohmann::json scanJson(const std::vector<DeviceSummary>& devices) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& d : devices) {
        list.push_back(deviceJson(d));
    }
    return {{"devices", list}};
}

void printDeviceInfo(const DeviceEntry& entry, std::ostream& out) {
    std::vector<std::pair<std::string, std::string>> lines = {
        {"address", addressText(entry.baudCode(), entry.id())},
        {"class", classText(entry.modelClass())},
        {"model", std::string(displayName(entry.modelNumber())) + " (" +
                      std::to_string(entry.modelNumber()) + ")"},
        {"firmware-version", std::to_string(entry.firmwareVersion())},
        {"return-delay", std::to_string(entry.returnDelay()) + " (" +
                             std::to_string(entry.returnDelay() * 2) + " us)"},
        {"return-level", levelText(entry.returnLevel())},
    };
    if (const ServoRecord* r = entry.servoRecord()) {
        const std::vector<std::pair<std::string, std::string>> servo = {
            {"max-position", std::to_string(r->maxPosition())},
            {"wheel-mode", onOff(r->wheelMode())},
            {"cw-angle-limit", std::to_string(r->cwAngleLimit())},
            {"ccw-angle-limit", std::to_string(r->ccwAngleLimit())},
            {"temperature-limit", std::to_string(r->highestLimitTemperature()) + " °C"},
            {"min-voltage", voltsText(r->lowestLimitVoltage()) + " V"},
            {"max-voltage", voltsText(r->highestLimitVoltage()) + " V"},
            {"max-torque", std::to_string(r->maxTorque())},
            {"alarm-led", flagText(r->alarmLed())},
            {"alarm-shutdown", flagText(r->alarmShutdown())},
            {"torque-enable", onOff(r->torqueEnable())},
            {"led", onOff(r->led())},
            {"cw-compliance-margin", std::to_string(r->cwComplianceMargin())},
            {"ccw-compliance-margin", std::to_string(r->ccwComplianceMargin())},
            {"cw-compliance-slope", std::to_string(r->cwComplianceSlope())},
            {"ccw-compliance-slope", std::to_string(r->ccwComplianceSlope())},
            {"punch", std::to_string(r->punch())},
            {"goal-position", std::to_string(r->goalPosition())},
            {"moving-speed", std::to_string(r->movingSpeed())},
            {"torque-limit", std::to_string(r->torqueLimit())},
            {"present-position", std::to_string(r->presentPosition())},
            {"present-speed", std::to_string(r->presentSpeed())},
            {"present-load", std::to_string(r->presentLoad())},
            {"present-voltage", voltsText(r->presentVoltage()) + " V"},
            {"present-temperature", std::to_string(r->presentTemperature()) + " °C"},
            {"registered", onOff(r->registeredInstruction())},
            {"moving", onOff(r->moving())},
            {"lock", onOff(r->lock())},
            {"errors", flagText(r->errorBits())},
        };
        lines.insert(lines.end(), servo.begin(), servo.end());
    }
    std::size_t width = 0;
    for (const auto& line : lines) {
        width = std::max(width, line.first.size());
    }
    for (const auto& [name, value] : lines) {
        out << name << std::string(width - name.size() + 2, ' ') << value << '\n';
    }
}

nlohmann::json infoJson(const DeviceEntry& entry) {
    nlohmann::json device = deviceJson(summaryOf(entry));
    const ServoRecord* r = entry.servoRecord();
    if (r == nullptr) {
        device["servo"] = nullptr;
        return device;
    }
    device["servo"] = {
        {"max_position", r->maxPosition()},
        {"wheel_mode", r->wheelMode() != 0},
        {"cw_angle_limit", r->cwAngleLimit()},
        {"ccw_angle_limit", r->ccwAngleLimit()},
        {"temperature_limit", r->highestLimitTemperature()},
        {"min_voltage", r->lowestLimitVoltage() / 10.0},
        {"max_voltage", r->highestLimitVoltage() / 10.0},
        {"max_torque", r->maxTorque()},
        {"alarm_led", flagNames(r->alarmLed())},
        {"alarm_shutdown", flagNames(r->alarmShutdown())},
        {"torque_enable", r->torqueEnable() != 0},
        {"led", r->led() != 0},
        {"cw_compliance_margin", r->cwComplianceMargin()},
        {"ccw_compliance_margin", r->ccwComplianceMargin()},
        {"cw_compliance_slope", r->cwComplianceSlope()},
        {"ccw_compliance_slope", r->ccwComplianceSlope()},
        {"punch", r->punch()},
        {"goal_position", r->goalPosition()},
        {"moving_speed", r->movingSpeed()},
        {"torque_limit", r->torqueLimit()},
        {"present_position", r->presentPosition()},
        {"present_speed", r->presentSpeed()},
        {"present_load", r->presentLoad()},
        {"present_voltage", r->presentVoltage() / 10.0},
        {"present_temperature", r->presentTemperature()},
        {"registered", r->registeredInstruction() != 0},
        {"moving", r->moving() != 0},
        {"lock", r->lock() != 0},
        {"errors", flagNames(r->errorBits())},
    };
    return device;
}

}  // namespace mvx::cli
