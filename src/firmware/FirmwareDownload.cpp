#include "firmware/FirmwareDownload.h"

#include <algorithm>
#include <array>
#include <memory>

#include "device/DeviceRegistry.h"
#include "device/ModelCatalogue.h"
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
constexpr int kFastRestartModel = 12;  // this model answers at code 1 after instruction 7
constexpr std::uint8_t kBaudRegister = 4;

// Raw link operations whose results the download does not look at; they do nothing when the
// adapter has gone.
void writeSingle(AdapterLink* link, std::uint8_t byte) {
    if (link) {
        std::uint32_t written = 0;
        link->write(&byte, 1, written);
    }
}

int purge(AdapterLink* link) {
    return link ? link->purgeReceive() : AdapterFailure;
}

// One pass of the readiness wait: true when every device of the registry answers its ping.
bool everyDeviceAnswers(DeviceRegistry& registry) {
    const int count = registry.deviceCount();
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        DeviceEntry* entry = registry.entryAt(i);
        if (entry && entry->ping() == Success) {
            ++answered;
        }
    }
    return answered == count;
}

// Sends the image to a loader that has been opened at code 34; true on a "Success" reply.
bool loaderAttempt(AdapterLink& link, Clock& clock, const std::vector<std::uint8_t>& bytes) {
    writeSingle(&link, kOpenLoader1);
    clock.sleepMs(100);
    writeSingle(&link, kOpenLoader2);
    clock.sleepMs(100);
    link.purgeReceive();

    std::size_t sent = 0;
    bool complete = true;
    while (sent < bytes.size()) {
        const std::uint32_t block =
            static_cast<std::uint32_t>(std::min<std::size_t>(kBlockSize, bytes.size() - sent));
        std::uint32_t written = 0;
        const int result = link.write(bytes.data() + sent, block, written);
        sent += std::min(written, block);
        if (result != Success) {
            complete = false;
            break;
        }
    }
    clock.sleepMs(300);
    if (!complete) {
        return false;
    }

    std::array<std::uint8_t, kReplySize> reply{};
    std::uint32_t received = 0;
    link.read(reply.data(), kReplySize, received, false);
    received = std::min<std::uint32_t>(received, kReplySize);
    return received >= kSuccessReply.size() &&
           std::equal(kSuccessReply.begin(), kSuccessReply.end(), reply.begin());
}

// Updates one device of the list; true when its loader accepted the image.
bool updateDevice(DeviceRegistry& registry, int code, int id,
                  const std::vector<std::uint8_t>& bytes) {
    BusConnection& bus = registry.bus();
    Clock& clock = bus.clock();
    const auto devId = static_cast<std::uint8_t>(id);
    const auto devCode = static_cast<std::uint8_t>(code);

    // Keep the other devices quiet while this one is in its loader.
    const int count = registry.deviceCount();
    for (int i = 0; i < count; ++i) {
        DeviceEntry* other = registry.entryAt(i);
        if (!other || (other->baudCode() == code && other->id() == id)) {
            continue;
        }
        bus.tune(static_cast<std::uint8_t>(other->baudCode()));
        if (auto link = bus.link()) {
            keyedWrite(*link, static_cast<std::uint8_t>(other->id()), kQuietRegister, kQuietValue);
        }
    }

    DeviceEntry* target = registry.find(code, id);
    if (!target) {
        return false;  // the list no longer matches the registry
    }
    bus.tune(devCode);
    std::shared_ptr<AdapterLink> link = bus.link();
    if (!link) {
        return false;
    }
    keyedWrite(*link, devId, kLoaderRegister, kLoaderValue);
    if (keyedWrite(*link, devId, kQuietRegister, kLoaderStartValue) != Success) {
        return false;
    }

    clock.sleepMs(250);
    link->setBaudCode(kLoaderCode);
    bool accepted = false;
    for (int attempt = 0; attempt < kAttempts && !accepted; ++attempt) {
        accepted = loaderAttempt(*link, clock, bytes);
    }
    clock.sleepMs(100);
    writeSingle(link.get(), kCloseLoader1);
    clock.sleepMs(100);
    writeSingle(link.get(), kCloseLoader2);
    clock.sleepMs(100);
    link->purgeReceive();
    if (!accepted) {
        return false;
    }

    // Restart the device and put it back on the rate it had before the update.
    bus.tune(devCode);
    instruction7(*link, devId);
    link->setBaudCode(target->modelNumber() == kFastRestartModel ? 1 : kLoaderCode);
    clock.sleepMs(1000);
    writeByte(*link, devId, kBaudRegister, devCode);
    target->setFirmwareVersion(registry.firmware.version);
    return true;
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
            break;  // the list is full; the rest of the devices are not updated this time
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
    std::fill_n(updates.resultFlags.begin(), count, std::uint8_t{0});

    BusConnection& bus = registry.bus();
    for (int k = 0; k < count; ++k) {
        bool ready = false;
        for (int pass = 1;; ++pass) {
            if (everyDeviceAnswers(registry)) {
                ready = true;
                break;
            }
            if (pass >= kReadinessPasses) {
                break;
            }
            bus.clock().sleepMs(kReadinessPauseMs);
        }
        if (!ready) {
            break;  // a device stays silent: give up this and every later entry
        }

        if (updateDevice(registry, updates.baudCodes[k], updates.ids[k], bytes)) {
            updates.resultFlags[k] = 1;
        }
        updates.progress = DownloadPercent(k + 1, count);
    }

    const int result = purge(bus.link().get());
    updates.progress = 100;
    return result;
}

int DownloadProgress(const DeviceRegistry& registry) {
    return registry.updates.progress.load();
}

}  // namespace mvx
