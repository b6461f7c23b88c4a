#include "robot/RobotProfile.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <regex>

#include "device/ModelCatalogue.h"
#include "drivers/RegularFile.h"
#include "json/JsonInput.h"

namespace mvx {

namespace {

using Json = nlohmann::ordered_json;

const char* const kProfileKeys[] = {"format", "version", "taken", "codes", "devices"};
const char* const kDeviceKeys[] = {"baud",    "id", "model", "model_name", "firmware_version",
                                   "settings"};

template <std::size_t N>
bool known(const char* const (&keys)[N], const std::string& key) {
    return std::find_if(std::begin(keys), std::end(keys),
                        [&key](const char* k) { return key == k; }) != std::end(keys);
}

class Reader {
public:
    Reader(const std::string& fileName, std::string& error) : fileName_(fileName), error_(error) {}

    bool refuse(const std::string& key, const std::string& reason) const {
        error_ = fileName_ + ": " + (key.empty() ? "" : key + ": ") + reason;
        return false;
    }

    bool read(const Json& file, RobotProfile& profile) const {
        if (!file.is_object()) {
            return refuse("", "not a robot profile (no JSON object)");
        }
        if (!file.contains("format") || file["format"] != kProfileFormatName) {
            return refuse("format", std::string("not a robot profile (format \"") +
                                        kProfileFormatName + "\" expected)");
        }
        int version = 0;
        if (!file.contains("version") || !jsonIntegerIn(file["version"], 1, 1 << 30, version)) {
            return refuse("version", "missing or not a positive whole number");
        }
        if (version != kProfileFormatVersion) {
            return refuse("version", "version " + std::to_string(version) +
                                         " is not supported (this program reads version " +
                                         std::to_string(kProfileFormatVersion) + ")");
        }
        for (const auto& item : file.items()) {
            if (!known(kProfileKeys, item.key())) {
                return refuse(item.key(), "unknown key");
            }
        }
        for (const char* key : kProfileKeys) {
            if (!file.contains(key)) {
                return refuse(key, "missing");
            }
        }
        static const std::regex kTimestamp(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)");
        if (!file["taken"].is_string() ||
            !std::regex_match(file["taken"].get<std::string>(), kTimestamp)) {
            return refuse("taken",
                          shownJson(file["taken"]) + " is not a UTC time (YYYY-MM-DDThh:mm:ssZ)");
        }
        profile.takenAt = file["taken"].get<std::string>();
        const Json& codes = file["codes"];
        if (!codes.is_array() || codes.empty() || codes.size() > 255) {
            return refuse("codes", "not a list of the baud-rate codes searched (1 to 255 codes)");
        }
        profile.codes.clear();
        for (const Json& c : codes) {
            int code = 0;
            if (!jsonIntegerIn(c, 0, 255, code)) {
                return refuse("codes", c.dump() + " is not a baud-rate code (0-255)");
            }
            if (std::find(profile.codes.begin(), profile.codes.end(), code) !=
                profile.codes.end()) {
                return refuse("codes", "code " + std::to_string(code) + " is given twice");
            }
            profile.codes.push_back(code);
        }
        const Json& devices = file["devices"];
        if (!devices.is_array()) {
            return refuse("devices", "not a list of devices");
        }
        profile.devices.clear();
        for (std::size_t i = 0; i < devices.size(); ++i) {
            ProfileDevice device;
            if (!readDevice(devices[i], "devices[" + std::to_string(i) + "]", profile, device)) {
                return false;
            }
            profile.devices.push_back(std::move(device));
        }
        return true;
    }

private:
    bool readDevice(const Json& d, const std::string& where, const RobotProfile& profile,
                    ProfileDevice& device) const {
        if (!d.is_object()) {
            return refuse(where, "not a device (a JSON object)");
        }
        for (const auto& item : d.items()) {
            if (!known(kDeviceKeys, item.key())) {
                return refuse(where + "." + item.key(), "unknown key");
            }
        }
        for (const char* key : kDeviceKeys) {
            if (!d.contains(key) && std::strcmp(key, "settings") != 0) {
                return refuse(where + "." + key, "missing");
            }
        }
        if (!jsonIntegerIn(d["baud"], 0, 255, device.at.code)) {
            return refuse(where + ".baud", "not a baud-rate code (0-255)");
        }
        if (std::find(profile.codes.begin(), profile.codes.end(), device.at.code) ==
            profile.codes.end()) {
            return refuse(where + ".baud", "code " + std::to_string(device.at.code) +
                                               " is not among the codes searched");
        }
        if (!jsonIntegerIn(d["id"], 0, 253, device.at.id)) {
            return refuse(where + ".id", "not an ID (0-253)");
        }
        if (profile.find(device.at) != nullptr) {
            return refuse(where, "a second device at " + addressWords(device.at));
        }
        if (!jsonIntegerIn(d["model"], 0, 65535, device.modelNumber)) {
            return refuse(where + ".model", "not a model number (0-65535)");
        }
        const std::string name = displayName(device.modelNumber);
        if (d["model_name"] != name) {
            return refuse(where + ".model_name",
                          d["model_name"].dump() + " is not the name of model " +
                              std::to_string(device.modelNumber) + " (" + name + ")");
        }
        if (!jsonIntegerIn(d["firmware_version"], 0, 255, device.firmwareVersion)) {
            return refuse(where + ".firmware_version", "not a version (0-255)");
        }
        if (!d.contains("settings")) {
            return true;
        }
        // The settings file's own reader, on the settings as a file of their own.
        const std::string key = where + ".settings";
        if (!d["settings"].is_object()) {
            return refuse(key, "not the settings of an actuator (a settings file's object)");
        }
        DeviceSettings settings;
        if (!parseSettingsText(d["settings"].dump(), fileName_ + ": " + key, settings, error_)) {
            return false;
        }
        if (settings.modelNumber != device.modelNumber ||
            settings.firmwareVersion != device.firmwareVersion || settings.id != device.at.id ||
            settings.baudCode != device.at.code) {
            return refuse(key,
                          "taken from another device (model, firmware version, ID or baud "
                          "differ from the device's)");
        }
        device.settings = std::move(settings);
        return true;
    }

    const std::string& fileName_;
    std::string& error_;
};

}  // namespace

std::vector<DeviceAddress> RobotProfile::addresses() const {
    std::vector<DeviceAddress> out;
    for (const ProfileDevice& d : devices) {
        out.push_back(d.at);
    }
    return out;
}

const ProfileDevice* RobotProfile::find(const DeviceAddress& at) const {
    for (const ProfileDevice& d : devices) {
        if (d.at == at) {
            return &d;
        }
    }
    return nullptr;
}

std::string profileJsonText(const RobotProfile& profile) {
    Json devices = Json::array();
    for (const ProfileDevice& d : profile.devices) {
        Json device = Json::object();
        device["baud"] = d.at.code;
        device["id"] = d.at.id;
        device["model"] = d.modelNumber;
        device["model_name"] = displayName(d.modelNumber);
        device["firmware_version"] = d.firmwareVersion;
        if (d.settings) {
            device["settings"] = Json::parse(settingsJsonText(*d.settings));
        }
        devices.push_back(std::move(device));
    }
    Json file = Json::object();
    file["format"] = kProfileFormatName;
    file["version"] = kProfileFormatVersion;
    file["taken"] = profile.takenAt;
    file["codes"] = profile.codes;
    file["devices"] = std::move(devices);
    return file.dump(2) + "\n";
}

bool parseProfileText(const std::string& text, const std::string& fileName, RobotProfile& profile,
                      std::string& error) {
    const Reader reader(fileName, error);
    Json file;
    JsonRefusal problem;
    if (!parseJsonInput(text, file, problem)) {
        if (problem.kind == JsonRefusal::Kind::Syntax) {
            return reader.refuse("", "not a JSON file (" + problem.reason() + ")");
        }
        return reader.refuse(problem.key, problem.reason());
    }
    try {
        return reader.read(file, profile);
    } catch (const std::exception& e) {
        // The reader checks each value's kind before it takes it; this is a last guard.
        return reader.refuse("", std::string("not a robot profile (") + e.what() + ")");
    }
}

bool readProfileFile(const std::string& path, RobotProfile& profile, std::string& error) {
    RegularFile file = RegularFile::open(path);
    std::string text;
    if (!file.readAll(kProfileFileMaxBytes, text)) {
        error = path + ": " +
                (file.status() == RegularFile::Status::TooLarge
                     ? "larger than 4 MB; not a robot profile"
                     : file.problem());
        return false;
    }
    return parseProfileText(text, path, profile, error);
}

}  // namespace mvx
