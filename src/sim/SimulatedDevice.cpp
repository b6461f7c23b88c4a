#include "sim/SimulatedDevice.h"

#include <algorithm>
#include <cmath>

#include "firmware/FirmwareDownload.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "sim/SimChaos.h"
#include "sim/SimulatedBus.h"

namespace mvx {

namespace {

constexpr int kTableEnd = 50;  // addresses 0-49, plus 250
constexpr std::uint8_t kLoaderArmValue = 255;
constexpr std::uint8_t kLoaderEnterValue = 254;
constexpr std::uint8_t kStandbyValue = 10;
constexpr std::uint16_t kSensorModel = 13;

// Complement of the 8-bit sum, as in every packet.
std::uint8_t simChecksum(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(~sum & 0xFF);
}

bool exists(int address) {
    return (address >= 0 && address < kTableEnd) || address == 250;
}

// Registers the host may change with a plain Write.
bool writable(int address) {
    if (address >= 3 && address <= 9) {
        return true;
    }
    if (address >= 11 && address <= 18) {
        return true;
    }
    if (address >= 24 && address <= 35) {
        return true;
    }
    return address >= 47 && address <= 49;
}

bool isWordLow(int address) {
    switch (address) {
        case 0:
        case 6:
        case 8:
        case 14:
        case 30:
        case 32:
        case 34:
        case 36:
        case 38:
        case 40:
        case 48:
            return true;
        default:
            return false;
    }
}

// Largest value a register (or word, at its low address) accepts; -1: any byte.
int registerMax(int address, int maxPosition) {
    switch (address) {
        case 3:
            return 253;
        case 6:
        case 8:
        case 30:
            return maxPosition;
        case 11:
            return 150;
        case 12:
        case 13:
            return 250;
        case 14:
        case 34:
        case 48:
            return 1023;
        case 16:
            return 2;
        case 17:
        case 18:
            return 127;
        case 24:
        case 25:
        case 47:
            return 1;
        case 32:
            return 2047;
        default:
            return -1;
    }
}

int registerMin(int address) {
    return (address == 12 || address == 13) ? 50 : 0;
}

// Units of position per second for one unit of moving speed (about 0.111 rpm).
double unitsPerSpeedUnit(int maxPosition) {
    const double degreesPerSecond = 0.111 * 6.0;
    const double unitsPerDegree = maxPosition == 4095 ? 4096.0 / 360.0 : 1024.0 / 300.0;
    return degreesPerSecond * unitsPerDegree;
}

}  // namespace

int SimulatedDevice::maxPosition(std::uint16_t model) {
    return model == 106 ? 4095 : 1023;
}

std::array<std::uint8_t, 256> SimulatedDevice::defaultTable(const SimDeviceSpec& deviceSpec) {
    std::array<std::uint8_t, 256> t{};
    const int maxPos = maxPosition(deviceSpec.model);
    auto word = [&t](int address, int value) {
        t[address] = static_cast<std::uint8_t>(value & 0xFF);
        t[address + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    };
    int tempLimit = 80;
    int highVoltage = 190;
    int lowVoltage = 60;
    int voltage = 120;
    switch (deviceSpec.model) {
        case 6:
        case 12:
            tempLimit = 70;
            highVoltage = 140;
            voltage = 96;
            break;
        case 64:
        case 106:
            highVoltage = 240;
            voltage = 148;
            break;
        case kSensorModel:
            highVoltage = 140;
            voltage = 100;
            break;
        default:
            break;
    }
    const int position =
        deviceSpec.position >= 0 ? std::min(deviceSpec.position, maxPos) : (maxPos + 1) / 2;
    word(0, deviceSpec.model);
    t[2] = deviceSpec.version;
    t[3] = deviceSpec.id;
    t[4] = deviceSpec.code;
    t[5] = deviceSpec.returnDelay;
    word(6, 0);
    word(8, maxPos);
    t[11] = static_cast<std::uint8_t>(tempLimit);
    t[12] = static_cast<std::uint8_t>(lowVoltage);
    t[13] = static_cast<std::uint8_t>(highVoltage);
    word(14, 1023);
    t[16] = deviceSpec.returnLevel;
    t[17] = 36;
    t[18] = 36;
    t[26] = 1;
    t[27] = 1;
    t[28] = 32;
    t[29] = 32;
    word(30, position);
    word(32, 0);
    word(34, 1023);
    word(36, position);
    t[42] = static_cast<std::uint8_t>(voltage);
    t[43] = 32;
    word(48, 32);
    for (const auto& [address, value] : deviceSpec.registers) {
        if (address < 0 || address > 255) {
            continue;
        }
        if (isWordLow(address) && address + 1 < 256) {
            word(address, value);
        } else {
            t[address] = static_cast<std::uint8_t>(value & 0xFF);
        }
    }
    return t;
}

SimulatedDevice::SimulatedDevice(SimulatedBus& bus, const SimDeviceSpec& deviceSpec)
    : bus_(bus),
      model_(deviceSpec.model),
      maxPosition_(maxPosition(deviceSpec.model)),
      table_(defaultTable(deviceSpec)),
      appearAtUs_(deviceSpec.appearAtUs),
      disappearAtUs_(deviceSpec.disappearAtUs) {
    position_ = regWord(36);
    ambientTemperature_ = table_[43];
    temperature_ = table_[43];
    shownTemperature_ = table_[43];
    physicsUs_ = bus.clock().nowUs();
}

// --- Public access (locks the bus) ---

std::uint8_t SimulatedDevice::reg(int address) {
    std::lock_guard lock(bus_.mutex_);
    advance(bus_.clock_.nowUs());
    return exists(address) ? table_[address] : 0;
}

int SimulatedDevice::reg16(int address) {
    std::lock_guard lock(bus_.mutex_);
    advance(bus_.clock_.nowUs());
    if (!exists(address) || !exists(address + 1)) {
        return 0;
    }
    return regWord(address);
}

void SimulatedDevice::setReg(int address, int value) {
    std::lock_guard lock(bus_.mutex_);
    if (exists(address)) {
        advance(bus_.clock_.nowUs());
        table_[address] = static_cast<std::uint8_t>(value & 0xFF);
        if (address == 36 || address == 37) {
            position_ = regWord(36);
        }
    }
}

void SimulatedDevice::setReg16(int address, int value) {
    std::lock_guard lock(bus_.mutex_);
    if (exists(address) && exists(address + 1)) {
        advance(bus_.clock_.nowUs());
        storeWord(address, value);
        if (address == 36) {
            position_ = regWord(36);
        }
    }
}

std::uint8_t SimulatedDevice::id() {
    std::lock_guard lock(bus_.mutex_);
    return table_[3];
}

std::uint8_t SimulatedDevice::code() {
    std::lock_guard lock(bus_.mutex_);
    bus_.settleLocked(bus_.clock_.nowUs());
    return listenCode();
}

std::uint16_t SimulatedDevice::model() {
    return model_;
}

SimDeviceMode SimulatedDevice::mode() {
    std::lock_guard lock(bus_.mutex_);
    bus_.settleLocked(bus_.clock_.nowUs());
    if (inLoader_) {
        return SimDeviceMode::Loader;
    }
    return quietLocked() ? SimDeviceMode::Quiet : SimDeviceMode::Normal;
}

bool SimulatedDevice::present() {
    std::lock_guard lock(bus_.mutex_);
    return presentLocked(bus_.clock_.nowUs());
}

void SimulatedDevice::setFaults(const SimFaults& faults) {
    std::lock_guard lock(bus_.mutex_);
    faults_ = faults;
}

SimFaults SimulatedDevice::faults() {
    std::lock_guard lock(bus_.mutex_);
    return faults_;
}

int SimulatedDevice::packetsHeard() {
    std::lock_guard lock(bus_.mutex_);
    return packetsHeard_;
}

// --- Internals (bus mutex held) ---

int SimulatedDevice::regWord(int address) const {
    return table_[address] | (table_[address + 1] << 8);
}

void SimulatedDevice::storeWord(int address, int value) {
    table_[address] = static_cast<std::uint8_t>(value & 0xFF);
    table_[address + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

std::uint8_t SimulatedDevice::listenCode() const {
    return inLoader_ ? SimulatedBus::kLoaderCode : table_[4];
}

bool SimulatedDevice::quietLocked() const {
    return !inLoader_ && standbyLocked() && bus_.loaderActiveLocked();
}

void SimulatedDevice::settleLocked(std::int64_t nowUs) {
    if (loaderStartUs_ >= 0 && nowUs >= loaderStartUs_) {
        bus_.devicesInLoader_ += inLoader_ ? 0 : 1;
        --bus_.loaderEntriesPending_;
        inLoader_ = true;
        loaderState_ = LoaderState::WaitCr;
        lastLoaderByteUs_ = loaderStartUs_;
        loaderStartUs_ = -1;
        rx_.clear();
    }
    if (inLoader_ && loaderState_ == LoaderState::Receiving && !image_.empty() &&
        nowUs >= lastLoaderByteUs_ + SimulatedBus::kLoaderGapUs) {
        finishImage(lastLoaderByteUs_ + SimulatedBus::kLoaderGapUs);
    }
    if (inLoader_ && nowUs >= lastLoaderByteUs_ + SimulatedBus::kLoaderIdleUs) {
        leaveLoader();  // the loader's watchdog: an abandoned dialogue does not hang the bus
    }
}

std::int64_t SimulatedDevice::nextTimerLocked() const {
    if (loaderStartUs_ >= 0) {
        return loaderStartUs_;
    }
    if (inLoader_ && loaderState_ == LoaderState::Receiving && !image_.empty()) {
        return lastLoaderByteUs_ + SimulatedBus::kLoaderGapUs;
    }
    if (inLoader_) {
        return lastLoaderByteUs_ + SimulatedBus::kLoaderIdleUs;
    }
    return -1;
}

bool SimulatedDevice::presentLocked(std::int64_t timeUs) const {
    if (!scheduledLocked()) {
        return true;
    }
    const std::int64_t origin = bus_.scheduleOriginUs_;
    if (origin < 0) {
        return appearAtUs_ == 0;  // the host has not written yet: the schedule has not begun
    }
    return timeUs >= origin + appearAtUs_ &&
           (disappearAtUs_ < 0 || timeUs < origin + disappearAtUs_);
}

bool SimulatedDevice::answersLocked(std::int64_t timeUs, std::uint8_t instruction) const {
    const SimFaults f = bus_.effectiveFaultsLocked(*this);
    if (!presentLocked(timeUs) || inLoader_ || quietLocked() || f.dropReply ||
        (f.silentAfterPackets >= 0 && packetsHeard_ >= f.silentAfterPackets)) {
        return false;
    }
    const std::uint8_t level = table_[16];
    return instruction == Ping || (instruction == Read && level >= 1) ||
           (instruction != KeyedWrite && level >= 2);
}

void SimulatedDevice::hearByte(std::int64_t timeUs, std::uint8_t value) {
    settleLocked(timeUs);
    if (!presentLocked(timeUs)) {
        rx_.clear();  // not connected: nothing reaches it
        return;
    }
    if (faults_.silentAfterPackets >= 0 || bus_.faults_.silentAfterPackets >= 0) {
        const int limit = faults_.silentAfterPackets >= 0 ? faults_.silentAfterPackets
                                                          : bus_.faults_.silentAfterPackets;
        if (packetsHeard_ >= limit) {
            return;  // deaf and mute
        }
    }
    if (inLoader_) {
        hearLoaderByte(timeUs, value);
        return;
    }
    if (quietLocked()) {
        return;
    }
    if (framePacketByte(rx_, lastRxUs_, timeUs, value)) {
        handlePacket(timeUs, rx_);
        rx_.clear();
    }
}

bool SimulatedDevice::framePacketByte(std::vector<std::uint8_t>& rx, std::int64_t& lastRxUs,
                                      std::int64_t timeUs, std::uint8_t value) {
    if (!rx.empty() && timeUs - lastRxUs > SimulatedBus::kPacketGapUs) {
        rx.clear();  // a stale fragment: start over
    }
    lastRxUs = timeUs;
    const std::size_t n = rx.size();
    if (n < 2) {
        if (value == 0xFF) {
            rx.push_back(value);
        } else {
            rx.clear();
        }
        return false;
    }
    if (n == 2 && value == 0xFF) {
        return false;  // a third 0xFF: still in the header
    }
    rx.push_back(value);
    if (rx.size() == 4 && rx[3] < 2) {
        rx.clear();  // LEN below 2 cannot be a packet
        return false;
    }
    return rx.size() >= 4 && rx.size() == static_cast<std::size_t>(rx[3]) + 4;
}

bool SimulatedDevice::framesLikeAnyOtherLocked(bool loaderMayRun) const {
    return !inLoader_ && rx_.empty() && nextTimerLocked() < 0 && !scheduledLocked() &&
           !(loaderMayRun && standbyLocked()) && faults_.silentAfterPackets < 0 &&
           bus_.faults_.silentAfterPackets < 0;
}

bool SimulatedDevice::standbyLocked() const {
    return table_[kLoaderAddress] == kStandbyValue;
}

std::uint8_t SimulatedDevice::statusErrors() const {
    std::uint8_t errors = 0;
    if (table_[42] < table_[12] || table_[42] > table_[13]) {
        errors |= InputVoltageError;
    }
    if (table_[43] > table_[11]) {
        errors |= OverheatingError;
    }
    if (angleLimitError_) {
        errors |= AngleLimitError;
    }
    return errors;
}

void SimulatedDevice::handlePacket(std::int64_t timeUs, const std::vector<std::uint8_t>& packet) {
    const std::uint8_t id = packet[2];
    const std::uint8_t len = packet[3];
    const std::uint8_t instruction = packet[4];
    const std::uint8_t* params = packet.data() + 5;
    const int paramCount = len - 2;
    const bool broadcast = id == kBroadcastId;
    if (id != table_[3] && !broadcast) {
        return;
    }
    ++packetsHeard_;
    packetEndUs_ = timeUs;
    packetBroadcast_ = broadcast;
    if (bus_.chaos_ != nullptr) {
        bus_.chaos_->beforePacket(*this, packetsHeard_, faults_);  // this packet's faults
    }
    advance(timeUs);

    const std::uint8_t myId = table_[3];
    const std::uint8_t myCode = table_[4];
    const std::uint8_t level = table_[16];
    const std::int64_t readyUs = timeUs + 2 * static_cast<std::int64_t>(table_[5]);
    const bool levelAnswers =
        instruction == Ping || (instruction == Read && level >= 1) || level >= 2;
    collides_ = !broadcast && bus_.othersAnswerLocked(*this, timeUs, instruction);

    if (simChecksum(packet.data() + 2, packet.size() - 3) != packet.back()) {
        if (!broadcast && levelAnswers) {
            reply(readyUs, myId, static_cast<std::uint8_t>(ChecksumError | statusErrors()), nullptr,
                  0, myCode);
        }
        return;
    }

    switch (instruction) {
        case Ping: {
            // Answers to a broadcast may be spaced out by ID (SimulatedBus.h).
            const std::int64_t spacingUs = broadcast ? myId * bus_.broadcastSpacingUs_ : 0;
            reply(readyUs + spacingUs, myId, statusErrors(), nullptr, 0, myCode);
            return;
        }
        case Read: {
            std::uint8_t error = statusErrors();
            std::array<std::uint8_t, kMaxParameters> data{};
            int count = 0;
            if (paramCount != 2) {
                error |= InstructionError;
            } else {
                const int address = params[0];
                const int length = params[1];
                bool ok = length >= 1 && length <= static_cast<int>(kMaxParameters);
                for (int a = address; ok && a < address + length; ++a) {
                    ok = exists(a);
                }
                if (!ok) {
                    error |= RangeError;
                } else {
                    for (int i = 0; i < length; ++i) {
                        data[i] = table_[address + i];
                    }
                    count = length;
                }
            }
            const SimFaults faults = bus_.effectiveFaultsLocked(*this);
            const int answerReads = faults.answerReads;
            if (!broadcast && level >= 1 && (answerReads < 0 || readsAnswered_ < answerReads)) {
                // (A reply whose checksum the bus inverts anyway is corrupt already.)
                const bool corrupt =
                    readsAnswered_ < faults.corruptReads && !faults.corruptChecksum;
                ++readsAnswered_;
                reply(readyUs, myId, error, data.data(), count, myCode, corrupt);
            }
            return;
        }
        case Write: {
            std::uint8_t error = 0;
            if (paramCount < 2) {
                error = InstructionError;
            } else if (!bus_.effectiveFaultsLocked(*this).ignoreWrites) {
                error = applyWrite(params[0], params + 1, paramCount - 1);
            }
            // The reply leaves at the old ID and rate; the move (already stored) applies to
            // everything after it.
            if (!broadcast && level >= 2) {
                reply(readyUs, myId, static_cast<std::uint8_t>(error | statusErrors()), nullptr, 0,
                      myCode);
            }
            return;
        }
        case KeyedWrite:
            if (paramCount == 6 && !bus_.effectiveFaultsLocked(*this).ignoreWrites &&
                std::equal(kKeyedWriteKey.begin(), kKeyedWriteKey.end(), params + 2)) {
                applyKeyedWrite(timeUs, params[0], params[1]);
            }
            return;  // never answered
        case Instruction7:
            if (!broadcast && level >= 2) {
                reply(readyUs, myId, statusErrors(), nullptr, 0, myCode);
            }
            if (imageReady_) {
                // Restart on the new firmware, at its factory rate.
                imageReady_ = false;
                if (newVersion_ >= 0) {
                    table_[2] = static_cast<std::uint8_t>(newVersion_);
                }
                table_[4] = model_ == kFastRestartModel ? 1 : SimulatedBus::kLoaderCode;
            }
            return;
        default:
            if (!broadcast && level >= 2) {
                reply(readyUs, myId, static_cast<std::uint8_t>(InstructionError | statusErrors()),
                      nullptr, 0, myCode);
            }
            return;
    }
}

std::uint8_t SimulatedDevice::applyWrite(int address, const std::uint8_t* data, int count) {
    for (int a = address; a < address + count; ++a) {
        if (!writable(a)) {
            return InstructionError;
        }
    }
    std::array<std::uint8_t, 256> next = table_;
    for (int i = 0; i < count; ++i) {
        next[address + i] = data[i];
    }
    // Check every register the write touched, words as a whole.
    for (int a = address; a < address + count; ++a) {
        const int low = (a > 0 && isWordLow(a - 1)) ? a - 1 : a;
        const int value = isWordLow(low) ? (next[low] | (next[low + 1] << 8)) : next[low];
        const int max = registerMax(low, maxPosition_);
        if ((max >= 0 && value > max) || value < registerMin(low)) {
            return RangeError;
        }
    }
    table_ = next;
    const bool goalWritten = address <= 31 && address + count > 30;
    const bool speedWritten = address <= 33 && address + count > 32;
    if (goalWritten) {
        const int goal = regWord(30);
        const int cw = regWord(6);
        const int ccw = regWord(8);
        const bool wheel = cw == 0 && ccw == 0;
        angleLimitError_ = !wheel && (goal < cw || goal > ccw);
    }
    if (goalWritten || speedWritten) {
        table_[24] = 1;
    }
    return 0;
}

void SimulatedDevice::applyKeyedWrite(std::int64_t timeUs, int address, int value) {
    if (address == kLoaderArmAddress) {
        table_[kLoaderArmAddress] = static_cast<std::uint8_t>(value);
        return;
    }
    if (address == kLoaderAddress) {
        if (value == kLoaderEnterValue) {
            if (table_[kLoaderArmAddress] != kLoaderArmValue) {
                return;  // not armed: ignored, so the host's read-back fails
            }
            bus_.loaderEntriesPending_ += loaderStartUs_ < 0 ? 1 : 0;
            loaderStartUs_ = timeUs + SimulatedBus::kLoaderEntryDelayUs;
        }
        table_[kLoaderAddress] = static_cast<std::uint8_t>(value);
        return;
    }
    if (writable(address)) {
        const std::uint8_t byte = static_cast<std::uint8_t>(value);
        applyWrite(address, &byte, 1);
    }
}

void SimulatedDevice::advance(std::int64_t timeUs) {
    if (timeUs <= physicsUs_) {
        return;
    }
    const double dt = static_cast<double>(timeUs - physicsUs_) / 1e6;
    physicsUs_ = timeUs;
    if (statusErrors() & table_[18]) {
        table_[24] = 0;  // alarm shutdown
    }
    if (model_ == kSensorModel) {
        return;
    }
    const int range = maxPosition_ + 1;
    if (table_[24] != 1) {
        storeWord(38, 0);
        storeWord(40, 0);
        table_[46] = 0;
        warm(dt);
        return;
    }
    const int speedRaw = regWord(32);
    const int cw = regWord(6);
    const int ccw = regWord(8);
    const double rate = unitsPerSpeedUnit(maxPosition_);
    if (cw == 0 && ccw == 0) {
        // Wheel mode: turns at the moving speed, bit 10 gives the direction.
        const int magnitude = speedRaw & 1023;
        const bool clockwise = (speedRaw & 1024) != 0;
        position_ += (clockwise ? -1.0 : 1.0) * magnitude * rate * dt;
        position_ = std::fmod(position_, static_cast<double>(range));
        if (position_ < 0) {
            position_ += range;
        }
        storeWord(38, magnitude == 0 ? 0 : (magnitude | (clockwise ? 1024 : 0)));
        storeWord(
            40, magnitude == 0 ? 0 : (std::min(1023, 40 + magnitude / 8) | (clockwise ? 1024 : 0)));
        table_[46] = magnitude > 0 ? 1 : 0;
    } else {
        const double target = std::clamp(regWord(30), cw, std::max(cw, ccw));
        int magnitude = speedRaw & 1023;
        if (magnitude == 0) {
            magnitude = 1023;  // 0: as fast as it goes
        }
        const double step = magnitude * rate * dt;
        const double distance = target - position_;
        if (std::fabs(distance) <= step) {
            position_ = target;
            storeWord(38, 0);
            storeWord(40, 0);
            table_[46] = 0;
        } else {
            const bool clockwise = distance < 0;
            position_ += clockwise ? -step : step;
            storeWord(38, magnitude | (clockwise ? 1024 : 0));
            storeWord(40, std::min(1023, 40 + magnitude / 8) | (clockwise ? 1024 : 0));
            table_[46] = 1;
        }
    }
    storeWord(36, std::clamp(static_cast<int>(std::lround(position_)), 0, maxPosition_));
    warm(dt);
}

void SimulatedDevice::warm(double dt) {
    if (table_[43] != shownTemperature_) {
        temperature_ = table_[43];  // set from outside (a test): start from there
    }
    // First order toward ambient plus a rise in proportion to the load: minutes, not seconds.
    const double load = regWord(40) & 1023;
    const double target = ambientTemperature_ + kFullLoadRise * load / 1023.0;
    temperature_ += (target - temperature_) * (1.0 - std::exp(-dt / kThermalTimeConstantS));
    shownTemperature_ =
        static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(temperature_)), 0, 255));
    table_[43] = shownTemperature_;
}

void SimulatedDevice::reply(std::int64_t readyUs, std::uint8_t id, std::uint8_t error,
                            const std::uint8_t* data, int count, std::uint8_t code, bool corrupt) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(count) + 6);
    bytes.push_back(0xFF);
    bytes.push_back(0xFF);
    bytes.push_back(id);
    bytes.push_back(static_cast<std::uint8_t>(count + 2));
    bytes.push_back(static_cast<std::uint8_t>(error | bus_.effectiveFaultsLocked(*this).errorBits));
    for (int i = 0; i < count; ++i) {
        bytes.push_back(data[i]);
    }
    const std::uint8_t checksum = simChecksum(bytes.data() + 2, bytes.size() - 2);
    bytes.push_back(corrupt || collides_ ? static_cast<std::uint8_t>(~checksum) : checksum);
    bus_.sendReplyLocked(*this, id, readyUs, std::move(bytes), code);
}

}  // namespace mvx
