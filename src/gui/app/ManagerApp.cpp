#include "gui/app/ManagerApp.h"

#include <algorithm>

#include "protocol/ResultCode.h"

namespace mvx::gui {

bool reportable(int result) {
    return result == AdapterFailure || result == Timeout || result == CorruptReply;
}

ManagerApp::ManagerApp(FtDriver& driver, Clock& clock, GuiOperations& operations, BusLog* busLog)
    : clock_(clock),
      operations_(operations),
      ownBusLog_(busLog == nullptr ? std::make_unique<BusLog>(clock) : nullptr),
      busLog_(busLog == nullptr ? ownBusLog_.get() : busLog),
      registry_(driver, clock),
      executor_(clock, [this] { return busBusy.load() > 0; }),
      jobs_(std::make_unique<BusJobs>(executor_, busBusy)) {
    // Before any job: the executor opens the adapter only on the start-up's command.
    registry_.bus().setTap(busLog_);
}

ManagerApp::~ManagerApp() {
    registry_.stopSearch();
    executor_.stop([this] {
        registry_.bus().close();
        registry_.clear();
    });
}

void ManagerApp::updateDevice(const DeviceSummary& device) {
    for (DeviceSummary& listed : devices_) {
        if (listed.baudCode == device.baudCode && listed.id == device.id) {
            listed = device;
        }
    }
}

void ManagerApp::forgetDevice(int code, int id) {
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [code, id](const DeviceSummary& d) {
                                      return d.baudCode == code && d.id == id;
                                  }),
                   devices_.end());
}

const DeviceSummary* ManagerApp::findDevice(int code, int id) const {
    const auto it = std::find_if(devices_.begin(), devices_.end(), [code, id](const auto& d) {
        return d.baudCode == code && d.id == id;
    });
    return it != devices_.end() ? &*it : nullptr;
}

std::vector<int> ManagerApp::idsAt(int code) const {
    std::vector<int> ids;
    for (const DeviceSummary& device : devices_) {
        if (device.baudCode == code) {
            ids.push_back(device.id);
        }
    }
    return ids;
}

}  // namespace mvx::gui
