#include "device/DeviceEntry.h"

#include "protocol/BusConnection.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

namespace {

constexpr int kUnansweredModel = 255;  // a device that answers pings but no reads
constexpr std::uint8_t kIdentityLength = 17;

bool validCode(int code) {
    return code >= 0 && code <= 255;
}
bool validId(int id) {
    return id >= 0 && id < kBroadcastId;
}

}  // namespace

DeviceEntry::DeviceEntry(BusConnection& bus) : bus_(bus) {}

DeviceEntry::~DeviceEntry() = default;

void DeviceEntry::reset() {
    record_.reset();
    id_ = -1;
    baudCode_ = -1;
    modelClass_ = UnknownModel;
    modelNumber_ = 0;
    firmwareVersion_ = 0;
    returnDelay_ = 0;
    returnLevel_ = -1;
}

int DeviceEntry::tuneLink(std::shared_ptr<AdapterLink>& link) {
    if (!validCode(baudCode_) || !validId(id_)) {
        return Timeout;  // nothing can answer at an address that does not exist
    }
    const int result = bus_.tune(static_cast<std::uint8_t>(baudCode_));
    if (result != Success) {
        return result;
    }
    link = bus_.link();
    return link ? Success : AdapterFailure;
}

void DeviceEntry::settle() {
    bus_.clock().sleepMs(kSettlingWaitMs);
}

int DeviceEntry::ping() {
    std::shared_ptr<AdapterLink> link;
    const int result = tuneLink(link);
    if (result != Success) {
        return result;
    }
    return mvx::ping(*link, static_cast<std::uint8_t>(id_));
}

int DeviceEntry::readIdentity() {
    std::shared_ptr<AdapterLink> link;
    int result = tuneLink(link);
    if (result != Success) {
        return result;
    }
    std::uint8_t table[kIdentityLength] = {};
    result =
        readBlock(*link, static_cast<std::uint8_t>(id_), RegModelNumber, kIdentityLength, table);
    if (result == AdapterFailure) {
        return result;
    }
    if (result == Timeout) {
        // No answer to reads, as at return level 0: an unknown device if it answers a ping.
        const int pinged = ping();
        if (pinged == Success) {
            record_.reset();
            modelClass_ = UnknownModel;
            modelNumber_ = kUnansweredModel;
            returnLevel_ = 0;
            firmwareVersion_ = 0;
        }
        return pinged;
    }
    if (result != Success) {
        return result;
    }

    // The address registers (3, 4) are not taken over: the entry keeps the address it used.
    modelNumber_ = table[RegModelNumber] | table[RegModelNumber + 1] << 8;
    modelClass_ = classify(modelNumber_);
    firmwareVersion_ = table[RegFirmwareVersion];
    returnDelay_ = table[RegReturnDelay];
    const int level = table[RegReturnLevel];
    if (level != returnLevel_) {
        returnLevel_ = level;
        if (level != 0) {
            return rebuildRecord();
        }
        record_.reset();  // a record exists only for a nonzero level
    }
    return Success;
}

int DeviceEntry::rebuildRecord() {
    record_.reset();
    if (modelClass_ != Actuator) {
        return Success;
    }
    record_ = std::make_unique<ServoRecord>(*this);
    // The record stays attached even when its first load fails; pages load it again.
    return record_->build();
}

int DeviceEntry::probe(int code, int id) {
    // The search probes one address after the other with the same entry: start from a clean
    // entry so nothing of an earlier, failed probe (a record, a level) carries over.
    reset();
    baudCode_ = code;
    id_ = id;
    return readIdentity();
}

int DeviceEntry::changeAddressRegister(std::uint8_t address, int& field, int newValue) {
    if (newValue == field) {
        return Success;
    }
    std::shared_ptr<AdapterLink> link;
    int result = tuneLink(link);
    if (result != Success) {
        return result;
    }
    result = writeByte(*link, static_cast<std::uint8_t>(id_), address,
                       static_cast<std::uint8_t>(newValue));
    if (returnLevel_ == 2) {
        if (result != Success) {
            return result;
        }
        settle();
        field = newValue;
        return Success;
    }
    // Below level 2 the write gets no reply; a ping at the new address tells whether it took.
    if (result == AdapterFailure) {
        return result;
    }
    settle();
    const int oldValue = field;
    field = newValue;
    result = ping();
    if (result == AdapterFailure) {
        return result;
    }
    if (result != Success) {
        field = oldValue;
    }
    return result;
}

int DeviceEntry::changeId(int newId) {
    if (!validId(newId)) {
        return Busy;  // refused: not a device ID
    }
    return changeAddressRegister(RegId, id_, newId);
}

int DeviceEntry::changeBaud(int newCode) {
    if (!validCode(newCode)) {
        return Busy;  // refused: not a baud-rate code
    }
    return changeAddressRegister(RegBaudRate, baudCode_, newCode);
}

int DeviceEntry::setReturnDelay(int value) {
    if (value < 0 || value > 255) {
        return Busy;  // refused: not a byte, nothing written
    }
    if (value == returnDelay_) {
        return Success;
    }
    std::shared_ptr<AdapterLink> link;
    int result = tuneLink(link);
    if (result != Success) {
        return result;
    }
    result = writeByte(*link, static_cast<std::uint8_t>(id_), RegReturnDelay,
                       static_cast<std::uint8_t>(value));
    result = judgeByEntryRule(result, returnLevel_);
    if (result != Success) {
        return result;
    }
    settle();
    returnDelay_ = value;
    return Success;
}

int DeviceEntry::setReturnLevel(int value) {
    if (value < 0 || value > 2) {
        return Busy;  // refused: levels are 0, 1 and 2
    }
    if (value == returnLevel_) {
        return Success;
    }
    std::shared_ptr<AdapterLink> link;
    int result = tuneLink(link);
    if (result != Success) {
        return result;
    }
    result = writeByte(*link, static_cast<std::uint8_t>(id_), RegReturnLevel,
                       static_cast<std::uint8_t>(value));
    result = judgeByEntryRule(result, returnLevel_);
    if (result != Success) {
        return result;
    }
    settle();
    if (returnLevel_ != 0 && value != 0) {
        returnLevel_ = value;
    } else {
        // Into or out of level 0: the identity read follows the device (unknown device
        // without a record at level 0; identity and record back above it). Its failures are
        // not the write's, except a lost adapter: that ends every operation with 101, so the
        // caller closes the connection rather than trust an entry that could not follow.
        if (readIdentity() == AdapterFailure) {
            return AdapterFailure;
        }
    }
    return Success;
}

int DeviceEntry::resetToDefaults() {
    if (modelClass_ != Actuator || !record_) {
        return Success;
    }
    return record_->resetToDefaults();
}

}  // namespace mvx
