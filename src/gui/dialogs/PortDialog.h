// Chooses the adapter to open. With no adapter it only says so; with exactly one it opens it
// at once without showing itself; with several it lists them by description and opens the
// chosen one, offering the list again after a failed open.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class PortDialog;
}

namespace mvx::gui {

class ManagerApp;

class PortDialog : public QDialog {
    Q_OBJECT

public:
    PortDialog(ManagerApp& app, QWidget* parent = nullptr);
    ~PortDialog() override;

    // Runs the start-up rules and, when there is a choice, the dialog itself. The result is
    // QDialog::Accepted only when the dialog was shown and OK opened an adapter; callers ask
    // the bus whether an adapter is open.
    int run();

private:
    void onOk();
    // One line per adapter of a count of `count`: its description, or "Unknown device name".
    void fillList(int count);

    ManagerApp& app_;
    std::unique_ptr<Ui::PortDialog> ui_;
};

}  // namespace mvx::gui
