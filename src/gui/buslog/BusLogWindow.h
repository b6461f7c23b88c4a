// The Bus Log window (Advance > Bus Log...): the bus connection's log as a live table that
// follows the tail until the user scrolls up, with filters, Pause (the log keeps recording,
// the table stands still), Clear and Save (text or CSV). It copies new entries out of the
// log's store on a GUI timer and never waits on the bus. One per main window, not modal.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <cstddef>
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
    // Entries copied into the table at a time: a window opened (or resumed) with a full log
    // behind it catches up in steps of this many, the event loop running between them, rather
    // than in one block of the GUI thread.
    static constexpr std::size_t kEntriesPerStep = 500;

    explicit BusLogWindow(ManagerApp& app, QWidget* parent = nullptr);
    ~BusLogWindow() override;

    BusLogModel& model() { return *model_; }
    // Copies what the log recorded since the last time into the table (the timer's tick), at
    // most kEntriesPerStep of it; a next step is queued while more waits.
    void refresh();
    // Whether entries the table should show are still waiting to be copied (not while paused).
    bool behind() const;

private:
    void filterChanged();
    void paused(bool on);
    void clear();
    void save();
    void showCount();
    // While the table catches up (`more` waits), it is drawn once per kPeriodMs rather than
    // after every step: a step takes well under a millisecond, drawing the table a few.
    void paceDrawing(bool more);

    ManagerApp& app_;
    std::unique_ptr<Ui::BusLogWindow> ui_;
    BusLogModel* model_;
    std::uint64_t next_ = 0;  // the sequence number of the next entry to copy
    bool stepQueued_ = false;
    QElapsedTimer drawn_;  // since the table was last drawn while catching up
    std::unique_ptr<RepeatingTimer> timer_;
};

}  // namespace mvx::gui
