#include "FakeServoBus.h"

#include <cstring>

#include "protocol/BaudRate.h"

namespace mvx::test {

FakeDevice makeFakeDevice(int model, int code, int id, int level) {
    FakeDevice d;
    d.setWord(0, model);
    d.table[2] = 30;  // firmware version
    d.table[3] = static_cast<std::uint8_t>(id);
    d.table[4] = static_cast<std::uint8_t>(code);
    d.table[5] = 250;  // return delay
    d.setWord(6, 0);
    d.setWord(8, model == 106 ? 4095 : 1023);
    d.table[11] = 80;
    d.table[12] = 60;
    d.table[13] = 160;
    d.setWord(14, 1023);
    d.table[16] = static_cast<std::uint8_t>(level);
    d.table[17] = 36;
    d.table[18] = 36;
    d.table[26] = 1;
    d.table[27] = 1;
    d.table[28] = 32;
    d.table[29] = 32;
    d.setWord(30, 512);
    d.setWord(34, 1023);
    d.setWord(36, 512);
    d.table[42] = 120;
    d.table[43] = 35;
    d.setWord(48, 32);
    return d;
}

class FakeServoHandle final : public FtDevice {
public:
    explicit FakeServoHandle(FakeServoBus& bus) : bus_(bus) {}

    FtStatus resetDevice() override { return FT_OK; }
    FtStatus setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return FT_OK;
    }
    FtStatus setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t) override {
        bus_.readTimeoutMs_ = readTimeoutMs;
        return FT_OK;
    }
    FtStatus setLatencyTimer(std::uint8_t) override { return FT_OK; }
    FtStatus setUsbParameters(std::uint32_t, std::uint32_t) override { return FT_OK; }
    FtStatus setBaudRate(std::uint32_t bitsPerSecond) override {
        bitsPerSecond_ = bitsPerSecond;
        return FT_OK;
    }
    FtStatus setBitMode(std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus purge(std::uint32_t mask) override {
        if ((mask & FT_PURGE_RX) != 0) {
            bus_.rx_.clear();
        }
        return FT_OK;
    }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        *rxBytes = static_cast<std::uint32_t>(bus_.rx_.size());
        return FT_OK;
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        std::uint32_t n = 0;
        while (n < count && !bus_.rx_.empty()) {
            buffer[n++] = bus_.rx_.front();
            bus_.rx_.pop_front();
        }
        *received = n;
        if (n < count) {
            bus_.clock_.sleepMs(bus_.readTimeoutMs_);  // the read waited out its timeout
        }
        return FT_OK;
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        if (bus_.failWrites) {
            *written = 0;
            return FT_IO_ERROR;
        }
        bus_.handle(std::vector<std::uint8_t>(buffer, buffer + count), bitsPerSecond_);
        *written = count;
        return FT_OK;
    }
    FtStatus close() override { return FT_OK; }

private:
    FakeServoBus& bus_;
    std::uint32_t bitsPerSecond_ = 0;
};

FtStatus FakeServoBus::listNumber(std::uint32_t* count) {
    *count = 1;
    return FT_OK;
}

FtStatus FakeServoBus::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    if (index != 0 || size == 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    std::strncpy(buffer, "Fake bus", size - 1);
    buffer[size - 1] = 0;
    return FT_OK;
}

FtStatus FakeServoBus::open(std::uint32_t index, FtHandle* handle) {
    if (index != 0) {
        return FT_DEVICE_NOT_FOUND;
    }
    *handle = std::make_unique<FakeServoHandle>(*this);
    return FT_OK;
}

std::vector<SentPacket> FakeServoBus::sentWith(std::uint8_t instruction) const {
    std::vector<SentPacket> out;
    for (const auto& p : sent) {
        if (p.instruction == instruction) {
            out.push_back(p);
        }
    }
    return out;
}

FakeDevice* FakeServoBus::device(int code, int id) {
    for (auto& d : devices) {
        if (d.code() == code && d.id() == id) {
            return &d;
        }
    }
    return nullptr;
}

void FakeServoBus::reply(FakeDevice& device, std::uint8_t id,
                         const std::vector<std::uint8_t>& data) {
    if (device.silent) {
        return;
    }
    std::vector<std::uint8_t> bytes = {0xFF, 0xFF, id, static_cast<std::uint8_t>(data.size() + 2),
                                       device.errorByte};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < bytes.size(); ++i) {
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    }
    bytes.push_back(static_cast<std::uint8_t>(~sum));
    if (device.corruptReplies > 0) {
        --device.corruptReplies;
        bytes.back() ^= 0x55;
    }
    rx_.insert(rx_.end(), bytes.begin(), bytes.end());
}

void FakeServoBus::handle(const std::vector<std::uint8_t>& bytes, std::uint32_t bitsPerSecond) {
    if (bytes.size() < 6 || bytes[0] != 0xFF || bytes[1] != 0xFF) {
        return;
    }
    SentPacket packet{bitsPerSecond, bytes[2], bytes[4],
                      std::vector<std::uint8_t>(bytes.begin() + 5, bytes.end() - 1),
                      clock_.nowUs()};
    sent.push_back(packet);
    for (auto& d : devices) {
        if (rateOf(d.code()) != bitsPerSecond || (d.id() != packet.id && packet.id != 254)) {
            continue;
        }
        const auto& p = packet.parameters;
        const int level = d.level();
        const auto id = static_cast<std::uint8_t>(d.id());  // replies carry the ID addressed
        switch (packet.instruction) {
            case 1:  // ping
                reply(d, id, {});
                break;
            case 2:  // read
                if (d.readsLeft == 0) {
                    break;
                }
                if (d.readsLeft > 0) {
                    --d.readsLeft;
                }
                if (d.answersReads && level >= 1 && p.size() == 2) {
                    std::vector<std::uint8_t> data;
                    for (int i = 0; i < p[1]; ++i) {
                        data.push_back(d.table[(p[0] + i) & 0xFF]);
                    }
                    reply(d, id, data);
                }
                break;
            case 3:  // write
                for (std::size_t i = 1; i < p.size() && !d.ignoresWrites; ++i) {
                    d.table[(p[0] + i - 1) & 0xFF] = p[i];
                }
                if (level == 2 && packet.id != 254) {
                    reply(d, id, {});
                }
                break;
            default:
                break;
        }
    }
}

}  // namespace mvx::test
