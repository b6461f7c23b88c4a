// A device's address in the robot commands' JSON: {"code": C, "id": N}, or null when none.
#pragma once

#include <nlohmann/json.hpp>

#include "robot/DeviceAddress.h"

namespace mvx::cli {

inline nlohmann::ordered_json addressJson(const DeviceAddress& at) {
    return at.valid() ? nlohmann::ordered_json{{"code", at.code}, {"id", at.id}}
                      : nlohmann::ordered_json();
}

}  // namespace mvx::cli
