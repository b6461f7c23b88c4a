// The modal dialog in which the user searches the bus: a quick or full search (the standard one,
// or with "Fast" checked the fast one) as a long job of the bus executor, its progress, the count
// of devices found and the devices themselves, refreshed on a 300 ms timer from the registry's
// progress and its locked snapshot. It ends with OK once a search was started, also by Escape or
// its close box, and as cancelled before. Closing it during a search stops the search, and the
// dialog ends when the search's result is in. After a search that was stopped before it had
// listened at every code for as long as devices may take to answer, a line says so.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "device/DeviceRegistry.h"

namespace Ui {
class SearchDialog;
}

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;

class SearchDialog : public QDialog {
    Q_OBJECT

public:
    SearchDialog(ManagerApp& app, QWidget* parent = nullptr);
    ~SearchDialog() override;

    // A search has been started and its result is not in yet.
    bool searching() const { return searching_; }

public slots:
    void reject() override;

private:
    void onSearch();
    void onStop();
    void onOk();
    void onTick();
    // The search's result is in: reports an adapter failure (the dialog ends, the connection
    // closes), or re-enables the controls, or ends the dialog when it was closed meanwhile.
    void onSearchEnded(int result, bool unsure);
    void setIdleControls(bool idle);

    ManagerApp& app_;
    std::unique_ptr<Ui::SearchDialog> ui_;
    std::unique_ptr<RepeatingTimer> timer_;
    bool searching_ = false;
    std::vector<DeviceSummary> found_;  // by the last search, once it has ended
    bool closeWhenEnded_ = false;
    bool searched_ = false;
    int lastShownCount_ = 0;
};

}  // namespace mvx::gui
