// One device found on the bus: its address, identity and network settings, and for an
// actuator with a nonzero return level its servo record.
#pragma once

#include <memory>

#include "device/ModelCatalogue.h"

namespace mvx {

class BusConnection;
class ServoRecord;

class DeviceEntry {
public:
    explicit DeviceEntry(BusConnection& bus);
    ~DeviceEntry();

    DeviceEntry(const DeviceEntry&) = delete;
    DeviceEntry& operator=(const DeviceEntry&) = delete;

    // Each talks to the device after tuning the bus to the entry's code; result codes.
    int ping();
    int readIdentity();
    int probe(int code, int id);
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

private:
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
