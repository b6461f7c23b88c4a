// The modal dialog in which the user searches the bus: a quick or full search (the standard one,
// or with "Fast" checked the fast one) on a worker thread, its progress, the count of devices
// found and the devices themselves, refreshed on a 300 ms timer. It ends with OK once a search
// was started, also by Escape or its close box, and as cancelled before. The worker never
// outlives the dialog: closing it during a search stops the search and waits for the worker.
// After a fast search that saw devices answer the broadcast late, a line says so.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>

namespace Ui {
class SearchDialog;
}

namespace mvx::gui {

class ManagerApp;
class RepeatingTimer;
class WorkerThread;

class SearchDialog : public QDialog {
    Q_OBJECT

public:
    SearchDialog(ManagerApp& app, QWidget* parent = nullptr);
    ~SearchDialog() override;

    bool searching() const { return worker_ != nullptr; }

public slots:
    void reject() override;

private:
    void onSearch();
    void onStop();
    void onOk();
    void onTick();
    // The worker has ended (or was joined): reports an adapter failure, or re-enables the
    // controls. Returns false when it ended the dialog.
    bool onSearchEnded();
    void setIdleControls(bool idle);

    ManagerApp& app_;
    std::unique_ptr<Ui::SearchDialog> ui_;
    std::unique_ptr<RepeatingTimer> timer_;
    std::unique_ptr<WorkerThread> worker_;
    std::atomic<int> result_{0};
    std::atomic<bool> lateAnswers_{false};  // the fast search saw late broadcast answers
    bool searched_ = false;
    int lastShownCount_ = 0;
};

}  // namespace mvx::gui
