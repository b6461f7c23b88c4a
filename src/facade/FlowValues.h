// The library's checks of lists and addresses (with the command line's messages), and the
// core's reports of the settings transfers and the robot flows as the library's values.
#pragma once

#include <string>
#include <vector>

#include "device/SettingsTransfer.h"
#include "movantrix/types.h"
#include "robot/AssignFlow.h"
#include "robot/ProfileCheck.h"
#include "robot/ProfileFlows.h"

namespace movantrix::detail {

// The codes to search: `codes` checked (0-255, each once), or when empty all 255 with `full`,
// else the nine common ones. std::invalid_argument with the command line's message.
std::vector<int> checkCodes(const std::vector<int>& codes, bool full);
// IDs to give or to restore (0-253, each once, at least one).
void checkIds(const std::vector<int>& ids, const char* what);
// A device address: code 0-255, ID 0-253.
void checkAddress(int code, int id);

Address addressOf(const mvx::DeviceAddress& at);
std::vector<SettingDifference> differencesOf(const std::vector<mvx::SettingChange>& changes);
std::vector<std::string> namesOf(const std::vector<mvx::SettingChange>& changes);
AssignRow assignRowOf(const mvx::AssignRow& row);
AssignEventKind assignEventKindOf(mvx::AssignEventKind kind);
CheckRow checkRowOf(const mvx::CheckRow& row);
ApplyRow applyRowOf(const mvx::ApplyRow& row);

}  // namespace movantrix::detail
