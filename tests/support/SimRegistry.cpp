#include "support/SimRegistry.h"

#include <algorithm>
#include <cmath>

namespace mvx::test {

namespace {

// The open adapter of a HookedDriver.
class HookedDevice final : public FtDevice {
public:
    HookedDevice(HookedDriver& driver, FtHandle inner)
        : driver_(driver), inner_(std::move(inner)) {}

    FtStatus resetDevice() override {
        return call("resetDevice", [&] { return inner_->resetDevice(); });
    }
    FtStatus setDataCharacteristics(std::uint8_t w, std::uint8_t s, std::uint8_t p) override {
        return call("setDataCharacteristics",
                    [&] { return inner_->setDataCharacteristics(w, s, p); });
    }
    FtStatus setFlowControl(std::uint16_t f, std::uint8_t on, std::uint8_t off) override {
        return call("setFlowControl", [&] { return inner_->setFlowControl(f, on, off); });
    }
    FtStatus setTimeouts(std::uint32_t r, std::uint32_t w) override {
        return call("setTimeouts", [&] { return inner_->setTimeouts(r, w); });
    }
    FtStatus setLatencyTimer(std::uint8_t ms) override {
        return call("setLatencyTimer", [&] { return inner_->setLatencyTimer(ms); });
    }
    FtStatus setUsbParameters(std::uint32_t in, std::uint32_t out) override {
        return call("setUsbParameters", [&] { return inner_->setUsbParameters(in, out); });
    }
    FtStatus setBaudRate(std::uint32_t bps) override {
        return call("setBaudRate", [&] { return inner_->setBaudRate(bps); });
    }
    FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode) override {
        return call("setBitMode", [&] { return inner_->setBitMode(mask, mode); });
    }
    FtStatus purge(std::uint32_t mask) override {
        return call("purge", [&] { return inner_->purge(mask); });
    }
    FtStatus getQueueStatus(std::uint32_t* rx) override {
        return call("getQueueStatus", [&] { return inner_->getQueueStatus(rx); });
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        *received = 0;
        return call("read", [&] { return inner_->read(buffer, count, received); });
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        *written = 0;
        return call("write", [&] {
            std::uint32_t cut = count;
            if (driver_.shortWrite >= 0) {
                cut = std::min(count, static_cast<std::uint32_t>(driver_.shortWrite));
                driver_.shortWrite = -1;
            }
            return inner_->write(buffer, cut, written);
        });
    }
    FtStatus close() override {
        driver_.noteThread("close");
        return inner_->close();
    }
    std::vector<std::string> limitations() const override { return inner_->limitations(); }
    std::int64_t receiveLatencyUs() const override { return inner_->receiveLatencyUs(); }

private:
    template <typename F>
    FtStatus call(const std::string& name, F&& forward) {
        const FtStatus status = driver_.before(name);
        return status != FT_OK ? status : forward();
    }

    HookedDriver& driver_;
    FtHandle inner_;
};

bool isPacket(const SimTraffic& t) {
    return t.bytes.size() >= 6 && t.bytes[0] == 0xFF && t.bytes[1] == 0xFF;
}

}  // namespace

void HookedDriver::noteThread(const std::string& call) {
    if (std::this_thread::get_id() == forbiddenThread.load()) {
        std::lock_guard lock(mutex_);
        forbiddenCalls_.push_back(call);
    }
}

std::vector<std::string> HookedDriver::forbiddenCalls() const {
    std::lock_guard lock(mutex_);
    return forbiddenCalls_;
}

FtStatus HookedDriver::open(std::uint32_t index, FtHandle* handle) {
    noteThread("open");
    FtHandle inner;
    const FtStatus status = target->open(index, &inner);
    if (status == FT_OK) {
        *handle = std::make_unique<HookedDevice>(*this, std::move(inner));
    }
    return status;
}

SimDeviceSpec simSpec(int code, int id, int model, int version, int level,
                      std::map<int, int> registers) {
    SimDeviceSpec deviceSpec;
    deviceSpec.registers = std::move(registers);
    deviceSpec.code = static_cast<std::uint8_t>(code);
    deviceSpec.id = static_cast<std::uint8_t>(id);
    deviceSpec.model = static_cast<std::uint16_t>(model);
    deviceSpec.version = static_cast<std::uint8_t>(version);
    deviceSpec.returnLevel = static_cast<std::uint8_t>(level);
    return deviceSpec;
}

SimDeviceSpec newcomer(int code, int id, double appearS, double disappearS, int model) {
    SimDeviceSpec device = simSpec(code, id, model);
    device.appearAtUs = std::llround(appearS * 1e6);
    device.disappearAtUs = disappearS < 0 ? -1 : std::llround(disappearS * 1e6);
    return device;
}

SimRegistryTest::~SimRegistryTest() {
    registry.reset();  // closes the adapter while the bus is still there
}

void SimRegistryTest::start(std::vector<SimDeviceSpec> devices) {
    BusDescription description;
    description.devices = std::move(devices);
    startBus(description);
}

void SimRegistryTest::startBus(const BusDescription& description, bool latencyKnown) {
    registry.reset();  // an earlier bus goes only after the adapter opened on it
    simDriver.reset();
    sim = std::make_unique<SimulatedBus>(description, clock);
    simDriver = std::make_unique<SimDriver>(*sim);
    simDriver->setLatencyKnown(latencyKnown);
    driver.target = simDriver.get();
    registry.emplace(driver, clock);
    ASSERT_TRUE(registry->bus().open(0));
}

void SimRegistryTest::startDefault() {
    start(SimulatedBus::defaultBus().devices);
}

SimulatedDevice& SimRegistryTest::dev(int code, int id) {
    SimulatedDevice* device =
        sim->find(static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(id));
    EXPECT_NE(device, nullptr) << "no device at code " << code << " id " << id;
    return *device;
}

DeviceEntry& SimRegistryTest::registerDevice(int code, int id) {
    DeviceEntry* entry = registry->appendPlaceholder();
    EXPECT_EQ(entry->probe(code, id), 100) << code << "/" << id;
    sim->clearTraffic();
    return *entry;
}

std::vector<SimTraffic> SimRegistryTest::hostWrites(std::uint32_t rate) const {
    std::vector<SimTraffic> out;
    for (SimTraffic& t : sim->traffic()) {
        if (t.direction == SimTraffic::HostToBus && (rate == 0 || t.rateBps == rate)) {
            out.push_back(std::move(t));
        }
    }
    return out;
}

std::vector<SimTraffic> SimRegistryTest::packets(int instruction, int id) const {
    std::vector<SimTraffic> out;
    for (SimTraffic& t : hostWrites()) {
        if (isPacket(t) && t.bytes[4] == instruction && (id < 0 || t.bytes[2] == id)) {
            out.push_back(std::move(t));
        }
    }
    return out;
}

std::vector<SimTraffic> SimRegistryTest::rawWrites(std::uint32_t rate) const {
    std::vector<SimTraffic> out;
    for (SimTraffic& t : hostWrites(rate)) {
        if (!isPacket(t)) {
            out.push_back(std::move(t));
        }
    }
    return out;
}

Bytes SimRegistryTest::params(const SimTraffic& packet) {
    return Bytes(packet.bytes.begin() + 5, packet.bytes.end() - 1);
}

Bytes SimRegistryTest::bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

}  // namespace mvx::test
