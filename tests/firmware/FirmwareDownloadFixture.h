// The download tests' fixture: a registry on a simulated bus (SimRegistryTest) holding every
// device of the bus, an image set straight into the registry, and views of the loader's bytes
// on the wire.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "firmware/FirmwareDownload.h"
#include "firmware/FirmwareImage.h"
#include "protocol/Packet.h"
#include "support/SimRegistry.h"

namespace mvx::test {

inline constexpr std::uint32_t kLoaderRate = 57142;
inline constexpr int kLoaderCode = 34;

class FirmwareDownloadTest : public SimRegistryTest {
protected:
    // A bus with these devices, all in the registry in the order given.
    void startWith(const std::vector<SimDeviceSpec>& devices) {
        start(devices);
        for (const SimDeviceSpec& d : devices) {
            registerDevice(d.code, d.id);
        }
    }
    void setImage(int model, int version, const Bytes& image) {
        FirmwareImage& fw = registry->firmware;
        std::copy(image.begin(), image.end(), fw.image.begin());
        fw.imageLength = static_cast<std::uint32_t>(image.size());
        fw.modelNumber = model;
        fw.version = version;
        fw.valid = 1;
    }
    void updateAll() { BuildUpdateList(*registry, 0); }

    std::vector<SimTraffic> loaderBytes() const { return rawWrites(kLoaderRate); }
    int loaderCount(std::uint8_t single) const {
        int n = 0;
        for (const SimTraffic& t : loaderBytes()) {
            n += t.bytes == Bytes{single};
        }
        return n;
    }
    // When the first device answer that starts at or after `afterUs` has wholly reached the
    // host (its last bit plus the USB latency).
    std::int64_t answerArrivedUs(std::int64_t afterUs) const {
        for (const SimTraffic& t : sim->traffic()) {
            if (t.direction == SimTraffic::BusToHost && t.startUs >= afterUs) {
                return t.endUs + SimulatedBus::kUsbLatencyUs;
            }
        }
        ADD_FAILURE() << "no answer after " << afterUs;
        return -1;
    }
    // Sizes of the loader writes longer than one byte: the image blocks.
    std::vector<std::size_t> blockSizes() const {
        std::vector<std::size_t> sizes;
        for (const SimTraffic& t : loaderBytes()) {
            if (t.bytes.size() > 1) {
                sizes.push_back(t.bytes.size());
            }
        }
        return sizes;
    }
};

}  // namespace mvx::test
