// The firmware loader of a simulated device: the byte dialogue at code 34, the check of the
// image and the loader's answer (see SimulatedDevice.h).
#include <algorithm>
#include <iterator>
#include <string>

#include "sim/FirmwareFileWriter.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedDevice.h"

namespace mvx {

namespace {

constexpr std::int64_t kLoaderAnswerDelayUs = 1000;
constexpr std::uint8_t kSuccess[] = {'S', 'u', 'c', 'c', 'e', 's', 's'};

}  // namespace

// A loader with the echo fault sends each byte that opens an attempt straight back.
void SimulatedDevice::echo(std::int64_t timeUs, std::uint8_t value) {
    if (bus_.effectiveFaultsLocked(*this).loaderEcho) {
        bus_.sendReplyLocked(*this, table_[3], timeUs + kLoaderAnswerDelayUs, {value},
                             SimulatedBus::kLoaderCode);
    }
}

void SimulatedDevice::hearLoaderByte(std::int64_t timeUs, std::uint8_t value) {
    if (loaderState_ == LoaderState::Receiving && !image_.empty() &&
        timeUs - lastLoaderByteUs_ > SimulatedBus::kLoaderGapUs) {
        finishImage(lastLoaderByteUs_ + SimulatedBus::kLoaderGapUs);
    }
    lastLoaderByteUs_ = timeUs;
    switch (loaderState_) {
        case LoaderState::WaitCr:
            if (value == 0x0D) {
                echo(timeUs, value);
                loaderState_ = LoaderState::WaitL;
            } else if (value == 0x41) {
                loaderState_ = LoaderState::WaitG;
            }
            break;
        case LoaderState::WaitL:
            if (value == 0x4C) {
                echo(timeUs, value);
                loaderState_ = LoaderState::Receiving;
                image_.clear();
            } else if (value != 0x0D) {
                loaderState_ = LoaderState::WaitCr;
            }
            break;
        case LoaderState::Receiving:
            image_.push_back(value);
            break;
        case LoaderState::WaitG:
            if (value == 0x47) {
                leaveLoader();
            } else if (value == 0x0D) {
                loaderState_ = LoaderState::WaitL;
            } else if (value != 0x41) {
                loaderState_ = LoaderState::WaitCr;
            }
            break;
    }
}

void SimulatedDevice::finishImage(std::int64_t timeUs) {
    loaderState_ = LoaderState::WaitCr;
    if (image_.empty()) {
        return;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < image_.size(); ++i) {
        sum += image_[i];
    }
    if ((sum & 0xFF) != image_.back()) {
        image_.clear();
        return;  // no answer: the host sees no "Success"
    }
    if (imagesRejected_ < bus_.effectiveFaultsLocked(*this).rejectImages) {
        ++imagesRejected_;
        image_.clear();
        return;  // a rejecting loader stays silent as after a wrong checksum
    }
    image_.pop_back();
    imageReady_ = true;
    newVersion_ = simImageVersion(image_, model_);
    image_.clear();
    loaderAnswer(timeUs + kLoaderAnswerDelayUs);
}

// Sends the loader's answer to an accepted image: "Success", or what the faults make of it.
void SimulatedDevice::loaderAnswer(std::int64_t readyUs) {
    const SimFaults faults = bus_.effectiveFaultsLocked(*this);
    std::vector<std::uint8_t> bytes(std::begin(kSuccess), std::end(kSuccess));
    if (!faults.loaderReply.empty()) {
        bytes.assign(faults.loaderReply.begin(), faults.loaderReply.end());
    }
    const auto split = static_cast<std::size_t>(std::max(faults.loaderReplySplit, 0));
    if (split == 0 || split >= bytes.size()) {
        bus_.sendReplyLocked(*this, table_[3], readyUs, std::move(bytes),
                             SimulatedBus::kLoaderCode);
        return;
    }
    const auto cut = bytes.begin() + static_cast<std::ptrdiff_t>(split);
    bus_.sendReplyLocked(*this, table_[3], readyUs, {bytes.begin(), cut},
                         SimulatedBus::kLoaderCode);
    bus_.sendReplyLocked(*this, table_[3], readyUs + faults.loaderSplitGapUs, {cut, bytes.end()},
                         SimulatedBus::kLoaderCode);
}

void SimulatedDevice::leaveLoader() {
    bus_.devicesInLoader_ -= inLoader_ ? 1 : 0;
    inLoader_ = false;
    loaderState_ = LoaderState::WaitCr;
    image_.clear();
    table_[kLoaderAddress] = 0;
    table_[kLoaderArmAddress] = 0;
    rx_.clear();
    bus_.releaseStandbyLocked();
}

}  // namespace mvx
