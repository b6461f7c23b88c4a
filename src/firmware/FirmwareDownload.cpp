#include "firmware/FirmwareDownload.h"

#include <algorithm>
#include <array>
#include <memory>

#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
#include "device/ServoRecord.h"
#include "protocol/BusConnection.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace mvx {

namespace {

constexpr int kReadinessPasses = 101;   // ping passes before the whole run is given up
constexpr int kReadinessPauseMs = 100;  // pause between two passes
constexpr std::uint8_t kQuietRegister = 45;
constexpr std::uint8_t kQuietValue = 10;  // sent to every other device
constexpr std::uint8_t kLoaderRegister = 250;
constexpr std::uint8_t kLoaderValue = 255;
constexpr std::uint8_t kLoaderStartValue = 254;  // to register 45 of the target; must succeed
constexpr std::uint8_t kLoaderCode = 34;         // the loader talks at 57142 bps
constexpr std::uint8_t kOpenLoader1 = 0x0D;
constexpr std::uint8_t kOpenLoader2 = 0x4C;   // "L"
constexpr std::uint8_t kCloseLoader1 = 0x41;  // "A"
constexpr std::uint8_t kCloseLoader2 = 0x47;  // "G"
constexpr std::uint32_t kBlockSize = 200;
constexpr int kAttempts = 3;
constexpr std::uint32_t kReplySize = 128;
constexpr std::array<std::uint8_t, 7> kSuccessReply = {'S', 'u', 'c', 'c', 'e', 's', 's'};
constexpr std::uint8_t kBaudRegister = 4;

// One raw write of the loader dialogue, given up at its deadline: the write's result, or 101
// when the adapter has gone or has stopped taking bytes (the deadline passed with bytes left),
// so the run ends there instead of waiting on every later write.
int loaderWrite(AdapterLink& link, const std::uint8_t* bytes, std::uint32_t count,
                std::uint32_t& written) {
    bool overdue = false;
    const int result = link.writeWithin(bytes, count, written, overdue);
    return overdue ? AdapterFailure : result;
}

// One byte of the loader dialogue: as loaderWrite.
int writeSingle(AdapterLink* link, std::uint8_t byte) {
    if (!link) {
        return AdapterFailure;
    }
    std::uint32_t written = 0;
    return loaderWrite(*link, &byte, 1, written);
}

int purge(AdapterLink* link) {
    return link ? link->purgeReceive() : AdapterFailure;
}

// One pass of the readiness wait: 100 when every device of the registry answers its ping,
// 101 as soon as a ping meets a lost adapter, else 103.
int everyDeviceAnswers(DeviceRegistry& registry) {
    const int count = registry.deviceCount();
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        DeviceEntry* entry = registry.entryAt(i);
        const int result = entry ? entry->ping() : Timeout;
        if (result == AdapterFailure) {
            return result;
        }
        answered += result == Success ? 1 : 0;
    }
    return answered == count ? Success : Timeout;
}

// Whether the rate write after the restart reached the device: it went out whole and, from
// a device that answers writes (level 2), some reply came back.
bool rateWriteArrived(int result, int returnLevel) {
    return judgeByRecordRule(result, returnLevel) == Success || result == CorruptReply;
}

// Sends the image to a loader that has been opened at code 34; `accepted` on a "Success"
// reply. 101 when the adapter was lost (returned at once, without the remaining pauses), else
// 100 whatever the loader said.
int loaderAttempt(AdapterLink& link, Clock& clock, const std::vector<std::uint8_t>& bytes,
                  bool& accepted) {
    accepted = false;
    if (writeSingle(&link, kOpenLoader1) == AdapterFailure) {
        return AdapterFailure;
    }
    clock.sleepMs(100);
    if (writeSingle(&link, kOpenLoader2) == AdapterFailure) {
        return AdapterFailure;
    }
    clock.sleepMs(100);
    if (link.purgeReceive() == AdapterFailure) {
        return AdapterFailure;
    }

    std::size_t sent = 0;
    bool complete = true;
    while (sent < bytes.size()) {
        const std::uint32_t block =
            static_cast<std::uint32_t>(std::min<std::size_t>(kBlockSize, bytes.size() - sent));
        std::uint32_t written = 0;
        const int result = loaderWrite(link, bytes.data() + sent, block, written);
        if (result == AdapterFailure) {
            return result;
        }
        sent += std::min(written, block);
        if (result != Success) {
            complete = false;  // a short write: this attempt is lost, the next one may pass
            break;
        }
    }
    clock.sleepMs(300);
    if (!complete) {
        return Success;
    }

    std::array<std::uint8_t, kReplySize> reply{};
    std::uint32_t received = 0;
    if (link.read(reply.data(), kReplySize, received, false) == AdapterFailure) {
        return AdapterFailure;
    }
    received = std::min<std::uint32_t>(received, kReplySize);
    accepted = received >= kSuccessReply.size() &&
               std::equal(kSuccessReply.begin(), kSuccessReply.end(), reply.begin());
    return Success;
}

// The code a device answers at after its restart, until its rate is written back.
int restartCodeOf(const DeviceEntry& device) {
    return device.modelNumber() == kFastRestartModel ? 1 : kLoaderCode;
}

// The restart code of the device at (code, id) when another device of the registry holds its
// ID there, else -1. The rate write-back after the restart goes by ID at that code, so it would
// move that other device as well.
int idInUseAtRestart(DeviceRegistry& registry, int code, int id) {
    const DeviceEntry* target = registry.find(code, id);
    if (!target) {
        return -1;
    }
    const int restartCode = restartCodeOf(*target);
    return restartCode != code && registry.find(restartCode, id) ? restartCode : -1;
}

// How far one device got.
struct DeviceOutcome {
    bool accepted = false;    // its loader took the image
    int leftAt = -1;          // the code it was left at when its rate was not restored
    bool otherModel = false;  // it answered with another model number: left alone
    // Not updated, and not seen out of its loader again (no answer to its ping after the
    // closing bytes, or the run ended before they went out).
    bool mayBeInLoader = false;
};

// Reads the model number of the device at (code, id) again: the read's result (101 when the
// adapter was lost), and `otherModel` when it answered with another model than `model`. The
// list was built from the last search, and a device swapped since must not get this image.
int readModel(BusConnection& bus, std::uint8_t code, std::uint8_t id, int model, bool& otherModel) {
    otherModel = false;
    if (bus.tune(code) != Success) {
        return AdapterFailure;
    }
    std::shared_ptr<AdapterLink> link = bus.link();
    if (!link) {
        return AdapterFailure;
    }
    std::uint8_t number[2] = {0xFF, 0xFF};  // a reply of another length leaves no model here
    const int result = readBlock(*link, id, RegModelNumber, 2, number);
    otherModel = result == Success && (number[0] | number[1] << 8) != model;
    return result;
}

// Updates one device of the list. 101 as soon as a step meets a lost adapter (the outcome
// tells how far the device got), else 100; `outcome.accepted` tells whether the image is in.
int updateDevice(DeviceRegistry& registry, int code, int id, const std::vector<std::uint8_t>& bytes,
                 DeviceOutcome& outcome) {
    BusConnection& bus = registry.bus();
    Clock& clock = bus.clock();
    const auto devId = static_cast<std::uint8_t>(id);
    const auto devCode = static_cast<std::uint8_t>(code);

    // Nothing of the loader reaches a device that is not of the image's model, or whose model
    // cannot be read.
    const int modelRead =
        readModel(bus, devCode, devId, registry.firmware.modelNumber, outcome.otherModel);
    if (modelRead == AdapterFailure) {
        return AdapterFailure;
    }
    if (modelRead != Success || outcome.otherModel) {
        return Success;
    }

    // Keep the other devices quiet while this one is in its loader.
    const int count = registry.deviceCount();
    for (int i = 0; i < count; ++i) {
        DeviceEntry* other = registry.entryAt(i);
        if (!other || (other->baudCode() == code && other->id() == id)) {
            continue;
        }
        if (bus.tune(static_cast<std::uint8_t>(other->baudCode())) != Success) {
            return AdapterFailure;  // tune fails only with 101
        }
        auto link = bus.link();
        if (!link || keyedWrite(*link, static_cast<std::uint8_t>(other->id()), kQuietRegister,
                                kQuietValue) == AdapterFailure) {
            return AdapterFailure;
        }
    }

    DeviceEntry* target = registry.find(code, id);
    if (!target) {
        return Success;  // the list no longer matches the registry: not updated
    }
    if (bus.tune(devCode) != Success) {
        return AdapterFailure;
    }
    std::shared_ptr<AdapterLink> link = bus.link();
    if (!link || keyedWrite(*link, devId, kLoaderRegister, kLoaderValue) == AdapterFailure) {
        return AdapterFailure;
    }
    // From the start write on the device may be in its loader, until it answers its ping again
    // or takes the image.
    outcome.mayBeInLoader = true;
    const int started = keyedWrite(*link, devId, kQuietRegister, kLoaderStartValue);
    if (started == AdapterFailure) {
        return AdapterFailure;
    }

    // An unconfirmed start may still have started the loader (only the read-back was lost):
    // it gets the closing bytes as well, which a device outside its loader does not heed.
    clock.sleepMs(250);
    if (link->setBaudCode(kLoaderCode) != Success) {
        return AdapterFailure;
    }
    for (int attempt = 0; started == Success && attempt < kAttempts && !outcome.accepted;
         ++attempt) {
        if (loaderAttempt(*link, clock, bytes, outcome.accepted) == AdapterFailure) {
            return AdapterFailure;
        }
    }
    // An accepted image restarts the device at its loader's rate (code 1 for the fast-restart
    // model); it stays there until register 4 is written back below, so a run that ends before
    // that leaves it at that code.
    const int restartCode = restartCodeOf(*target);
    if (outcome.accepted) {
        target->setFirmwareVersion(registry.firmware.version);
        outcome.leftAt = restartCode == code ? -1 : restartCode;
    }
    clock.sleepMs(100);
    if (writeSingle(link.get(), kCloseLoader1) == AdapterFailure) {
        return AdapterFailure;
    }
    clock.sleepMs(100);
    if (writeSingle(link.get(), kCloseLoader2) == AdapterFailure) {
        return AdapterFailure;
    }
    clock.sleepMs(100);
    if (link->purgeReceive() == AdapterFailure) {
        return AdapterFailure;
    }
    if (!outcome.accepted) {
        // Out of its loader it answers at its own code again; one that does not may be stuck
        // there, and only a power cycle is sure to bring it back.
        const int pinged = target->ping();
        if (pinged == AdapterFailure) {
            return AdapterFailure;
        }
        outcome.mayBeInLoader = pinged != Success;
        return Success;
    }
    outcome.mayBeInLoader = false;

    // Restart the device and put it back on the rate it had before the update.
    if (bus.tune(devCode) != Success || instruction7(*link, devId) == AdapterFailure ||
        link->setBaudCode(static_cast<std::uint8_t>(restartCode)) != Success) {
        return AdapterFailure;
    }
    clock.sleepMs(1000);
    const int restored = writeByte(*link, devId, kBaudRegister, devCode);
    if (restored == AdapterFailure) {
        return restored;
    }
    if (rateWriteArrived(restored, target->returnLevel())) {
        outcome.leftAt = -1;
    }
    return Success;
}

}  // namespace

int DownloadPercent(int done, int count) {
    if (count <= 0) {
        return 100;
    }
    // Rounded to single precision before truncation, so 29 of 100 gives 29, not 28.
    const float percent =
        static_cast<float>(static_cast<double>(done) / static_cast<double>(count) * 100.0);
    return static_cast<int>(percent);
}

std::vector<std::uint8_t> ImageWithChecksum(const FirmwareImage& firmware) {
    const std::size_t length = std::min<std::size_t>(firmware.imageLength, firmware.image.size());
    std::vector<std::uint8_t> bytes(firmware.image.begin(), firmware.image.begin() + length);
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : bytes) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    bytes.push_back(sum);
    return bytes;
}

void BuildUpdateList(DeviceRegistry& registry, int oldOnly) {
    UpdateList& updates = registry.updates;
    const FirmwareImage& firmware = registry.firmware;
    updates.count = 0;
    updates.leftOut = 0;
    for (const DeviceSummary& device : registry.snapshot()) {
        // A device of unknown model (a ping-only device is recorded as model 255, or a model
        // the catalogue does not know) is never sent into its loader, whatever the file says.
        if (device.modelClass == UnknownModel || classify(device.modelNumber) == UnknownModel) {
            continue;
        }
        if (device.modelNumber != firmware.modelNumber) {
            continue;
        }
        if (oldOnly != 0 && firmware.version <= device.firmwareVersion) {
            continue;
        }
        if (updates.count == kUpdateListCapacity) {
            ++updates.leftOut;  // the list is full: counted, not updated this time
            continue;
        }
        updates.baudCodes[updates.count] = device.baudCode;
        updates.ids[updates.count] = device.id;
        ++updates.count;
    }
}

int DownloadAll(DeviceRegistry& registry) {
    UpdateList& updates = registry.updates;
    updates.progress = 0;
    // Sent from a copy: the loaded image stays as loaded, so a second run sends the same bytes.
    const std::vector<std::uint8_t> bytes = ImageWithChecksum(registry.firmware);
    const int count = std::clamp(updates.count, 0, kUpdateListCapacity);
    std::fill_n(updates.resultFlags.begin(), count, std::uint8_t{UpdateFailed});
    std::fill_n(updates.leftAtCodes.begin(), count, -1);
    std::fill_n(updates.idInUseAtCodes.begin(), count, -1);

    BusConnection& bus = registry.bus();
    int lost = Success;  // 101 once a step has met a lost adapter: nothing more is tried
    for (int k = 0; k < count && lost == Success; ++k) {
        if (const int inUseAt = idInUseAtRestart(registry, updates.baudCodes[k], updates.ids[k]);
            inUseAt >= 0) {
            updates.resultFlags[k] = UpdateSkippedIdInUse;
            updates.idInUseAtCodes[k] = inUseAt;
            updates.progress = DownloadPercent(k + 1, count);
            continue;
        }
        int ready = Timeout;
        for (int pass = 1;; ++pass) {
            ready = everyDeviceAnswers(registry);
            if (ready != Timeout || pass >= kReadinessPasses) {
                break;
            }
            bus.clock().sleepMs(kReadinessPauseMs);
        }
        if (ready == AdapterFailure) {
            lost = AdapterFailure;
            std::fill(updates.resultFlags.begin() + k, updates.resultFlags.begin() + count,
                      std::uint8_t{UpdateNotReached});
            break;
        }
        if (ready != Success) {
            break;  // a device stays silent: give up this and every later entry
        }

        DeviceOutcome outcome;
        lost = updateDevice(registry, updates.baudCodes[k], updates.ids[k], bytes, outcome);
        updates.resultFlags[k] = outcome.accepted        ? UpdateSucceeded
                                 : outcome.otherModel    ? UpdateSkippedModelChanged
                                 : outcome.mayBeInLoader ? UpdateFailedInLoader
                                                         : UpdateFailed;
        updates.leftAtCodes[k] = outcome.accepted ? outcome.leftAt : -1;
        if (lost == AdapterFailure) {
            std::fill(updates.resultFlags.begin() + k + 1, updates.resultFlags.begin() + count,
                      std::uint8_t{UpdateNotReached});
        }
        updates.progress = DownloadPercent(k + 1, count);
    }

    const int purged = purge(bus.link().get());
    updates.progress = 100;
    return lost == AdapterFailure ? lost : purged;
}

int DownloadProgress(const DeviceRegistry& registry) {
    return registry.updates.progress.load();
}

}  // namespace mvx
