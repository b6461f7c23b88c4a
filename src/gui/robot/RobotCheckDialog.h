// "Check Robot": the modal dialog that compares the bus with a robot profile. It searches the
// profile's codes in a bus job (progress on a 300 ms timer), then shows one row per expected
// and per unexpected device, each with the icon and colour of its kind and the differences in
// words. "Apply Settings" writes the profile's settings where they differ and "Adopt" gives
// the one newcomer the missing joint's address and settings (after a confirmation naming both
// addresses); each is a bus job followed by a new check. Closing it during a job stops the
// search, and it ends once the job's result is in.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "gui/robot/RobotSurvey.h"
#include "robot/ProfileFlows.h"

namespace Ui {
class RobotCheckDialog;
}

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;

class RobotCheckDialog : public QDialog {
    Q_OBJECT

public:
    // Starts the first check at once.
    RobotCheckDialog(ManagerApp& app, RobotProfile profile, const QString& fileName,
                     QWidget* parent = nullptr);
    ~RobotCheckDialog() override;

    // A job of the dialog is on the bus.
    bool working() const { return working_; }
    const std::vector<CheckRow>& rows() const { return rows_; }

    // The picture of a row kind (ok, missing, moved ...).
    static QIcon kindIcon(CheckKind kind);
    // The background of its row.
    static QColor kindColour(CheckKind kind);

    // Whether the last survey was stopped before it covered the profile's codes: the registry
    // then holds only part of the bus. The devices the last complete one found.
    bool surveyStopped() const { return surveyStopped_; }
    const std::vector<FoundDevice>& found() const { return found_; }

public slots:
    void reject() override;

private:
    enum class Action { Check, Apply, Adopt };
    struct Outcome;

    // Runs `action` in a job, then checks the bus again.
    void start(Action action);
    void onAdopt();
    void onDone(const Outcome& outcome);
    void showRows();
    void setWorking(bool working);

    ManagerApp& app_;
    std::unique_ptr<Ui::RobotCheckDialog> ui_;
    RobotProfile profile_;
    std::vector<FoundDevice> found_;  // by the last check: what the registry holds
    std::vector<CheckRow> rows_;
    AdoptResult adopt_;  // whether the adopt rule holds now
    bool checked_ = false;
    std::shared_ptr<SurveyProgress> progress_;
    std::unique_ptr<RepeatingTimer> timer_;
    bool working_ = false;
    bool closeWhenEnded_ = false;
    bool surveyStopped_ = false;
};

}  // namespace mvx::gui
