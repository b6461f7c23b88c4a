// Chooses the adapter to open when there are several (or their listing failed): lists them by
// description and opens the chosen one, offering the list again after a failed open. The
// listing and the opening are bus jobs; OK and the list are disabled while one runs. With no
// adapter or exactly one the Open command does not show it (MainWindow::chooseAdapter).
#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class PortDialog;
}

namespace mvx {
class BusConnection;
}

namespace mvx::gui {

class ManagerApp;

// The adapters plugged in, as the Open command lists them.
struct AdapterListing {
    int count = 0;  // -1 when the listing failed
    // One per adapter; nothing where its description is unreadable.
    std::vector<std::optional<std::string>> names;

    static AdapterListing jobFailed() { return {-1, {}}; }
};

// Inside a job: the adapters of `bus`'s driver and their names.
AdapterListing listAdapters(BusConnection& bus);

class PortDialog : public QDialog {
    Q_OBJECT

public:
    PortDialog(ManagerApp& app, const AdapterListing& listing, QWidget* parent = nullptr);
    ~PortDialog() override;

    // After OK opened an adapter: what it could not be set up for.
    const std::vector<std::string>& limitations() const { return limitations_; }

public slots:
    void reject() override;

private:
    void onOk();
    // One line per adapter of `listing`: its description, or "Unknown device name".
    void fillList(const AdapterListing& listing);
    void setBusy(bool busy);

    ManagerApp& app_;
    std::unique_ptr<Ui::PortDialog> ui_;
    std::vector<std::string> limitations_;
    bool busy_ = false;
};

}  // namespace mvx::gui
