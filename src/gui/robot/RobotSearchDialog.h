// The modal dialog of "Save Robot Profile..." while the bus is searched: a progress bar fed
// from the search job on a 300 ms timer, and Stop. It ends with OK when the search's result is
// in; Stop, Escape and the close box stop the search, and the dialog ends when its result is
// in (stopped() then tells the caller that the bus was not searched to its end).
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "gui/robot/RobotSurvey.h"

namespace Ui {
class RobotSearchDialog;
}

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;

class RobotSearchDialog : public QDialog {
    Q_OBJECT

public:
    // Starts the search of `codes` at once.
    RobotSearchDialog(ManagerApp& app, const std::vector<int>& codes, QWidget* parent = nullptr);
    ~RobotSearchDialog() override;

    bool searching() const { return searching_; }
    const Surveyed& surveyed() const { return surveyed_; }

public slots:
    void reject() override;

private:
    std::unique_ptr<Ui::RobotSearchDialog> ui_;
    std::shared_ptr<SurveyProgress> progress_ = std::make_shared<SurveyProgress>();
    std::unique_ptr<RepeatingTimer> timer_;
    Surveyed surveyed_;
    bool searching_ = true;
};

}  // namespace mvx::gui
