// "Save Settings..." and "Load Settings..." of the Advance menu: the selected actuator's
// settings to a settings file, and a settings file's differences back onto it after the user
// has seen them. Both run with the bus marked busy from the file dialog to their last result,
// read and write the device in bus jobs (their results come back to `parent`) and report bus
// failures the common way.
#pragma once

class QWidget;

namespace mvx::gui {

class DeviceSheet;
class ManagerApp;

// An adapter is open, no command or modal dialog holds the bus, and the sheet shows an
// actuator that answers reads (return level 1 or 2).
bool settingsCommandsEnabled(const ManagerApp& app, const DeviceSheet& sheet);

// Asks for a file, reads the device and writes the file.
void saveSettings(ManagerApp& app, DeviceSheet& sheet, QWidget* parent);
// Asks for a file, reads it and the device, shows the differences and on "Apply" writes them,
// then shows the device's pages again.
void loadSettings(ManagerApp& app, DeviceSheet& sheet, QWidget* parent);

}  // namespace mvx::gui
