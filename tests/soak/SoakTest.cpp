// Fault soak: thousands of operations of the core (setters, loads, address and network
// changes, refreshes, searches, firmware downloads) over a simulated bus whose devices drop,
// cut, corrupt, delay and garble replies, ignore writes or fall silent, and whose adapter fails
// or is unplugged mid-operation. After every operation: the result is a result code, the
// operation ended within its bound on virtual time, nothing was written that it did not ask
// for, every success it claimed is true on the device, and the registry is in shape.
//
// MVX_SOAK_COUNT sets the number of operations, MVX_SOAK_SEED replays a run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <random>

#include "firmware/FirmwareDownload.h"
#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "search/SearchEngine.h"
#include "sim/FirmwareFileWriter.h"
#include "soak/SoakRig.h"
#include "support/SimRegistry.h"

namespace mvx::test {
namespace {

constexpr std::int64_t kMs = 1000;
// One ping: a rate change (100 ms settle) and a timed read of 6 bytes (60 ms margin at the
// slow rates, 1.25 ms a byte at code 207), with room for a stale reply read on top.
constexpr std::int64_t kPingUs = 300 * kMs;
// One transaction of up to 44 data bytes, likewise, plus a 100 ms settling wait.
constexpr std::int64_t kTransactionUs = 600 * kMs;
constexpr std::uint16_t kFirmwareModel = 12;  // restarts at code 1, where its devices live
constexpr std::size_t kImageSize = 600;
const std::array<int, 4> kCodesInUse = {1, 3, 7, 16};

BusDescription soakBus() {
    BusDescription bus;
    bus.devices = {simSpec(1, 1, 12, 24),   simSpec(1, 2, 12, 24),    simSpec(1, 3, 28),
                   simSpec(1, 5, 106),      simSpec(1, 6, 12, 22, 1), simSpec(1, 9, 116, 21, 0),
                   simSpec(3, 4, 64),       simSpec(3, 12, 13),       simSpec(7, 10, 10, 27, 1),
                   simSpec(16, 21, 113, 36)};
    return bus;
}

// The traffic of one operation, a line per wire burst, for replaying a failure by eye.
std::string trafficText(const std::vector<SimTraffic>& traffic) {
    std::string text;
    char hex[4];
    for (const SimTraffic& t : traffic) {
        text += std::to_string(t.startUs / 1000) + " ms " +
                (t.direction == SimTraffic::HostToBus ? "host" : "dev ") + " @" +
                std::to_string(t.rateBps) + (t.heardByHost ? ":" : " (unheard):");
        for (std::size_t i = 0; i < t.bytes.size() && i < 24; ++i) {
            std::snprintf(hex, sizeof hex, " %02X", t.bytes[i]);
            text += hex;
        }
        text += t.bytes.size() > 24 ? " ...\n" : "\n";
    }
    return text;
}

// One register setter of the servo record with its address, width and range.
struct Setter {
    const char* name;
    int address;
    bool word;
    int low;
    int high;  // -1: the model's max position
    int (ServoRecord::*get)() const;
    int (ServoRecord::*set)(int);
};

const std::array<Setter, 15> kSetters = {{
    {"temperature limit", 11, false, 50, 99, &ServoRecord::highestLimitTemperature,
     &ServoRecord::setHighestLimitTemperature},
    {"high voltage limit", 13, false, 100, 250, &ServoRecord::highestLimitVoltage,
     &ServoRecord::setHighestLimitVoltage},
    {"low voltage limit", 12, false, 50, 95, &ServoRecord::lowestLimitVoltage,
     &ServoRecord::setLowestLimitVoltage},
    {"cw limit", 6, true, 0, -1, &ServoRecord::cwAngleLimit, &ServoRecord::setCwAngleLimit},
    {"ccw limit", 8, true, 0, -1, &ServoRecord::ccwAngleLimit, &ServoRecord::setCcwAngleLimit},
    {"max torque", 14, true, 0, 1023, &ServoRecord::maxTorque, &ServoRecord::setMaxTorque},
    {"torque enable", 24, false, 0, 1, &ServoRecord::torqueEnable, &ServoRecord::setTorqueEnable},
    {"led", 25, false, 0, 1, &ServoRecord::led, &ServoRecord::setLed},
    {"cw margin", 26, false, 0, 255, &ServoRecord::cwComplianceMargin,
     &ServoRecord::setCwComplianceMargin},
    {"ccw margin", 27, false, 0, 255, &ServoRecord::ccwComplianceMargin,
     &ServoRecord::setCcwComplianceMargin},
    {"cw slope", 28, false, 0, 255, &ServoRecord::cwComplianceSlope,
     &ServoRecord::setCwComplianceSlope},
    {"ccw slope", 29, false, 0, 255, &ServoRecord::ccwComplianceSlope,
     &ServoRecord::setCcwComplianceSlope},
    {"goal", 30, true, 0, -1, &ServoRecord::goalPosition, &ServoRecord::setGoalPosition},
    {"speed", 32, true, -1023, 1023, &ServoRecord::movingSpeed, &ServoRecord::setMovingSpeed},
    {"torque limit", 34, true, 0, 1023, &ServoRecord::torqueLimit, &ServoRecord::setTorqueLimit},
}};

// What one operation asks: its name, its bound on virtual time, what it may write.
struct Operation {
    std::string name;
    std::int64_t boundUs = 0;
    AllowedWrites allowed;
    bool firmware = false;
};

class SoakTest : public SimRegistryTest {
protected:
    void SetUp() override {
        seed_ = soakSeed();
        std::cout << "[soak] seed " << seed_ << " (replay with MVX_SOAK_SEED=" << seed_ << ")\n";
        RecordProperty("seed", std::to_string(seed_));
        rng_.seed(seed_);
        chaos_ = std::make_unique<SimChaos>(seed_ ^ 0x5EEDu);
        start(soakBus().devices);
        sim->setChaos(chaos_.get());
        rig_ = std::make_unique<SoakRig>(*sim, *registry, *chaos_);
        firmwarePath_ = (std::filesystem::temp_directory_path() /
                         ("mvx-soak-" + std::to_string(::getpid()) + ".mvx"))
                            .string();
    }
    void TearDown() override {
        sim->setChaos(nullptr);
        std::filesystem::remove(firmwarePath_);
        const SimChaosCounts c = chaos_->counts();
        std::cout << "[soak] seed " << seed_ << ": " << operations_ << " operations, " << successes_
                  << " succeeded, " << c.total() << " faults injected over " << c.packets
                  << " packets (" << c.adapterFailures << " adapter failures, " << c.unplugs
                  << " unplugs), " << updated_ << " firmware updates, " << clock.nowUs() / 1000000
                  << " s of bus time\n";
        for (const auto& [name, t] : tally_) {
            std::cout << "[soak]   " << name << ": " << t.runs << " runs, " << t.failures
                      << " failed, longest " << t.longestUs / 1000 << " ms (bound "
                      << t.boundUs / 1000 << " ms)\n";
        }
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }

    // Runs `body` as one operation with every check around it; the body returns the core's
    // result and checks the operation's own claims against the devices.
    void run(Operation op, const std::function<int()>& body);
    void mixStep();

    DeviceEntry* randomEntry() {
        const int count = registry->entryCount();
        return count == 0 ? nullptr : registry->entryAt(pick(0, count - 1));
    }
    // The entry's address and the devices there may take the values in `regs`.
    AllowedWrites allowAt(const DeviceEntry& e, const RegisterValues& regs) {
        AllowedWrites allowed;
        allow(allowed, e.id(), rig_->devicesAt(e.baudCode(), e.id()), regs);
        return allowed;
    }
    // Reads are trusted when no reply was on its way or waiting as the operation began: a
    // late reply is taken for the answer to a later request of the same ID and length (this
    // bus has no sequence numbers; the host purges stale input only after a failed receive).
    bool readsTrusted() const { return readsTrusted_; }

    void setterOp(DeviceEntry& e);
    void modeOrResetOp(DeviceEntry& e);
    void loadOp(DeviceEntry& e);
    void addressOp(DeviceEntry& e);
    void networkOp(DeviceEntry& e);
    void refreshOp();
    void searchOp(int mode);
    void firmwareOp();
    void verifyEntries(const char* what);

    std::uint32_t seed_ = 0;
    std::mt19937 rng_;
    std::unique_ptr<SimChaos> chaos_;
    std::unique_ptr<SoakRig> rig_;
    std::string firmwarePath_;
    // Per kind of operation: how many ran and failed, the longest on virtual time, its bound.
    struct Tally {
        int runs = 0;
        int failures = 0;
        std::int64_t longestUs = 0;
        std::int64_t boundUs = 0;
    };
    std::map<std::string, Tally> tally_;
    int updated_ = 0;  // devices a download reported updated
    int operations_ = 0;
    int successes_ = 0;
    bool readsTrusted_ = false;
    int firmwareVersion_ = 30;
};

void SoakTest::run(Operation op, const std::function<int()>& body) {
    const std::string where = "operation " + std::to_string(operations_) + " (" + op.name +
                              "), seed " + std::to_string(seed_);
    SCOPED_TRACE(where);
    chaos_->beforeOperation(*sim);
    const std::vector<DeviceImage> before = rig_->images();
    readsTrusted_ = sim->pendingBytes() == 0 && sim->nextEventUs() < 0;
    sim->clearTraffic();
    const std::int64_t startUs = clock.nowUs();

    const bool failedBefore = HasFailure();
    const int result = body();

    const std::int64_t tookUs = clock.nowUs() - startUs;
    Tally& t = tally_[op.name];
    ++t.runs;
    t.failures += result == Success ? 0 : 1;
    t.longestUs = std::max(t.longestUs, tookUs);
    t.boundUs = std::max(t.boundUs, op.boundUs);
    ++operations_;
    successes_ += result == Success ? 1 : 0;
    EXPECT_GE(result, Success);
    EXPECT_LE(result, Busy);
    EXPECT_LE(tookUs, op.boundUs) << "over its bound on virtual time: a hang";
    for (const std::string& f : rig_->unaskedChanges(before, op.allowed)) {
        ADD_FAILURE() << "not asked for: " << f;
    }
    for (const std::string& f : rig_->unaskedTraffic(op.allowed, op.firmware)) {
        ADD_FAILURE() << "not asked for: " << f;
    }
    for (const std::string& f : rig_->registryFaults()) {
        ADD_FAILURE() << "registry: " << f;
    }
    if (HasFailure() && !failedBefore) {
        std::cout << "[soak] result " << result << "; the operation's traffic:\n"
                  << trafficText(sim->traffic());
    }

    // A lost adapter: the application closes the connection and opens it again, after the
    // user plugged it back in.
    EXPECT_EQ(result == AdapterFailure, chaos_->adapterStruck())
        << "101 exactly when the adapter failed during the operation";
    if (chaos_->adapterStruck() || result == AdapterFailure) {
        registry->bus().close();
        if (chaos_->adapterStruck() && chaos_->unplugArmed()) {
            EXPECT_FALSE(registry->bus().open(0)) << "an unplugged adapter opened";
        }
        chaos_->disarmAdapter();
        sim->setAdapterPlugged(true);
        ASSERT_TRUE(registry->bus().open(0));
    }
    chaos_->disarmAdapter();
}

void SoakTest::setterOp(DeviceEntry& e) {
    ServoRecord* record = e.servoRecord();
    const Setter& s = kSetters[pick(0, kSetters.size() - 1)];
    const int high = s.high < 0 ? record->maxPosition() : s.high;
    const int old = (record->*s.get)();
    // Now and then the value the image holds already: then nothing may go out.
    const int value = chance(0.1) ? old : pick(s.low, high);
    const int raw = s.address == 32 ? encodeDirection(value) : value;
    RegisterValues regs;
    if (s.word) {
        allowWord(regs, s.address, raw);
    } else {
        regs[s.address].insert(raw);
    }
    if (s.address == 30 || s.address == 32) {
        regs[24].insert(1);  // goal and speed switch the torque on
    }
    Operation op{std::string("set ") + s.name, 2 * kTransactionUs, allowAt(e, regs)};
    if (value == old) {
        op.allowed = {};
    }
    run(op, [&] {
        SimulatedDevice* device = rig_->soleDevice(e.baudCode(), e.id());
        const int result = (record->*s.set)(value);
        if (result != Success) {
            EXPECT_EQ((record->*s.get)(), old) << "a failed write changed the image";
            return result;
        }
        EXPECT_EQ((record->*s.get)(), value);
        if (rig_->trusted(device) && value != old) {
            const int held = s.word ? device->reg16(s.address) : device->reg(s.address);
            EXPECT_EQ(held, raw) << "success claimed, device holds another value";
        }
        return result;
    });
}

void SoakTest::modeOrResetOp(DeviceEntry& e) {
    ServoRecord* record = e.servoRecord();
    const int maxPos = record->maxPosition();
    RegisterValues regs;
    allowWord(regs, 6, 0);
    allowWord(regs, 8, 0);
    allowWord(regs, 8, maxPos);
    if (chance(0.5)) {
        const int wheel = pick(0, 1);
        const int changes = wheel != record->wheelMode();  // else nothing is written
        run({"operating mode", 2 * kTransactionUs, allowAt(e, regs)}, [&] {
            SimulatedDevice* device = rig_->soleDevice(e.baudCode(), e.id());
            const int result = record->setOperatingMode(wheel);
            if (result == Success && changes && rig_->trusted(device)) {
                EXPECT_EQ(device->reg16(6), 0);
                EXPECT_EQ(device->reg16(8), wheel == 1 ? 0 : maxPos);
            }
            return result;
        });
        return;
    }
    // What the image holds already is not written: those registers are checked only where
    // the image differed.
    const bool joint = record->wheelMode() == 0;
    const bool torque = record->maxTorque() == 1023;
    allowWord(regs, 14, 1023);
    regs[17] = {36};
    regs[18] = {36};
    regs[11] = {70, 80};
    regs[12] = {60};
    regs[13] = {140, 190, 240};
    run({"reset to defaults", 8 * kTransactionUs, allowAt(e, regs)}, [&] {
        SimulatedDevice* device = rig_->soleDevice(e.baudCode(), e.id());
        const int result = e.resetToDefaults();
        if (result == Success && rig_->trusted(device)) {
            // Joint mode; limits already in joint mode are kept (the mode setter compares).
            EXPECT_TRUE(joint || device->reg16(6) != 0 || device->reg16(8) != 0);
            EXPECT_TRUE(torque || device->reg16(14) == 1023);
            EXPECT_EQ(device->reg(17), 36);
            EXPECT_EQ(device->reg(18), 36);
        }
        return result;
    });
}

void SoakTest::loadOp(DeviceEntry& e) {
    ServoRecord* record = e.servoRecord();
    const int kind = pick(0, 2);
    run({"load " + std::to_string(kind), kTransactionUs, {}}, [&] {
        SimulatedDevice* device = rig_->soleDevice(e.baudCode(), e.id());
        const int result = record->load(kind);
        if (result != Success || device == nullptr || !readsTrusted()) {
            return result;
        }
        if (kind != LoadState) {
            EXPECT_EQ(record->cwAngleLimit(), device->reg16(6));
            EXPECT_EQ(record->ccwAngleLimit(), device->reg16(8));
            EXPECT_EQ(record->maxTorque(), device->reg16(14));
            EXPECT_EQ(record->alarmShutdown(), device->reg(18));
        }
        if (kind != LoadLimits) {
            EXPECT_EQ(record->goalPosition(), device->reg16(30));
            EXPECT_EQ(record->movingSpeed(), decodeDirection(device->reg16(32)));
            EXPECT_EQ(record->punch(), device->reg16(48));
        }
        return result;
    });
}

void SoakTest::addressOp(DeviceEntry& e) {
    const int oldCode = e.baudCode();
    const int oldId = e.id();
    int newCode = chance(0.5) ? oldCode : kCodesInUse[pick(0, kCodesInUse.size() - 1)];
    int newId = pick(0, 253);
    // An ID free on the whole bus, so no two devices ever share an address; now and then
    // the address of another registered device, which must be refused untouched.
    DeviceEntry* other = chance(0.1) ? randomEntry() : nullptr;
    if (other != nullptr && other != &e) {
        newCode = other->baudCode();
        newId = other->id();
    } else {
        for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
            newId = sim->device(i).id() == newId ? (newId + 1) % 254 : newId;
        }
        for (std::size_t i = 0; i < sim->deviceCount(); ++i) {
            if (sim->device(i).id() == newId) {
                return;  // still taken: skip this round
            }
        }
    }
    // Refused when another device holds any address on the way, the new ID at the old code
    // included.
    bool occupied = false;
    for (const auto& [code, id] :
         DeviceRegistry::addressesOnTheWay(oldCode, oldId, newCode, newId)) {
        const DeviceEntry* holder = registry->find(code, id);
        occupied = occupied || (holder != nullptr && holder != &e);
    }
    Operation op{"change address", 12 * kTransactionUs,
                 occupied ? AllowedWrites{} : allowAt(e, {{3, {newId}}, {4, {newCode}}})};
    run(op, [&] {
        SimulatedDevice* device = rig_->soleDevice(oldCode, oldId);
        const int result = registry->changeAddress(oldCode, oldId, newCode, newId);
        if (occupied) {
            EXPECT_EQ(result, Busy);
        }
        if (result == Success) {
            EXPECT_EQ(registry->find(newCode, newId), &e);
            if (rig_->trusted(device)) {
                EXPECT_EQ(device->id(), newId);
                EXPECT_EQ(device->code(), newCode);
            }
        }
        return result;
    });
}

void SoakTest::networkOp(DeviceEntry& e) {
    const bool level = chance(0.3);
    // Level 0 makes a device an unknown, ping-only one; mostly back to 1 or 2.
    const int value = level ? (chance(0.2) ? 0 : pick(1, 2)) : pick(0, 254);
    const int address = level ? 16 : 5;
    // The entry compares with what it holds: an equal value sends nothing.
    const bool due = value != (level ? e.returnLevel() : e.returnDelay());
    run({level ? "set return level" : "set return delay", 6 * kTransactionUs,
         allowAt(e, {{address, {value}}})},
        [&] {
            SimulatedDevice* device = rig_->soleDevice(e.baudCode(), e.id());
            const int result = level ? e.setReturnLevel(value) : e.setReturnDelay(value);
            if (result == Success && due && rig_->trusted(device)) {
                EXPECT_EQ(device->reg(address), value) << "success claimed, not on the device";
            }
            return result;
        });
}

// Every entry names a device that answers there, of the model and version it says.
void SoakTest::verifyEntries(const char* what) {
    if (!readsTrusted()) {
        return;
    }
    for (int i = 0; i < registry->entryCount(); ++i) {
        DeviceEntry* e = registry->entryAt(i);
        const std::vector<SimulatedDevice*> found = rig_->devicesAt(e->baudCode(), e->id());
        EXPECT_FALSE(found.empty())
            << what << " kept (" << e->baudCode() << ", " << e->id() << ") where no device answers";
        if (found.size() == 1 && e->modelNumber() != 255) {
            EXPECT_EQ(e->modelNumber(), found.front()->model());
        }
    }
}

void SoakTest::refreshOp() {
    run({"refresh", registry->entryCount() * kPingUs + kPingUs, {}}, [&] {
        const int result = registry->refresh();
        if (result == Success) {
            verifyEntries("refresh");
        }
        return result;
    });
}

void SoakTest::searchOp(int mode) {
    const std::int64_t codes = mode == FullSearch ? 255 : kQuickSearchCodes.size();
    // Per code: a rate change, the 500 ms broadcast wait and the answers; per answering code
    // a ping of every ID; per device its identity and record.
    const std::int64_t bound = codes * 1000 * kMs + 8 * 254 * kPingUs +
                               static_cast<std::int64_t>(sim->deviceCount()) * 4 * kTransactionUs;
    run({mode == FullSearch ? "full search" : "quick search", bound, {}}, [&] {
        const int result = SearchEngine(*registry).search(mode);
        if (result == Success) {
            EXPECT_EQ(registry->searchProgress.load(), 100);
            verifyEntries("search");
        }
        return result;
    });
}

void SoakTest::firmwareOp() {
    firmwareVersion_ = firmwareVersion_ >= 250 ? 31 : firmwareVersion_ + 1;
    const int version = firmwareVersion_;
    std::string error;
    ASSERT_TRUE(writeFirmwareFile(firmwarePath_, kFirmwareModel, static_cast<std::uint8_t>(version),
                                  makeSimFirmwareImage(kFirmwareModel, version, kImageSize), error))
        << error;
    LoadFirmware(firmwarePath_, registry->firmware, registry->updates);
    ASSERT_EQ(registry->firmware.valid, 1);
    BuildUpdateList(*registry, pick(0, 1));
    const UpdateList& list = registry->updates;

    // Every registered device is told to stand by; the targets enter their loader and take
    // the image, a restart and their rate back.
    Operation op{"firmware download", 0, {}, true};
    std::vector<SimulatedDevice*> targets(list.count, nullptr);
    for (int i = 0; i < registry->entryCount(); ++i) {
        DeviceEntry* e = registry->entryAt(i);
        allow(op.allowed, e->id(), rig_->devicesAt(e->baudCode(), e->id()), {{45, {10}}});
    }
    for (int k = 0; k < list.count; ++k) {
        allow(op.allowed, list.ids[k], rig_->devicesAt(list.baudCodes[k], list.ids[k]),
              {{45, {254}}, {250, {255}}, {2, {version}}, {4, {1, list.baudCodes[k]}}});
        targets[k] = rig_->soleDevice(list.baudCodes[k], list.ids[k]);
    }
    // Per device: up to 101 readiness passes over the registry, the stand-by writes, three
    // loader attempts with their pauses and the image's wire time, the restart.
    const std::int64_t n = registry->entryCount();
    const std::int64_t imageUs = SimulatedBus::wireTimeUs(kImageSize + 1, rateOf(34));
    const std::int64_t perDevice = 101 * (n * kPingUs + 100 * kMs) + n * 2 * kTransactionUs +
                                   3 * (600 * kMs + imageUs) + 3000 * kMs;
    op.boundUs = list.count * perDevice + kTransactionUs;
    run(op, [&] {
        const int result = DownloadAll(*registry);
        EXPECT_EQ(DownloadProgress(*registry), 100);
        for (int k = 0; k < list.count; ++k) {
            if (list.resultFlags[k] != UpdateSucceeded) {
                continue;
            }
            ++updated_;
            DeviceEntry* e = registry->find(list.baudCodes[k], list.ids[k]);
            EXPECT_TRUE(e == nullptr || e->firmwareVersion() == version);
            SimulatedDevice* d = targets[k];
            if (rig_->trusted(d) && d->mode() == SimDeviceMode::Normal) {
                EXPECT_EQ(d->reg(2), version) << "update claimed, old firmware on the device";
                // Back at its own rate when the download says so; where the write-back's reply
                // was lost it reports the rate the device may have been left at.
                const int leftAt = list.leftAtCodes[k];
                EXPECT_TRUE(d->code() == list.baudCodes[k] || d->code() == leftAt)
                    << "device at code " << int(d->code()) << ", reported " << leftAt;
            }
        }
        return result;
    });
}

void SoakTest::mixStep() {
    DeviceEntry* e = randomEntry();
    const int roll = pick(0, 99);
    if (e == nullptr || roll < 3) {
        searchOp(chance(0.15) ? FullSearch : QuickSearch);
    } else if (roll < 8) {
        refreshOp();
    } else if (roll < 11) {
        firmwareOp();
    } else if (roll < 16) {
        addressOp(*e);
    } else if (roll < 22) {
        networkOp(*e);
    } else if (e->servoRecord() == nullptr) {
        run({"ping", kPingUs, {}}, [&] { return e->ping(); });
    } else if (roll < 30) {
        modeOrResetOp(*e);
    } else if (roll < 45) {
        loadOp(*e);
    } else {
        setterOp(*e);
    }
}

TEST_F(SoakTest, OperationsUnderRandomFaults) {
    const int count = soakCount();
    ASSERT_EQ(SearchEngine(*registry).search(QuickSearch), Success);
    for (int i = 0; i < count && !HasFailure(); ++i) {
        mixStep();
    }
    // Once the faults stop, the whole bus is found again as it is.
    sim->setChaos(nullptr);
    chaos_->calm(*sim);
    clock.advanceUs(31000 * kMs);  // loaders left behind by a failed step give up
    ASSERT_EQ(SearchEngine(*registry).search(FullSearch), Success);
    EXPECT_EQ(registry->deviceCount(), static_cast<int>(sim->deviceCount()));
    readsTrusted_ = true;
    verifyEntries("final search");
}

}  // namespace
}  // namespace mvx::test
