// Device: the operations on one device, each under the bus's lock.
#include <stdexcept>

#include "device/DeviceEntry.h"
#include "device/ModelCatalogue.h"
#include "device/ServoRecord.h"
#include "device/SettingsTransfer.h"
#include "facade/BusState.h"
#include "facade/FacadeErrors.h"
#include "facade/RegisterValues.h"
#include "movantrix/device.h"
#include "protocol/BusConnection.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace movantrix {

namespace {

// Error bits by which a device refuses a write (the others report its own state).
constexpr int kRefusalBits = mvx::InstructionError | mvx::RangeError | mvx::ChecksumError;

detail::BusState& stateOf(const std::shared_ptr<detail::BusState>& state) {
    if (!state) {
        throw std::logic_error("this Device belongs to no bus (use Bus::device or Bus::scan)");
    }
    return *state;
}

// Reads `length` bytes from `address` of the entry's device; throws.
std::vector<std::uint8_t> readBytes(mvx::DeviceEntry& entry, int address, int length) {
    std::shared_ptr<mvx::AdapterLink> link;
    int result = entry.tuneLink(link);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (result == mvx::Success) {
        result = mvx::readBlock(*link, static_cast<std::uint8_t>(entry.id()),
                                static_cast<std::uint8_t>(address),
                                static_cast<std::uint8_t>(length), bytes.data());
    }
    detail::check(result, detail::whereText(entry.baudCode(), entry.id()));
    return bytes;
}

}  // namespace

std::string Device::modelName() const {
    return mvx::displayName(model_);
}

Value Device::read(const std::string& name) const {
    detail::BusState& state = stateOf(state_);
    const mvx::RegisterItem item = name == "wheel-mode" ? detail::itemOf("cw-angle-limit", model_)
                                                        : detail::itemOf(name, model_);
    const detail::BusLock lock(state);
    mvx::DeviceEntry& entry = state.entry(code_, id_);
    if (name == "wheel-mode") {
        // Endless turn: both angle limits 0.
        const auto bytes = readBytes(entry, item.address, 4);
        return (bytes[0] | bytes[1] | bytes[2] | bytes[3]) == 0 ? 1 : 0;
    }
    const auto bytes = readBytes(entry, item.address, item.size);
    const int raw = item.size == 2 ? bytes[0] | (bytes[1] << 8) : bytes[0];
    return detail::valueOf(item, raw);
}

void Device::write(const std::string& name, const Value& value) {
    const mvx::NamedRegister& reg = detail::namedRegister(name);
    const int raw = detail::rawOf(reg, value);
    detail::BusState& state = stateOf(state_);
    const detail::BusLock lock(state);
    mvx::DeviceEntry& entry = state.entry(code_, id_);
    const std::string where = detail::whereText(code_, id_);
    std::string refusal;
    const int result = mvx::applyNamedRegister(reg, raw, state.registry(), entry, refusal);
    if (!refusal.empty()) {
        detail::refuse(where, refusal);
    }
    // An address change that failed halfway leaves the entry where the device answers now.
    code_ = entry.baudCode();
    id_ = entry.id();
    returnLevel_ = entry.returnLevel();
    detail::check(result, where);
}

void Device::write(const std::string& name, const std::string& text) {
    const mvx::NamedRegister& reg = detail::namedRegister(name);
    int raw = 0;
    std::string error;
    if (!mvx::parseRegisterValue(reg, text, raw, error)) {
        throw std::invalid_argument(error);
    }
    // The checked raw value, as the setter takes it (flags as their byte, volts in tenths).
    Value value = raw;
    if (reg.kind == mvx::ValueKind::Volts) {
        value = raw / 10.0;
    }
    write(name, value);
}

std::vector<std::uint8_t> Device::readRaw(int address, int length) const {
    if (address < 0 || address > 255) {
        throw std::invalid_argument("address " + std::to_string(address) +
                                    " is out of range (0-255)");
    }
    if (length < 1 || length > static_cast<int>(mvx::kMaxParameters)) {
        throw std::invalid_argument("length " + std::to_string(length) + " is out of range (1-" +
                                    std::to_string(mvx::kMaxParameters) + ")");
    }
    if (address + length > 256) {
        throw std::invalid_argument("registers " + std::to_string(address) + " to " +
                                    std::to_string(address + length - 1) +
                                    " run past the end of the control table (255)");
    }
    detail::BusState& state = stateOf(state_);
    const detail::BusLock lock(state);
    return readBytes(state.entry(code_, id_), address, length);
}

void Device::writeRaw(int address, int value, bool word) {
    if (address < 0 || address > 255) {
        throw std::invalid_argument("address " + std::to_string(address) +
                                    " is out of range (0-255)");
    }
    const int max = word ? 65535 : 255;
    if (value < 0 || value > max) {
        throw std::invalid_argument("value " + std::to_string(value) + " is out of range (0-" +
                                    std::to_string(max) + (word ? " for a word)" : " for a byte)"));
    }
    if (word && address > 254) {
        throw std::invalid_argument("a word at register 255 runs past the control table");
    }
    detail::BusState& state = stateOf(state_);
    const detail::BusLock lock(state);
    mvx::DeviceEntry& entry = state.entry(code_, id_);
    const std::string where = detail::whereText(code_, id_);
    std::shared_ptr<mvx::AdapterLink> link;
    detail::check(entry.tuneLink(link), where);
    const auto id = static_cast<std::uint8_t>(entry.id());
    const auto at = static_cast<std::uint8_t>(address);
    const auto low = static_cast<std::uint8_t>(value & 0xFF);
    const auto high = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    const mvx::InstructionPacket packet =
        word ? mvx::InstructionPacket::make(id, mvx::Write, {at, low, high})
             : mvx::InstructionPacket::make(id, mvx::Write, {at, low});
    mvx::StatusPacket status;
    const int sent = mvx::transact(*link, packet, status);
    if (sent == mvx::Success && (status.error & kRefusalBits) != 0) {
        detail::refuse(where, "the device refused the write (" +
                                  mvx::flagText(status.error & kRefusalBits) + ")");
    }
    detail::check(mvx::judgeByRecordRule(sent, entry.returnLevel()), where);
    if (address < mvx::kSettlingAddressLimit) {
        state.clock().sleepMs(mvx::kSettlingWaitMs);
    }
}

Values Device::status() const {
    const std::vector<mvx::RegisterItem> items = detail::statusItems(model_);
    if (items.empty()) {
        throw std::invalid_argument("a device of model " + modelName() + " (" +
                                    std::to_string(model_) + ") has no status block");
    }
    detail::BusState& state = stateOf(state_);
    const detail::BusLock lock(state);
    const auto block =
        readBytes(state.entry(code_, id_), detail::kStatusFirst, detail::kStatusLength);
    return detail::statusValues(items, block.data());
}

Values Device::settings() const {
    detail::BusState& state = stateOf(state_);
    const detail::BusLock lock(state);
    mvx::DeviceEntry& entry = state.entry(code_, id_);
    const std::string where = detail::whereText(code_, id_);
    if (entry.servoRecord() == nullptr) {
        detail::refuse(where, std::string("the device has no servo registers (") +
                                  mvx::classText(entry.modelClass()) + " " +
                                  mvx::displayName(entry.modelNumber()) + ", return level " +
                                  std::to_string(entry.returnLevel()) + ")");
    }
    mvx::DeviceSettings settings;
    detail::check(mvx::readDeviceSettings(entry, {}, settings), where);
    Values values;
    for (const mvx::SettingValue& v : settings.values) {
        if (v.reg != nullptr) {
            values[v.reg->name] = detail::settingValue(*v.reg, v.value);
        }
    }
    return values;
}

void Device::ping() const {
    detail::BusState& state = stateOf(state_);
    const detail::BusLock lock(state);
    mvx::BusConnection& bus = state.registry().bus();
    int result = bus.tune(static_cast<std::uint8_t>(code_));
    if (result == mvx::Success) {
        auto link = bus.link();
        result = link ? mvx::ping(*link, static_cast<std::uint8_t>(id_)) : mvx::AdapterFailure;
    }
    const std::string where = detail::whereText(code_, id_);
    if (result == mvx::Timeout) {
        const std::string words = detail::resultWords(result);
        throw NoAnswer(result, where + ": " + words, words);
    }
    detail::check(result, where);
}

void Device::led(bool on) {
    write("led", on ? 1 : 0);
}

}  // namespace movantrix
