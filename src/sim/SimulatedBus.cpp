#include "sim/SimulatedBus.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "sim/SimChaos.h"

namespace mvx {

namespace {

constexpr int kBitsPerByte = 10;
constexpr std::uint8_t kNoiseByte = 0x55;
// Longest single wait of a read, so a real-time read notices bytes that another thread puts
// on the wire meanwhile.
constexpr std::int64_t kMaxWaitStepUs = 1000;

std::int64_t wireUs(std::size_t bytes, std::uint32_t rateBps) {
    return rateBps == 0 ? 0 : static_cast<std::int64_t>(bytes) * kBitsPerByte * 1000000 / rateBps;
}

}  // namespace

SimulatedBus::SimulatedBus(const BusDescription& description, Clock& clock)
    : clock_(clock),
      adapterName_(description.adapterName),
      receiveLatencyUs_(std::max<std::int64_t>(description.receiveLatencyUs, 0)),
      broadcastSpacingUs_(
          std::clamp<std::int64_t>(description.broadcastSpacingUs, 0, kMaxBroadcastSpacingUs)) {
    for (const auto& deviceSpec : description.devices) {
        devices_.push_back(
            std::unique_ptr<SimulatedDevice>(new SimulatedDevice(*this, deviceSpec)));
    }
    for (auto& device : devices_) {
        byId_.push_back(device.get());
    }
    sortDevicesLocked();
    const std::int64_t now = clock_.nowUs();
    hostWireFreeUs_ = now;
    replyWireFreeUs_ = now;
}

SimulatedBus::~SimulatedBus() = default;

std::string SimulatedBus::adapterName() const {
    std::lock_guard lock(mutex_);
    return adapterName_;
}

std::int64_t SimulatedBus::scheduleOriginUs() const {
    std::lock_guard lock(mutex_);
    return scheduleOriginUs_;
}

std::size_t SimulatedBus::deviceCount() const {
    std::lock_guard lock(mutex_);
    return devices_.size();
}

SimulatedDevice& SimulatedBus::device(std::size_t index) {
    std::lock_guard lock(mutex_);
    return *devices_.at(index);
}

SimulatedDevice* SimulatedBus::find(std::uint8_t code, std::uint8_t id) {
    std::lock_guard lock(mutex_);
    settleLocked(clock_.nowUs());
    const std::int64_t now = clock_.nowUs();
    for (auto& device : devices_) {
        if (device->table_[3] == id && device->listenCode() == code && device->presentLocked(now)) {
            return device.get();
        }
    }
    return nullptr;
}

bool SimulatedBus::rateMatches(std::uint32_t rateBps, std::uint8_t code) {
    if (rateBps == 0) {
        return false;
    }
    const double nearest = std::round(2000000.0 / rateBps - 1.0);
    if (nearest != static_cast<double>(code)) {
        return false;
    }
    const double codeRate = rateOf(code);
    return std::fabs(rateBps - codeRate) <= 0.03 * codeRate;
}

void SimulatedBus::setHostRate(std::uint32_t rateBps) {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowUs();
    settleLocked(now);
    if (rateBps != hostRate_) {
        noteHostLeftLocked(now);
        // Bytes still on the wire now reach a receiver at the wrong rate: they are lost.
        // Bytes already received (only waiting for the USB transfer) stay.
        std::erase_if(inbound_, [this, now](const InByte& b) {
            return b.arrivalUs - receiveLatencyUs_ > now;
        });
    }
    hostRate_ = rateBps;
}

std::uint32_t SimulatedBus::hostRate() const {
    std::lock_guard lock(mutex_);
    return hostRate_;
}

void SimulatedBus::hostWrite(const std::uint8_t* bytes, std::size_t count, std::uint32_t rateBps) {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowUs();
    settleLocked(now);
    if (rateBps != hostRate_) {
        noteHostLeftLocked(now);
    }
    hostRate_ = rateBps;
    if (count == 0 || rateBps == 0) {
        return;
    }
    if (scheduleOriginUs_ < 0) {
        scheduleOriginUs_ = now;
    }
    sortDevicesLocked();  // devices hear (and answer a broadcast) in ascending ID order
    const std::int64_t start = std::max(now, hostWireFreeUs_);
    hostWireFreeUs_ = start + wireUs(count, rateBps);

    SimTraffic entry;
    entry.direction = SimTraffic::HostToBus;
    entry.startUs = start;
    entry.endUs = hostWireFreeUs_;
    entry.rateBps = rateBps;
    entry.bytes.assign(bytes, bytes + count);
    recordLocked(std::move(entry));

    // Which codes hear this rate, worked out once per write rather than per byte and device.
    std::array<std::int8_t, 256> hears{};
    hears.fill(-1);
    auto hearsRate = [&hears, rateBps](std::uint8_t code) {
        std::int8_t& heard = hears[code];
        if (heard < 0) {
            heard = rateMatches(rateBps, code) ? 1 : 0;
        }
        return heard == 1;
    };
    // A device at another rate with no packet in progress and no timer has nothing to do
    // while these bytes pass (nothing can change its state meanwhile), so it is left out. Of
    // the devices that hear this rate, those that frame the bytes as any other such device
    // would (framesLikeAnyOtherLocked) share one receiver: a whole packet is handed only to the
    // devices it is addressed to (all of them for a broadcast), which then go on byte by byte.
    // Every other device goes through the bytes one by one. So the cost of a byte no longer
    // grows with the devices that merely hear it.
    writeDevices_.clear();
    plainDevices_.clear();
    bool loaderMayRun = timersPendingLocked();
    for (std::size_t k = 0; k < byId_.size(); ++k) {
        SimulatedDevice* device = byId_[k];
        device->busOrder_ = k;
        const bool hears = hearsRate(device->listenCode());
        if (hears && device->framesLikeAnyOtherLocked(loaderMayRun)) {
            plainDevices_.push_back(device);
        } else if (hears || !device->rx_.empty() || device->nextTimerLocked() >= 0) {
            writeDevices_.push_back(device);
        }
    }
    plainLeft_.assign(plainDevices_.size(), 0);
    // The plain devices are in ascending ID order: those with ID i are
    // plainDevices_[plainFrom_[i], plainFrom_[i + 1]).
    std::size_t next = 0;
    for (int id = 0; id <= 256; ++id) {
        while (next < plainDevices_.size() && plainDevices_[next]->table_[3] < id) {
            ++next;
        }
        plainFrom_[static_cast<std::size_t>(id)] = next;
    }

    const auto byOrder = [](const SimulatedDevice* a, const SimulatedDevice* b) {
        return a->busOrder_ < b->busOrder_;
    };
    const auto hearOne = [&hearsRate](SimulatedDevice* device, std::int64_t at,
                                      std::uint8_t value) {
        device->settleLocked(at);
        if (hearsRate(device->listenCode())) {
            device->hearByte(at, value);
        } else if (!device->rx_.empty()) {
            device->rx_.clear();  // noise at another rate breaks a packet in progress
        }
    };
    sharedRx_.clear();
    std::int64_t sharedLastUs = -1;
    // Joins the devices in addressed_ (in order) to those going byte by byte.
    const auto joinOneByOne = [this, &byOrder] {
        acting_.clear();
        std::merge(writeDevices_.begin(), writeDevices_.end(), addressed_.begin(), addressed_.end(),
                   std::back_inserter(acting_), byOrder);
        writeDevices_.swap(acting_);
    };
    // Moves the plain devices that `leaves` picks to those going byte by byte, each holding
    // what the shared receiver holds now, as if it had framed the bytes itself.
    const auto leaveShared = [&](auto leaves) {
        addressed_.clear();
        for (std::size_t k = 0; k < plainDevices_.size(); ++k) {
            if (plainLeft_[k] == 0 && leaves(*plainDevices_[k])) {
                plainLeft_[k] = 1;
                plainDevices_[k]->rx_ = sharedRx_;
                plainDevices_[k]->lastRxUs_ = sharedLastUs;
                addressed_.push_back(plainDevices_[k]);
            }
        }
        joinOneByOne();
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::int64_t at = start + wireUs(i + 1, rateBps);
        const bool whole = !plainDevices_.empty() &&
                           SimulatedDevice::framePacketByte(sharedRx_, sharedLastUs, at, bytes[i]);
        if (!whole) {
            for (SimulatedDevice* device : writeDevices_) {
                hearOne(device, at, bytes[i]);
            }
        } else {
            // The plain devices the packet is for handle it, in order among the devices going
            // byte by byte, and go byte by byte from then on.
            addressed_.clear();
            const std::uint8_t id = sharedRx_[2];
            const bool broadcast = id == kBroadcastId;
            const std::size_t from = broadcast ? 0 : plainFrom_[id];
            const std::size_t to = broadcast ? plainDevices_.size() : plainFrom_[id + 1u];
            for (std::size_t k = from; k < to; ++k) {
                if (plainLeft_[k] == 0) {
                    plainLeft_[k] = 1;
                    addressed_.push_back(plainDevices_[k]);
                }
            }
            joinOneByOne();
            for (SimulatedDevice* device : writeDevices_) {
                if (std::binary_search(addressed_.begin(), addressed_.end(), device, byOrder)) {
                    device->handlePacket(at, sharedRx_);
                } else {
                    hearOne(device, at, bytes[i]);
                }
            }
            sharedRx_.clear();
        }
        if (!loaderMayRun && timersPendingLocked()) {
            // A packet started a loader, which may quieten the devices told to stand by before
            // this write ends: from here on they go byte by byte.
            loaderMayRun = true;
            leaveShared([](const SimulatedDevice& device) { return device.standbyLocked(); });
        }
    }
    // A fragment at the end of the write is held by every plain device.
    if (!sharedRx_.empty()) {
        leaveShared([](const SimulatedDevice&) { return true; });
    }
}

std::int64_t SimulatedBus::hostWireFreeUs() const {
    std::lock_guard lock(mutex_);
    return hostWireFreeUs_;
}

std::int64_t SimulatedBus::wireTimeUs(std::size_t bytes, std::uint32_t rateBps) {
    return wireUs(bytes, rateBps);
}

std::size_t SimulatedBus::hostRead(std::uint8_t* out, std::size_t max) {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowUs();
    settleLocked(now);
    return takeLocked(out, max, now);
}

std::size_t SimulatedBus::hostReadWait(std::uint8_t* out, std::size_t count,
                                       std::int64_t timeoutUs) {
    const std::int64_t deadline = clock_.nowUs() + std::max<std::int64_t>(timeoutUs, 0);
    for (;;) {
        std::int64_t wake = deadline;
        {
            std::lock_guard lock(mutex_);
            const std::int64_t now = clock_.nowUs();
            settleLocked(now);
            if (arrivedLocked(now) >= count || now >= deadline) {
                return takeLocked(out, count, now);
            }
            if (inbound_.size() >= count) {
                wake = std::min(wake, inbound_[count - 1].arrivalUs);
            }
            const std::int64_t timer = nextTimerLocked();
            if (timer >= 0) {
                wake = std::min(wake, timer);
            }
            wake = std::min(wake, now + kMaxWaitStepUs);
            wake = std::max(wake, now + 1);
        }
        clock_.sleepUntilUs(wake);
    }
}

std::size_t SimulatedBus::pendingBytes() {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowUs();
    settleLocked(now);
    return arrivedLocked(now);
}

std::int64_t SimulatedBus::nextEventUs() {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowUs();
    settleLocked(now);
    return nextEventLocked(now);
}

void SimulatedBus::purgeHostInput() {
    std::lock_guard lock(mutex_);
    const std::int64_t now = clock_.nowUs();
    settleLocked(now);
    while (!inbound_.empty() && inbound_.front().arrivalUs <= now) {
        inbound_.pop_front();
    }
}

void SimulatedBus::setFaults(const SimFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

SimFaults SimulatedBus::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void SimulatedBus::failAdapterFrom(int callNumber) {
    std::lock_guard lock(mutex_);
    failFrom_ = std::max(callNumber, 0);
    callsSinceFail_ = 0;
}

void SimulatedBus::setAdapterPlugged(bool plugged) {
    std::lock_guard lock(mutex_);
    plugged_ = plugged;
}

bool SimulatedBus::adapterPlugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

void SimulatedBus::setAdapterFrozen(bool frozen) {
    std::lock_guard lock(mutex_);
    frozen_ = frozen;
}

bool SimulatedBus::adapterFrozen() const {
    std::lock_guard lock(mutex_);
    return frozen_;
}

std::vector<SimTraffic> SimulatedBus::traffic() const {
    std::lock_guard lock(mutex_);
    return {traffic_.begin(), traffic_.end()};
}

void SimulatedBus::clearTraffic() {
    std::lock_guard lock(mutex_);
    traffic_.clear();
}

void SimulatedBus::setChaos(SimChaos* chaos) {
    std::lock_guard lock(mutex_);
    chaos_ = chaos;
}

bool SimulatedBus::adapterCall() {
    std::lock_guard lock(mutex_);
    if (chaos_ != nullptr) {
        bool unplug = false;
        if (!chaos_->adapterCall(unplug)) {
            plugged_ = plugged_ && !unplug;
            return false;
        }
    }
    if (failFrom_ == 0) {
        return true;
    }
    ++callsSinceFail_;
    return callsSinceFail_ < failFrom_;
}

bool SimulatedBus::claimAdapter() {
    std::lock_guard lock(mutex_);
    if (adapterOpen_) {
        return false;
    }
    adapterOpen_ = true;
    return true;
}

void SimulatedBus::releaseAdapter() {
    std::lock_guard lock(mutex_);
    adapterOpen_ = false;
}

// --- Internals (mutex held) ---

void SimulatedBus::sortDevicesLocked() {
    const auto byIdLess = [](SimulatedDevice* a, SimulatedDevice* b) {
        return a->table_[3] < b->table_[3];
    };
    if (std::is_sorted(byId_.begin(), byId_.end(), byIdLess)) {
        return;  // the usual case: no ID has changed since the last write
    }
    std::stable_sort(byId_.begin(), byId_.end(), byIdLess);
}

bool SimulatedBus::timersPendingLocked() const {
    return devicesInLoader_ > 0 || loaderEntriesPending_ > 0;
}

std::int64_t SimulatedBus::nextTimerLocked() const {
    std::int64_t next = -1;
    if (!timersPendingLocked()) {
        return next;
    }
    for (const SimulatedDevice* device : byId_) {
        const std::int64_t timer = device->nextTimerLocked();
        if (timer >= 0 && (next < 0 || timer < next)) {
            next = timer;
        }
    }
    return next;
}

void SimulatedBus::settleLocked(std::int64_t nowUs) {
    if (!timersPendingLocked()) {
        return;  // only a loader (pending or running) changes a device with time alone
    }
    for (SimulatedDevice* device : byId_) {
        device->settleLocked(nowUs);
    }
}

std::size_t SimulatedBus::arrivedLocked(std::int64_t nowUs) const {
    std::size_t n = 0;
    while (n < inbound_.size() && inbound_[n].arrivalUs <= nowUs) {
        ++n;
    }
    return n;
}

std::size_t SimulatedBus::takeLocked(std::uint8_t* out, std::size_t max, std::int64_t nowUs) {
    std::size_t n = 0;
    while (n < max && !inbound_.empty() && inbound_.front().arrivalUs <= nowUs) {
        out[n++] = inbound_.front().value;
        inbound_.pop_front();
    }
    return n;
}

std::int64_t SimulatedBus::nextEventLocked(std::int64_t nowUs) const {
    std::int64_t next = -1;
    for (const InByte& byte : inbound_) {
        if (byte.arrivalUs > nowUs) {
            next = byte.arrivalUs;
            break;
        }
    }
    const std::int64_t timer = nextTimerLocked();
    if (timer >= 0 && (next < 0 || timer < next)) {
        next = timer;
    }
    return next;
}

bool SimulatedBus::loaderActiveLocked() const {
    return devicesInLoader_ > 0;
}

void SimulatedBus::releaseStandbyLocked() {
    if (loaderActiveLocked()) {
        return;
    }
    for (SimulatedDevice* device : byId_) {
        if (device->table_[45] == 10) {
            device->table_[45] = 0;
        }
    }
}

SimFaults SimulatedBus::effectiveFaultsLocked(const SimulatedDevice& device) const {
    const SimFaults& own = device.faults_;
    SimFaults f;
    f.dropReply = own.dropReply || faults_.dropReply;
    f.corruptChecksum = own.corruptChecksum || faults_.corruptChecksum;
    f.truncateReply = own.truncateReply || faults_.truncateReply;
    f.noiseBytes = std::max(own.noiseBytes, faults_.noiseBytes);
    f.extraDelayUs = std::max(own.extraDelayUs, faults_.extraDelayUs);
    f.silentAfterPackets =
        own.silentAfterPackets >= 0 ? own.silentAfterPackets : faults_.silentAfterPackets;
    f.answerReads = own.answerReads >= 0 ? own.answerReads : faults_.answerReads;
    f.corruptReads = std::max(own.corruptReads, faults_.corruptReads);
    f.ignoreWrites = own.ignoreWrites || faults_.ignoreWrites;
    f.errorBits = static_cast<std::uint8_t>(own.errorBits | faults_.errorBits);
    f.rejectImages = std::max(own.rejectImages, faults_.rejectImages);
    f.loaderReply = own.loaderReply.empty() ? faults_.loaderReply : own.loaderReply;
    f.loaderEcho = own.loaderEcho || faults_.loaderEcho;
    const bool ownSplit = own.loaderReplySplit > 0;
    f.loaderReplySplit = ownSplit ? own.loaderReplySplit : faults_.loaderReplySplit;
    f.loaderSplitGapUs = ownSplit ? own.loaderSplitGapUs : faults_.loaderSplitGapUs;
    return f;
}

bool SimulatedBus::othersAnswerLocked(const SimulatedDevice& device, std::int64_t timeUs,
                                      std::uint8_t instruction) const {
    for (const auto& other : devices_) {
        if (other.get() != &device && other->table_[3] == device.table_[3] &&
            other->listenCode() == device.listenCode() &&
            other->answersLocked(timeUs, instruction)) {
            return true;
        }
    }
    return false;
}

void SimulatedBus::sendReplyLocked(SimulatedDevice& device, int deviceId, std::int64_t readyUs,
                                   std::vector<std::uint8_t> bytes, std::uint8_t code) {
    const SimFaults f = effectiveFaultsLocked(device);
    if (f.dropReply || bytes.empty()) {
        return;
    }
    if (f.corruptChecksum) {
        bytes.back() = static_cast<std::uint8_t>(~bytes.back());
    }
    if (f.truncateReply) {
        bytes.resize(std::max<std::size_t>(1, bytes.size() / 2));
    }
    if (f.noiseBytes > 0) {
        bytes.insert(bytes.begin(), static_cast<std::size_t>(f.noiseBytes), kNoiseByte);
    }
    const std::uint32_t rate = rateOf(code);
    // A reply the faults delay holds up no other: the answers after it go out in their time
    // (and one that meets it on the wire mixes with it).
    const std::int64_t start = std::max(readyUs, replyWireFreeUs_) + f.extraDelayUs;
    const std::int64_t end = start + wireUs(bytes.size(), rate);
    if (f.extraDelayUs == 0) {
        replyWireFreeUs_ = end + wireUs(1, rate);  // one idle byte time between replies
    }

    const bool heard = rateMatches(hostRate_, code);
    if (heard) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const InByte in{start + wireUs(i + 1, rate) + receiveLatencyUs_, bytes[i]};
            auto at =
                std::upper_bound(inbound_.begin(), inbound_.end(), in.arrivalUs,
                                 [](std::int64_t t, const InByte& b) { return t < b.arrivalUs; });
            inbound_.insert(at, in);
        }
    }
    SimTraffic entry;
    entry.direction = SimTraffic::BusToHost;
    entry.startUs = start;
    entry.endUs = end;
    entry.rateBps = rate;
    entry.deviceId = deviceId;
    entry.heardByHost = heard;
    entry.requestEndUs = device.packetEndUs_;
    entry.broadcastAnswer = device.packetBroadcast_;
    entry.bytes = std::move(bytes);
    recordLocked(std::move(entry));
}

void SimulatedBus::noteHostLeftLocked(std::int64_t nowUs) {
    // Answers are recorded when they are scheduled, the latest last; those over long before
    // now cannot be on the wire any more.
    for (auto it = traffic_.rbegin(); it != traffic_.rend(); ++it) {
        if (it->endUs + kBroadcastAnswersUs < nowUs) {
            break;
        }
        if (it->direction == SimTraffic::BusToHost && it->hostLeftUs < 0 && it->endUs > nowUs &&
            it->heardByHost) {
            it->hostLeftUs = nowUs;
        }
    }
}

void SimulatedBus::recordLocked(SimTraffic entry) {
    traffic_.push_back(std::move(entry));
    while (traffic_.size() > kTrafficLimit) {
        traffic_.pop_front();
    }
}

}  // namespace mvx
