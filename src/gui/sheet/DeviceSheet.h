// The tabbed panel beside the device tree: the Operation, Configure and Network pages for an
// actuator that answers reads, only Network for a sensor, an unknown model or a device at
// return level 0, and "No Information" when no device is selected. It keeps the device whose
// pages it shows, creates the pages anew for every device, and keeps them off the bus while it
// rearranges them.
//
// Pages load their device through bus jobs, so an activation ends when its result is in. The
// sheet then goes on from there: a refused page gives way to the first page, then to the
// Network page alone, then to "No Information". A newer showDevice, a tab the user picks or a
// rebuild on its way (expectRebuild) ends the activation under way.
#pragma once

#include <QTabWidget>
#include <functional>
#include <vector>

namespace mvx::gui {

class DevicePage;
class ManagerApp;

class DeviceSheet : public QTabWidget {
    Q_OBJECT

public:
    explicit DeviceSheet(ManagerApp& app, QWidget* parent = nullptr);
    ~DeviceSheet() override;

    // Rebuilds the page set for (code, id) as the GUI's device list has it and activates a
    // page: the tab that was active if the new set has it, else the first. (-1, -1) or an
    // unlisted pair: "No Information". When neither that page nor the first one can show the
    // device, the sheet falls back to the Network page alone, and to "No Information" when
    // that cannot show it either. `shown` runs once a page has accepted, or a later
    // showDevice, tab change or expectRebuild has ended this activation.
    void showDevice(int code, int id, std::function<void()> shown = {});
    // A refresh or a close is on its way and will show a device again: the activation under
    // way ends here, and the pages are retired (disabled; the results of their reads are
    // dropped, the Operation page's poll stops; their writes' results still reach the device
    // written, see DevicePage).
    void expectRebuild();

    int currentBaud() const { return currentBaud_; }
    int currentId() const { return currentId_; }
    // 1 while showDevice removes and adds pages; pages then do nothing on activation.
    int rebuilding() const { return rebuilding_; }

    ManagerApp& app() { return app_; }
    DevicePage* currentPage() const;

signals:
    // showDevice has taken (code, id) as the device whose pages it shows.
    void deviceShown();

private:
    enum class PageSet { NoInformation, NetworkOnly, Actuator };

    void onCurrentChanged(int index);
    // Ends the activation under way: its `shown` callbacks run, and results still on their
    // way to it are ignored.
    void endActivation();
    // Activates page `index`, falling back as showDevice tells when it is refused.
    void activatePage(int index);
    // The Network page alone (unless it was tried already or the device is not listed), then
    // "No Information".
    void fallBack(bool networkTried, unsigned activation);
    // Makes page `index` current and activates it; `then` gets whether it accepted.
    void activateAt(int index, std::function<void(bool)> then);
    // Replaces every page by the pages of `set`, which do nothing on activation meanwhile.
    void setPages(PageSet set);
    void addPage(DevicePage* page);

    ManagerApp& app_;
    int currentBaud_ = -1;
    int currentId_ = -1;
    int rebuilding_ = 0;
    // Counts activations, so that a result can tell whether its activation still runs.
    unsigned activation_ = 0;
    std::vector<std::function<void()>> shown_;  // of the activation under way
    bool activating_ = false;
    DevicePage* activePage_ = nullptr;
};

}  // namespace mvx::gui
