// One device on an open Bus: its address and identity as found, and every operation on it.
// A Device is a small value (copy it freely); it shares the Bus's connection, and using it after
// the Bus was closed throws AdapterLost. Each call tunes the bus to the device's baud-rate code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "movantrix/export.h"
#include "movantrix/types.h"

namespace movantrix {

namespace detail {
class BusState;
}

class MOVANTRIX_API Device {
public:
    Device() = default;

    int code() const { return code_; }  // baud-rate code it answers at
    int id() const { return id_; }
    Address address() const { return {code_, id_}; }
    int model() const { return model_; }
    std::string modelName() const;  // "MQ-35"
    int firmware() const { return firmware_; }
    int returnLevel() const { return returnLevel_; }
    bool isActuator() const { return actuator_; }

    // The register `name` (movantrix-cli's names: "goal-position", "present-voltage",
    // "alarm-shutdown", ...) read from the device, in its unit (see Value). "wheel-mode" is 1
    // when both angle limits are 0. std::invalid_argument for a name this model does not have.
    Value read(const std::string& name) const;
    // Writes through the setter of `name` with its rules (movantrix-cli set): ranges, the max
    // position of the model, the order and waits of the device; "id" and "baud" move the device
    // (this object follows it), refused when another device answers where it would pass.
    // std::invalid_argument with the command line's message for an unknown name or a value
    // out of range; Refused when the device cannot take it.
    void write(const std::string& name, const Value& value);
    // The same with the value as movantrix-cli set takes it: "on", "14.5", "overload,range".
    void write(const std::string& name, const std::string& text);
    void write(const std::string& name, const char* text) { write(name, std::string(text)); }

    // Raw control-table bytes `address` to `address + length - 1` (length 1-150).
    std::vector<std::uint8_t> readRaw(int address, int length) const;
    // One byte (0-255), or with `word` a little-endian word (0-65535). Refused when the device
    // answers with an instruction, range or checksum error.
    void writeRaw(int address, int value, bool word = false);

    // The status block (registers 24-49) in one read: torque-enable, led, goal-position,
    // moving-speed, present-position, present-speed, present-load, present-voltage (volts),
    // present-temperature (degrees Celsius), moving, ...
    Values status() const;
    // The settings a settings file holds (movantrix-cli backup), by name.
    Values settings() const;

    // NoAnswer when the device does not answer a ping.
    void ping() const;
    void led(bool on);

private:
    friend class Bus;
    friend class detail::BusState;

    std::shared_ptr<detail::BusState> state_;
    int code_ = -1;
    int id_ = -1;
    int model_ = 0;
    int firmware_ = 0;
    int returnLevel_ = -1;
    bool actuator_ = false;
};

}  // namespace movantrix
