// The main window's client area: the count label over the device tree on the left, the device
// property sheet on the right. Rebuilds both from the device list, and shows the device the
// user selects in the tree.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class MainView;
}

namespace mvx {
struct DeviceSummary;
}

namespace mvx::gui {

class DeviceSheet;
class DeviceTree;
class ManagerApp;

class MainView : public QWidget {
    Q_OBJECT

public:
    MainView(ManagerApp& app, QWidget* parent = nullptr);
    ~MainView() override;

    // A job pings every device when an adapter is open (the silent ones are dropped) and
    // takes the device list; then the tree is rebuilt with (code, id) as the wished selection,
    // the sheet shows the tree's device and the count follows. `shown` runs once the sheet has
    // settled on a page (or a later rebuild took over). The sheet's pages are retired at once:
    // nothing more of them reaches the bus or the screen.
    void refreshDeviceList(int code, int id, std::function<void()> shown = {});

    DeviceTree& tree();
    DeviceSheet& sheet() { return *sheet_; }

signals:
    // Around every refresh of the device list, from its submission to its result.
    void aboutToRefresh();
    void refreshed();

private:
    void onSelectionChanged();
    // The device list the refresh job found, on the screen.
    void showDevices(std::vector<DeviceSummary> devices, int code, int id,
                     std::function<void()> shown);

    ManagerApp& app_;
    std::unique_ptr<Ui::MainView> ui_;
    DeviceSheet* sheet_ = nullptr;
    int refreshing_ = 0;
};

}  // namespace mvx::gui
