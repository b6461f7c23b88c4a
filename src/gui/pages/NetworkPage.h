// "Network": a device's ID, baud rate, status return level and return delay time. The four
// lists collect changes; "Apply" writes them, in two bus jobs around the question a return
// level of 0 asks (the return delay first, then the level and the address). The page is
// disabled while they are on the bus. They are page writes: when the user selects another
// device meanwhile, the second still follows the first, failures are reported against the
// device written, and the tree shows it at its new address.
#pragma once

#include <memory>
#include <vector>

#include "device/DeviceRegistry.h"
#include "gui/sheet/DevicePage.h"

namespace Ui {
class NetworkPage;
}

namespace mvx::gui {

class NetworkPage : public DevicePage {
    Q_OBJECT

public:
    explicit NetworkPage(DeviceSheet& sheet);
    ~NetworkPage() override;

    // Lists the IDs and baud rates around the sheet's device, reads its identity again and
    // selects its settings. Refused when the device is gone or its read failure was reported.
    void activate(Activated activated) override;

    // The baud-rate codes of the Baud Rate list for a device at `code`: the common codes in
    // ascending order with `code` among them in its place, each code once.
    static std::vector<int> baudChoices(int code);

private:
    void fillIdList(int code, int id);
    void fillBaudList(int code);
    // The user changed a selection: the changes can be applied.
    void onSelectionChanged();
    // Writes the return delay, the return level, then the address, in this order.
    void apply();
    // The rest of Apply once the return delay is through: the question for level 0, then the
    // level and the address. Runs for the device written even when the page has gone.
    static void applyLevelAndAddress(const WriteTarget& target, const DeviceSummary& device,
                                     int level, int newCode, int newId);

    std::unique_ptr<Ui::NetworkPage> ui_;
    std::vector<int> baudChoices_;
    // Set while the page itself changes selections, which are no user changes.
    bool selecting_ = false;
};

}  // namespace mvx::gui
