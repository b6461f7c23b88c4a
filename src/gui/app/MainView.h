// The main window's client area: the count label over the device tree on the left, the device
// property sheet on the right. Rebuilds both from the registry, and shows the device the user
// selects in the tree.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class MainView;
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

    // Pings every device when an adapter is open (the silent ones are dropped), rebuilds the
    // tree with (code, id) as the wished selection, shows the tree's device in the sheet and
    // updates the count.
    void refreshDeviceList(int code, int id);

    DeviceTree& tree();
    DeviceSheet& sheet() { return *sheet_; }

signals:
    // Around every refresh of the device list, the registry's change included.
    void aboutToRefresh();
    void refreshed();

private:
    void onSelectionChanged();

    ManagerApp& app_;
    std::unique_ptr<Ui::MainView> ui_;
    DeviceSheet* sheet_ = nullptr;
    int refreshing_ = 0;
};

}  // namespace mvx::gui
