// "Save Robot Profile..." and "Check Robot..." of the Advance menu. Both hold the bus from the
// file dialog to their last result, search it in bus jobs (the registry then holds what they
// found, and the main window's device list is rebuilt from it) and report bus failures the
// common way.
#pragma once

class QWidget;

namespace mvx::gui {

class ManagerApp;

// Asks for a file, searches the nine common codes and writes the profile of what was found.
void saveRobotProfile(ManagerApp& app, QWidget* parent);
// Asks for a profile, reads it and shows the check of the bus against it (RobotCheckDialog).
void checkRobot(ManagerApp& app, QWidget* parent);

}  // namespace mvx::gui
