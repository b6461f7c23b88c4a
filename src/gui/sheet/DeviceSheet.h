// The tabbed panel beside the device tree: the Operation, Configure and Network pages for an
// actuator that answers reads, only Network for a sensor, an unknown model or a device at
// return level 0, and "No Information" when no device is selected. It keeps the device whose
// pages it shows, creates the pages anew for every device, and keeps them off the bus while it
// rearranges them.
#pragma once

#include <QTabWidget>
#include <vector>

namespace mvx::gui {

class DevicePage;
class ManagerApp;

class DeviceSheet : public QTabWidget {
    Q_OBJECT

public:
    explicit DeviceSheet(ManagerApp& app, QWidget* parent = nullptr);
    ~DeviceSheet() override;

    // Rebuilds the page set for (code, id) and activates a page: the tab that was active if
    // the new set has it, else the first. (-1, -1) or an unregistered pair: "No Information".
    // When neither that page nor the first one can show the device, the sheet falls back to
    // the Network page alone, and to "No Information" when that cannot show it either.
    void showDevice(int code, int id);

    int currentBaud() const { return currentBaud_; }
    int currentId() const { return currentId_; }
    // 1 while showDevice removes and adds pages; pages then do nothing on activation.
    int rebuilding() const { return rebuilding_; }

    ManagerApp& app() { return app_; }
    DevicePage* currentPage() const;

private:
    enum class PageSet { NoInformation, NetworkOnly, Actuator };

    void onCurrentChanged(int index);
    // Makes page `index` current and activates it. A refusal falls back to the first page,
    // then to the Network page alone, then to "No Information", unless the activation
    // rebuilt the sheet itself (it then has an active page already).
    void activatePage(int index);
    // Makes page `index` current and activates it; true when it was accepted or the
    // activation rebuilt the sheet.
    bool activatedOrRebuilt(int index);
    // Replaces every page by the pages of `set`, which do nothing on activation meanwhile.
    void setPages(PageSet set);
    void addPage(DevicePage* page);

    ManagerApp& app_;
    int currentBaud_ = -1;
    int currentId_ = -1;
    int rebuilding_ = 0;
    // Counts page-set rebuilds, so an activation can tell that it rebuilt the sheet.
    unsigned generation_ = 0;
    bool activating_ = false;
    DevicePage* activePage_ = nullptr;
};

}  // namespace mvx::gui
