// The settings of a settings file that differ from the selected device's, as the user decides
// on them: one row per setting (name, value now, value from the file), a check box that adds
// the network settings (off; their rows are greyed until it is ticked), "Apply" and "Cancel".
// When nothing but greyed rows is listed, Apply is off and a line points to the box. It only
// shows and chooses; the caller writes.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "device/SettingsTransfer.h"

namespace Ui {
class SettingsDifferencesDialog;
}

namespace mvx::gui {

class SettingsDifferencesDialog : public QDialog {
    Q_OBJECT

public:
    // `changes` hold the network settings too; they are chosen only while the box is ticked.
    SettingsDifferencesDialog(const QString& fileName, std::vector<SettingChange> changes,
                              QWidget* parent = nullptr);
    ~SettingsDifferencesDialog() override;

    // The changes listed now, which Apply writes.
    std::vector<SettingChange> chosenChanges() const;

private:
    void showRows();

    std::unique_ptr<Ui::SettingsDifferencesDialog> ui_;
    std::vector<SettingChange> changes_;
};

}  // namespace mvx::gui
