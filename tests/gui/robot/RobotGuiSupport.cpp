#include "RobotGuiSupport.h"

#include <QMenu>

#include "protocol/Packet.h"

namespace mvx::gui::test {

BusDescription busOf(std::vector<SimDeviceSpec> devices) {
    BusDescription description;
    description.devices = std::move(devices);
    return description;
}

std::unique_ptr<GuiHarness> startedOn(std::vector<SimDeviceSpec> devices) {
    auto h = std::make_unique<GuiHarness>(busOf(std::move(devices)));
    h->dialogs().push_back(GuiHarness::okWithoutSearch);
    h->startUp();
    return h;
}

bool offered(GuiHarness& h, Command command) {
    for (const char* name : {"advanceMenu", "connectionMenu"}) {
        emit h.window().findChild<QMenu*>(QString::fromLatin1(name))->aboutToShow();
    }
    return h.window().action(command)->isEnabled();
}

QList<QPair<int, int>> writes(const GuiHarness& h) {
    QList<QPair<int, int>> out;
    for (const SimTraffic& t : h.hostPackets()) {
        if (t.bytes.size() > 6 && t.bytes[4] == Write) {
            out << qMakePair(int(t.bytes[2]), int(t.bytes[5]));
        }
    }
    return out;
}

int writesOf(const GuiHarness& h, int address) {
    int count = 0;
    for (const auto& [id, at] : writes(h)) {
        count += at == address ? 1 : 0;
    }
    return count;
}

}  // namespace mvx::gui::test
