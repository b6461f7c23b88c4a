// One device found on the bus: its address, identity and network settings, and for an
// actuator with a nonzero return level its servo record.
#pragma once

#include <cstdint>
#include <memory>

#include "device/ModelCatalogue.h"
#include "device/ServoRecord.h"

namespace mvx {

class AdapterLink;
class BusConnection;

class DeviceEntry {
public:
    explicit DeviceEntry(BusConnection& bus);
    ~DeviceEntry();

    DeviceEntry(const DeviceEntry&) = delete;
    DeviceEntry& operator=(const DeviceEntry&) = delete;

    // Each talks to the device after tuning the bus to the entry's code; result codes.
    int ping();
    int readIdentity();
    // Starts from a clean entry (nothing of an earlier probe is kept), takes the address and
    // reads the identity.
    int probe(int code, int id);
    // Below level 2 the device is pinged at its new address; when it does not answer, the
    // entry keeps the old value and the ping's result is returned. An ID outside 0-253 or a
    // code outside 0-255 is refused with 105 before anything is sent, as is a return delay
    // outside 0-255 or a return level outside 0-2.
    int changeId(int newId);
    int changeBaud(int newCode);
    int setReturnDelay(int value);
    int setReturnLevel(int value);
    int resetToDefaults();

    // The owned record, or null.
    ServoRecord* servoRecord() { return record_.get(); }
    const ServoRecord* servoRecord() const { return record_.get(); }

    int id() const { return id_; }
    int baudCode() const { return baudCode_; }
    ModelClass modelClass() const { return modelClass_; }
    int modelNumber() const { return modelNumber_; }
    int firmwareVersion() const { return firmwareVersion_; }
    int returnDelay() const { return returnDelay_; }
    int returnLevel() const { return returnLevel_; }

    // Used by the firmware download after a successful update.
    void setFirmwareVersion(int version) { firmwareVersion_ = version; }
    // Back to the initial values, record dropped (a placeholder is reused this way).
    void reset();

    BusConnection& bus() { return bus_; }

    // Tunes the bus to the entry's code and hands out the current link for one operation:
    // 100, 101 (no adapter or failed rate change) or 103 (the entry has no valid address).
    int tuneLink(std::shared_ptr<AdapterLink>& link);

private:
    // After a failed address change the registry puts the entry where the device answers.
    friend class DeviceRegistry;

    // Drops the record and, for an actuator, builds a new one; Build's result or 100.
    int rebuildRecord();
    // Writes the ID or baud-rate register and follows the device to its new address.
    int changeAddressRegister(std::uint8_t address, int& field, int newValue);
    void settle();

    BusConnection& bus_;
    std::unique_ptr<ServoRecord> record_;
    int id_ = -1;
    int baudCode_ = -1;
    ModelClass modelClass_ = UnknownModel;
    int modelNumber_ = 0;
    int firmwareVersion_ = 0;
    int returnDelay_ = 0;
    int returnLevel_ = -1;
};

}  // namespace mvx
