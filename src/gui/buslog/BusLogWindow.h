// The Bus Log window (Advance > Bus Log...): the bus connection's log as a live table that
// follows the tail until the user scrolls up, with filters, Pause (the log keeps recording,
// the table stands still), Clear and Save (text or CSV). It copies new entries out of the
// log's store on a GUI timer and never waits on the bus. One per main window, not modal.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

#include "gui/buslog/BusLogModel.h"

namespace Ui {
class BusLogWindow;
}

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;

class BusLogWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPeriodMs = 100;

    explicit BusLogWindow(ManagerApp& app, QWidget* parent = nullptr);
    ~BusLogWindow() override;

    BusLogModel& model() { return *model_; }
    // Copies what the log recorded since the last time into the table (the timer's tick).
    void refresh();

private:
    void filterChanged();
    void paused(bool on);
    void clear();
    void save();
    void showCount();

    ManagerApp& app_;
    std::unique_ptr<Ui::BusLogWindow> ui_;
    BusLogModel* model_;
    std::uint64_t next_ = 0;  // the sequence number of the next entry to copy
    std::unique_ptr<RepeatingTimer> timer_;
};

}  // namespace mvx::gui
