#include "soak/SoakRig.h"

#include <algorithm>
#include <cstdlib>
#include <random>

#include "device/ModelCatalogue.h"
#include "protocol/Packet.h"

namespace mvx::test {

namespace {

constexpr int kLoaderStandby = 45;
constexpr int kLoaderArm = 250;
constexpr int kTorqueEnable = 24;

int slotOf(int address) {
    return address == kLoaderArm ? 50 : address;
}

// Registers the device changes on its own: live state, present speed/load/position, and the
// present temperature, which follows the load.
bool liveRegister(int address) {
    return (address >= 36 && address <= 41) || address == 43 || address == 46;
}

std::string describe(const SimulatedDevice* device, int address, int from, int to) {
    return "device " + std::to_string(reinterpret_cast<std::uintptr_t>(device) % 100000) +
           " register " + std::to_string(address) + ": " + std::to_string(from) + " -> " +
           std::to_string(to);
}

bool allows(const RegisterValues& regs, int address, int value) {
    const auto it = regs.find(address);
    return it != regs.end() && it->second.count(value) != 0;
}

}  // namespace

void allowWord(RegisterValues& regs, int address, int value) {
    regs[address].insert(value & 0xFF);
    regs[address + 1].insert((value >> 8) & 0xFF);
}

void allow(AllowedWrites& allowed, int id, const std::vector<SimulatedDevice*>& devices,
           const RegisterValues& regs) {
    auto merge = [&regs](RegisterValues& into) {
        for (const auto& [address, values] : regs) {
            into[address].insert(values.begin(), values.end());
        }
    };
    for (const SimulatedDevice* device : devices) {
        merge(allowed.devices[device]);
    }
    merge(allowed.ids[id]);
    const auto newIds = regs.find(3);
    if (newIds != regs.end()) {
        for (const int newId : newIds->second) {
            merge(allowed.ids[newId]);
        }
    }
}

std::vector<SimulatedDevice*> SoakRig::devicesAt(int code, int id) {
    std::vector<SimulatedDevice*> found;
    for (std::size_t i = 0; i < bus_.deviceCount(); ++i) {
        SimulatedDevice& device = bus_.device(i);
        if (device.reg(4) == code && device.id() == id) {
            found.push_back(&device);
        }
    }
    return found;
}

SimulatedDevice* SoakRig::soleDevice(int code, int id) {
    const std::vector<SimulatedDevice*> found = devicesAt(code, id);
    if (found.size() != 1 || found.front()->mode() != SimDeviceMode::Normal) {
        return nullptr;
    }
    return found.front();
}

bool SoakRig::trusted(SimulatedDevice* device) {
    // A device that went quiet meanwhile (another device's loader started late, after its
    // start was reported failed) missed what was sent.
    return device != nullptr && !chaos_.tampered(device) && device->mode() == SimDeviceMode::Normal;
}

std::vector<DeviceImage> SoakRig::images() {
    std::vector<DeviceImage> out(bus_.deviceCount());
    for (std::size_t i = 0; i < out.size(); ++i) {
        SimulatedDevice& device = bus_.device(i);
        for (int a = 0; a < 50; ++a) {
            out[i].regs[a] = device.reg(a);
        }
        out[i].regs[50] = device.reg(kLoaderArm);
        out[i].code = device.code();
        out[i].mode = device.mode();
    }
    return out;
}

std::vector<std::string> SoakRig::unaskedChanges(const std::vector<DeviceImage>& before,
                                                 const AllowedWrites& allowed) {
    std::vector<std::string> faults;
    const std::vector<DeviceImage> after = images();
    static const RegisterValues kNone;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const SimulatedDevice* device = &bus_.device(i);
        const auto it = allowed.devices.find(device);
        const RegisterValues& regs = it == allowed.devices.end() ? kNone : it->second;
        for (int a = 0; a <= 50; ++a) {
            const int address = a == 50 ? kLoaderArm : a;
            const int from = before[i].regs[slotOf(address)];
            const int to = after[i].regs[slotOf(address)];
            if (from == to || liveRegister(address) || allows(regs, address, to)) {
                continue;
            }
            // The device switches its torque off (alarm shutdown) and leaves its loader or
            // stand-by (registers 45 and 250 back to 0) by itself.
            const bool fallsBack = to == 0 && (address == kTorqueEnable ||
                                               address == kLoaderStandby || address == kLoaderArm);
            if (!fallsBack) {
                faults.push_back(describe(device, address, from, to));
            }
        }
    }
    return faults;
}

std::vector<std::string> SoakRig::unaskedTraffic(const AllowedWrites& allowed, bool firmware) {
    std::vector<std::string> faults;
    static const RegisterValues kNone;
    for (const SimTraffic& t : bus_.traffic()) {
        if (t.direction != SimTraffic::HostToBus) {
            continue;
        }
        const std::vector<std::uint8_t>& b = t.bytes;
        if (b.size() < 6 || b[0] != 0xFF || b[1] != 0xFF) {
            if (!firmware) {
                faults.push_back("raw bytes outside a firmware download");
            }
            continue;
        }
        const int id = b[2];
        const int instruction = b[4];
        if (instruction == Instruction7 && !firmware) {
            faults.push_back("instruction 7 to ID " + std::to_string(id));
        }
        if (instruction != Write && instruction != KeyedWrite) {
            continue;
        }
        // Write: address, data...; keyed write: address, value, key.
        const int address = b[5];
        const std::size_t dataEnd = instruction == Write ? b.size() - 1 : 7;
        for (std::size_t k = 6; k < dataEnd && k < b.size(); ++k) {
            const int reg = address + static_cast<int>(k - 6);
            const auto it = allowed.ids.find(id);
            if (!allows(it == allowed.ids.end() ? kNone : it->second, reg, b[k])) {
                faults.push_back("write of " + std::to_string(b[k]) + " to register " +
                                 std::to_string(reg) + " of ID " + std::to_string(id));
            }
        }
    }
    return faults;
}

std::vector<std::string> SoakRig::registryFaults(const std::vector<int>& codeOrder, bool ordered) {
    std::set<std::pair<int, int>> seen;
    const auto rank = [&codeOrder](int code) {
        const auto it = std::find(codeOrder.begin(), codeOrder.end(), code);
        return codeOrder.empty() ? code : static_cast<int>(it - codeOrder.begin()) * 256 + code;
    };
    std::vector<std::string> faults;
    if (registry_.searchWorkerActive() || registry_.searching != 0) {
        faults.push_back("search state left behind");
    }
    const int count = registry_.entryCount();
    if (count != registry_.deviceCount()) {
        faults.push_back("entry count differs from device count (placeholder left)");
    }
    int lastCode = -1;
    int lastId = -1;
    for (int i = 0; i < count; ++i) {
        DeviceEntry* e = registry_.entryAt(i);
        const std::string at = "entry " + std::to_string(i) + " (" + std::to_string(e->baudCode()) +
                               ", " + std::to_string(e->id()) + ")";
        if (e->baudCode() < 0 || e->baudCode() > 255 || e->id() < 0 || e->id() >= kBroadcastId ||
            e->returnLevel() < 0) {
            faults.push_back(at + " is a placeholder");
        }
        const int code = rank(e->baudCode());
        if (ordered && (code < lastCode || (code == lastCode && e->id() <= lastId))) {
            faults.push_back(at + " out of order or duplicate");
        } else if (!seen.insert({e->baudCode(), e->id()}).second) {
            faults.push_back(at + " duplicate");
        }
        lastCode = code;
        lastId = e->id();
        const bool wantsRecord = e->modelClass() == Actuator && e->returnLevel() > 0;
        if ((e->servoRecord() != nullptr) != wantsRecord) {
            faults.push_back(at + (wantsRecord ? " lacks its record" : " has a stray record"));
        }
    }
    return faults;
}

std::uint32_t soakSeed() {
    if (const char* s = std::getenv("MVX_SOAK_SEED")) {
        return static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10));
    }
    return std::random_device{}();
}

int soakCount() {
    const char* s = std::getenv("MVX_SOAK_COUNT");
    return s != nullptr ? std::max(1, std::atoi(s)) : 20000;
}

}  // namespace mvx::test
