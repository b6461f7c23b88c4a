#include "RobotFixture.h"

#include <set>

#include "device/NamedRegister.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"

namespace mvx::test {

void RobotTest::startRobotBus(std::vector<SimDeviceSpec> devices, std::int64_t spacingUs) {
    events.clear();
    eventUs.clear();
    onEvent = nullptr;
    stop = false;
    giveUpUs = 900000000;
    writesTo_ = {};
    sharingExpected = false;
    sharedSeen_ = 0;
    BusDescription description;
    description.devices = std::move(devices);
    description.broadcastSpacingUs = spacingUs;
    startBus(description);
    driver.hook = [this](const std::string& call) {
        if (call == "write") {
            watchSharing();
        }
        return FT_OK;
    };
}

void RobotTest::watchSharing() {
    std::set<std::pair<int, int>> seen;
    for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
        SimulatedDevice& d = sim->device(i);
        if (d.present() && !seen.insert({d.code(), d.id()}).second && !sharingExpected) {
            ++sharedSeen_;
        }
    }
}

AssignReport RobotTest::assign(AssignPlan plan) {
    writesTo_ = {};
    if (plan.codes.empty()) {
        plan.codes = {1, 34, 3, 4, 7, 9, 16, 103, 207};
    }
    AssignFlow flow(*registry, *this);
    return flow.run(plan, stop);
}

void RobotTest::onAssignEvent(const AssignEvent& event) {
    tallyWrites();
    events.push_back(event);
    eventUs.push_back(clock.nowUs());
    if (clock.nowUs() > giveUpUs) {
        stop = true;
    }
    if (onEvent) {
        onEvent(event);
    }
}

std::vector<AssignEvent> RobotTest::eventsOf(AssignEventKind kind) const {
    std::vector<AssignEvent> out;
    for (const AssignEvent& e : events) {
        if (e.kind == kind) {
            out.push_back(e);
        }
    }
    return out;
}

void RobotTest::tallyWrites() {
    for (const SimTraffic& t : packets(Write)) {
        if (t.bytes.size() > 5) {
            ++writesTo_[t.bytes[5]];
        }
    }
    sim->clearTraffic();
}

int RobotTest::registerWrites(int address) {
    tallyWrites();
    return writesTo_[static_cast<std::size_t>(address)];
}

}  // namespace mvx::test
