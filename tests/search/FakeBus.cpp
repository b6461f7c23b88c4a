#include "search/FakeBus.h"

#include <algorithm>
#include <cstring>

namespace mvx::test {

namespace {

constexpr std::uint32_t kLoaderRate = 57142;

std::uint32_t rateOfCode(int code) {
    return 2000000u / static_cast<std::uint32_t>(code + 1);
}

std::uint8_t checksumOf(const std::uint8_t* bytes, std::size_t count) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<std::uint8_t>(~sum);
}

}  // namespace

FakeDevice makeDevice(int code, int id, int model, int version, int level) {
    FakeDevice device;
    device.code = code;
    device.id = id;
    device.returnLevel = level;
    device.regs[0] = static_cast<std::uint8_t>(model & 0xFF);
    device.regs[1] = static_cast<std::uint8_t>(model >> 8);
    device.regs[2] = static_cast<std::uint8_t>(version);
    device.regs[3] = static_cast<std::uint8_t>(id);
    device.regs[4] = static_cast<std::uint8_t>(code);
    device.regs[16] = static_cast<std::uint8_t>(level);
    device.regs[9] = 0x03;  // CCW angle limit 1023
    device.regs[8] = 0xFF;
    return device;
}

// The opened adapter: forwards every call to the bus.
class FakeAdapter : public FtDevice {
public:
    explicit FakeAdapter(FakeBus& bus) : bus_(bus) {}

    FtStatus resetDevice() override { return status("resetDevice"); }
    FtStatus setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return status("setDataCharacteristics");
    }
    FtStatus setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override {
        return status("setFlowControl");
    }
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t) override {
        if (bus_.failing("setTimeouts")) {
            return FT_OTHER_ERROR;
        }
        std::lock_guard lock(bus_.mutex_);
        bus_.readTimeoutMs_ = readTimeoutMs;
        return FT_OK;
    }
    FtStatus setLatencyTimer(std::uint8_t) override { return status("setLatencyTimer"); }
    FtStatus setUsbParameters(std::uint32_t, std::uint32_t) override {
        return status("setUsbParameters");
    }
    FtStatus setBaudRate(std::uint32_t rate) override {
        if (bus_.failing("setBaudRate")) {
            return FT_OTHER_ERROR;
        }
        std::lock_guard lock(bus_.mutex_);
        bus_.rate_ = rate;
        ++bus_.setBaudCalls;
        return FT_OK;
    }
    FtStatus setBitMode(std::uint8_t, std::uint8_t) override { return status("setBitMode"); }
    FtStatus purge(std::uint32_t mask) override {
        if (bus_.failing("purge")) {
            return FT_OTHER_ERROR;
        }
        std::lock_guard lock(bus_.mutex_);
        if (mask & FT_PURGE_RX) {
            bus_.rx_.clear();
        }
        return FT_OK;
    }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        if (bus_.failing("getQueueStatus")) {
            return FT_OTHER_ERROR;
        }
        std::lock_guard lock(bus_.mutex_);
        bus_.judgeLoaders();
        *rxBytes = static_cast<std::uint32_t>(bus_.rx_.size());
        return FT_OK;
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        *received = 0;
        if (bus_.failing("read")) {
            return FT_IO_ERROR;
        }
        std::uint32_t timeoutMs = 0;
        {
            std::lock_guard lock(bus_.mutex_);
            bus_.judgeLoaders();
            const auto n = std::min<std::size_t>(count, bus_.rx_.size());
            std::copy_n(bus_.rx_.begin(), n, buffer);
            bus_.rx_.erase(bus_.rx_.begin(), bus_.rx_.begin() + static_cast<long>(n));
            *received = static_cast<std::uint32_t>(n);
            timeoutMs = bus_.readTimeoutMs_;
        }
        if (*received < count) {
            bus_.clock_.sleepMs(timeoutMs);  // waited for bytes that never came
        }
        return FT_OK;
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        *written = 0;
        if (bus_.failing("write")) {
            return FT_IO_ERROR;
        }
        std::lock_guard lock(bus_.mutex_);
        bus_.hostWrote(buffer, count);
        *written = count;
        return FT_OK;
    }
    FtStatus close() override { return FT_OK; }

private:
    FtStatus status(const char* call) { return bus_.failing(call) ? FT_OTHER_ERROR : FT_OK; }

    FakeBus& bus_;
};

FtStatus FakeBus::listNumber(std::uint32_t* count) {
    *count = 1;
    return FT_OK;
}

FtStatus FakeBus::listDescription(std::uint32_t, char* buffer, std::size_t size) {
    std::strncpy(buffer, "Fake adapter", size - 1);
    buffer[size - 1] = 0;
    return FT_OK;
}

FtStatus FakeBus::open(std::uint32_t index, FtHandle* handle) {
    if (index != 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    *handle = std::make_unique<FakeAdapter>(*this);
    return FT_OK;
}

FakeDevice* FakeBus::device(int code, int id) {
    for (FakeDevice& d : devices) {
        if (d.code == code && d.id == id) {
            return &d;
        }
    }
    return nullptr;
}

std::vector<WireWrite> FakeBus::writesAt(std::uint32_t rate, int first) const {
    std::vector<WireWrite> out;
    for (const WireWrite& w : log) {
        if ((rate == 0 || w.rate == rate) &&
            (first < 0 || (!w.bytes.empty() && w.bytes[0] == first))) {
            out.push_back(w);
        }
    }
    return out;
}

bool FakeBus::atRate(const FakeDevice& device) const {
    return !device.silent && rateOfCode(device.code) == rate_;
}

void FakeBus::hostWrote(const std::uint8_t* bytes, std::uint32_t count) {
    log.push_back({clock_.nowUs(), rate_, std::vector<std::uint8_t>(bytes, bytes + count)});
    if (count >= 6 && bytes[0] == 0xFF && bytes[1] == 0xFF) {
        bool loaderBusy = false;
        for (FakeDevice& d : devices) {
            loaderBusy = loaderBusy || (d.armed && d.stage == 2 && rate_ == kLoaderRate);
        }
        if (!loaderBusy) {
            packet(std::vector<std::uint8_t>(bytes, bytes + count));
            return;
        }
    }
    // Raw bytes: only an armed loader listens, at 57142 bps.
    if (rate_ != kLoaderRate) {
        return;
    }
    for (FakeDevice& d : devices) {
        if (!d.armed) {
            continue;
        }
        // A loader that heard nothing for a while takes the image as complete.
        if (d.stage == 2 && clock_.nowUs() - d.lastByteUs >= 150000) {
            judge(d);
        }
        d.lastByteUs = clock_.nowUs();
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t b = bytes[i];
            if (d.stage == 2) {
                d.image.push_back(b);
            } else if (b == 0x0D) {
                d.stage = 1;
            } else if (b == 0x4C && d.stage == 1) {
                d.stage = 2;
                ++d.attempts;
                d.image.clear();
            }
        }
    }
}

// A loader judges the image when the host turns to read, or after a pause: the last byte
// must be the sum of the others.
void FakeBus::judgeLoaders() {
    for (FakeDevice& d : devices) {
        judge(d);
    }
}

void FakeBus::judge(FakeDevice& d) {
    if (!d.armed || d.stage != 2 || d.image.empty()) {
        return;
    }
    d.images.push_back(d.image);
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < d.image.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + d.image[i]);
    }
    const bool good =
        sum == d.image.back() && d.successOnAttempt > 0 && d.attempts >= d.successOnAttempt;
    const std::string reply = good ? "Success\r\n" : "Error\r\n";
    rx_.insert(rx_.end(), reply.begin(), reply.end());
    d.image.clear();
    d.stage = good ? 3 : 0;
}

void FakeBus::answer(const FakeDevice& device, std::uint8_t error,
                     const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> reply = {0xFF, 0xFF, static_cast<std::uint8_t>(device.id),
                                       static_cast<std::uint8_t>(data.size() + 2), error};
    reply.insert(reply.end(), data.begin(), data.end());
    reply.push_back(checksumOf(reply.data() + 2, reply.size() - 2));
    rx_.insert(rx_.end(), reply.begin(), reply.end());
}

void FakeBus::packet(const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t id = bytes[2];
    const std::uint8_t len = bytes[3];
    if (bytes.size() != len + 4u || checksumOf(bytes.data() + 2, len + 1u) != bytes.back()) {
        return;
    }
    const std::uint8_t instruction = bytes[4];
    if (id == 254 && instruction == 1 && rate_ == noiseRate) {
        rx_.insert(rx_.end(), noise.begin(), noise.end());
    }
    const std::vector<std::uint8_t> params(bytes.begin() + 5, bytes.end() - 1);
    for (FakeDevice& d : devices) {
        const bool mine = d.id == id || id == 254;
        if (!mine) {
            continue;
        }
        // After instruction 7 an updated device talks at its restart rate whatever its code.
        if (!atRate(d)) {
            continue;
        }
        const bool reply = id != 254;
        switch (instruction) {
            case 1:  // ping: answered by everyone, the broadcast too
                answer(d, 0, {});
                break;
            case 2:  // read
                if (params.size() == 2 && d.returnLevel >= 1 && reply) {
                    std::vector<std::uint8_t> data;
                    for (int a = params[0]; a < params[0] + params[1]; ++a) {
                        data.push_back(d.regs[static_cast<std::size_t>(a & 0xFF)]);
                    }
                    answer(d, 0, data);
                }
                break;
            case 3:  // write
                if (params.empty()) {
                    break;
                }
                for (std::size_t i = 1; i < params.size(); ++i) {
                    d.regs[(params[0] + i - 1) & 0xFF] = params[i];
                }
                if (d.returnLevel == 2 && reply) {
                    answer(d, 0, {});
                }
                if (params[0] == 4) {
                    d.code = params[1];
                }
                if (params[0] == 3) {
                    d.id = params[1];
                }
                if (params[0] == 16) {
                    d.returnLevel = params[1];
                }
                break;
            case 7:
                if (reply) {
                    ++d.instruction7Count;
                    answer(d, 0, {});
                    if (d.stage == 3) {
                        d.armed = false;
                        d.stage = 0;
                        if (d.versionAfterUpdate != 0) {
                            d.regs[2] = static_cast<std::uint8_t>(d.versionAfterUpdate);
                        }
                        d.code = d.model() == 12 ? 1 : 34;
                    }
                }
                break;
            case 13:  // keyed write: address, value, key; no reply
                if (params.size() == 6) {
                    const std::uint8_t address = params[0];
                    std::uint8_t value = params[1];
                    if (address == 45 && value == 254) {
                        if (d.refuseLoader) {
                            value = 0;
                        } else {
                            d.armed = true;
                            d.stage = 0;
                        }
                    }
                    d.regs[address] = value;
                }
                break;
            default:
                break;
        }
    }
}

}  // namespace mvx::test
