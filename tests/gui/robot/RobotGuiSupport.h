// What the robot windows' tests share: buses with devices that come and go, the application
// started on them without a search, the Advance menu's enabling, the host's writes.
#pragma once

#include <QList>
#include <QPair>

#include <memory>
#include <vector>

#include "support/GuiHarness.h"

namespace mvx::gui::test {

using mvx::test::simSpec;

using mvx::test::newcomer;

BusDescription busOf(std::vector<SimDeviceSpec> devices);

// The application on a bus of these devices, its adapter open, nothing searched yet.
std::unique_ptr<GuiHarness> startedOn(std::vector<SimDeviceSpec> devices);

// Whether the Advance or Connection menu offers `command` now.
bool offered(GuiHarness& h, Command command);

// (ID, register address) of the host's Write packets since the traffic was cleared.
QList<QPair<int, int>> writes(const GuiHarness& h);
// How many of them write register `address`.
int writesOf(const GuiHarness& h, int address);

}  // namespace mvx::gui::test
