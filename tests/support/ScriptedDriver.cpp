#include "support/ScriptedDriver.h"

#include <algorithm>
#include <cstring>

namespace mvx::test {

namespace {

std::string args(std::initializer_list<std::uint64_t> values) {
    std::string out;
    for (std::uint64_t v : values) {
        if (!out.empty()) {
            out += ',';
        }
        out += std::to_string(v);
    }
    return out;
}

std::string callText(const char* name, std::initializer_list<std::uint64_t> values = {}) {
    return std::string(name) + "(" + args(values) + ")";
}

}  // namespace

// The opened handle: forwards every call to the driver, which holds all state.
class ScriptedDriver::Device final : public FtDevice {
public:
    explicit Device(ScriptedDriver& driver) : d_(driver) {}
    ~Device() override {
        if (!closed_) {
            close();
        }
    }

    FtStatus resetDevice() override { return simple("resetDevice", {}); }
    FtStatus setDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                    std::uint8_t parity) override {
        return simple("setDataCharacteristics", {wordLength, stopBits, parity});
    }
    FtStatus setFlowControl(std::uint16_t flowControl, std::uint8_t xon,
                            std::uint8_t xoff) override {
        return simple("setFlowControl", {flowControl, xon, xoff});
    }
    FtStatus setTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) override {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        const FtStatus status =
            d_.record("setTimeouts", callText("setTimeouts", {readTimeoutMs, writeTimeoutMs}));
        if (status == FT_OK) {
            d_.readTimeoutMs_ = readTimeoutMs;
        }
        return status;
    }
    FtStatus setLatencyTimer(std::uint8_t milliseconds) override {
        return simple("setLatencyTimer", {milliseconds});
    }
    FtStatus setUsbParameters(std::uint32_t inTransferSize,
                              std::uint32_t outTransferSize) override {
        return simple("setUsbParameters", {inTransferSize, outTransferSize});
    }
    FtStatus setBaudRate(std::uint32_t bitsPerSecond) override {
        return simple("setBaudRate", {bitsPerSecond});
    }
    FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode) override {
        return simple("setBitMode", {mask, mode});
    }
    FtStatus purge(std::uint32_t mask) override {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        const FtStatus status = d_.record("purge", callText("purge", {mask}));
        if (status == FT_OK && (mask & FT_PURGE_RX) != 0) {
            d_.rx_.clear();
        }
        return status;
    }
    FtStatus getQueueStatus(std::uint32_t* rxBytes) override {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        const FtStatus status = d_.record("getQueueStatus", callText("getQueueStatus"));
        *rxBytes = static_cast<std::uint32_t>(d_.rx_.size());
        return status;
    }
    FtStatus read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* received) override {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        const FtStatus status = d_.record("read", callText("read", {count}));
        if (status == FT_IO_ERROR) {
            *received = 0;
            return status;
        }
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, d_.rx_.size()));
        std::copy_n(d_.rx_.begin(), n, buffer);
        d_.rx_.erase(d_.rx_.begin(), d_.rx_.begin() + n);
        *received = n;
        if (n < count) {
            d_.clock_.advanceUs(static_cast<std::int64_t>(d_.readTimeoutMs_) * 1000);
        }
        return status;
    }
    FtStatus write(const std::uint8_t* buffer, std::uint32_t count,
                   std::uint32_t* written) override {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        const Bytes bytes(buffer, buffer + count);
        const FtStatus status = d_.record("write", "write(" + hexString(bytes) + ")");
        if (status == FT_IO_ERROR) {
            *written = 0;
            return status;
        }
        std::uint32_t n = count;
        if (d_.writeLimit_ >= 0) {
            n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(d_.writeLimit_));
            d_.writeLimit_ = -1;
        }
        *written = n;
        d_.writes_.emplace_back(buffer, buffer + n);
        ++d_.writeCount_;
        d_.releasePending();
        if (d_.responder_) {
            const Bytes reply = d_.responder_(d_.writes_.back());
            d_.rx_.insert(d_.rx_.end(), reply.begin(), reply.end());
        }
        return status;
    }
    FtStatus close() override {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        const FtStatus status = d_.record("close", callText("close"));
        if (!closed_) {
            closed_ = true;
            --d_.openDevices_;
        }
        return status;
    }

private:
    FtStatus simple(const char* name, std::initializer_list<std::uint64_t> values) {
        std::lock_guard<std::mutex> lock(d_.mutex_);
        return d_.record(name, callText(name, values));
    }

    ScriptedDriver& d_;
    bool closed_ = false;
};

ScriptedDriver::ScriptedDriver(VirtualClock& clock) : clock_(clock) {}

ScriptedDriver::~ScriptedDriver() = default;

void ScriptedDriver::setAdapters(std::vector<std::string> descriptions) {
    std::lock_guard<std::mutex> lock(mutex_);
    descriptions_ = std::move(descriptions);
}

void ScriptedDriver::queueRx(const Bytes& bytes, int afterWrites) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back({bytes, writeCount_ + static_cast<std::uint64_t>(std::max(afterWrites, 0))});
    releasePending();
}

void ScriptedDriver::setResponder(std::function<Bytes(const Bytes&)> responder) {
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
}

void ScriptedDriver::failNext(const std::string& call, FtStatus status, int nth) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.insert({call, {status, std::max(nth, 1)}});
}

void ScriptedDriver::failAlways(const std::string& call, FtStatus status) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.insert({call, {status, -1}});
}

void ScriptedDriver::clearFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
}

void ScriptedDriver::limitNextWrite(std::uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    writeLimit_ = count;
}

std::vector<std::string> ScriptedDriver::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> ScriptedDriver::calls(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    const std::string prefix = name + "(";
    for (const std::string& c : calls_) {
        if (c.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(c);
        }
    }
    return out;
}

int ScriptedDriver::count(const std::string& name) const {
    return static_cast<int>(calls(name).size());
}

void ScriptedDriver::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<Bytes> ScriptedDriver::writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

Bytes ScriptedDriver::lastWrite() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_.empty() ? Bytes{} : writes_.back();
}

std::size_t ScriptedDriver::rxReadable() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rx_.size();
}

int ScriptedDriver::openDevices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openDevices_;
}

FtStatus ScriptedDriver::listNumber(std::uint32_t* count) {
    std::lock_guard<std::mutex> lock(mutex_);
    const FtStatus status = record("listNumber", callText("listNumber"));
    if (status == FT_OK) {
        *count = static_cast<std::uint32_t>(descriptions_.size());
    }
    return status;
}

FtStatus ScriptedDriver::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    FtStatus status = record("listDescription", callText("listDescription", {index}));
    if (status == FT_OK && index >= descriptions_.size()) {
        status = FT_DEVICE_NOT_FOUND;
    }
    if (status == FT_OK && size > 0) {
        const std::string& text = descriptions_[index];
        const std::size_t n = std::min(text.size(), std::min(size, kFtDescriptionSize) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return status;
}

FtStatus ScriptedDriver::open(std::uint32_t index, FtHandle* handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    FtStatus status = record("open", callText("open", {index}));
    if (status == FT_OK && index >= descriptions_.size()) {
        status = FT_DEVICE_NOT_FOUND;
    }
    if (status != FT_OK) {
        return status;
    }
    *handle = std::make_unique<Device>(*this);
    ++openDevices_;
    return FT_OK;
}

FtStatus ScriptedDriver::record(const std::string& name, const std::string& text) {
    calls_.push_back(text);
    FtStatus status = FT_OK;
    auto [first, last] = failures_.equal_range(name);
    for (auto it = first; it != last;) {
        Failure& f = it->second;
        if (f.remaining < 0) {
            status = f.status;
            ++it;
        } else if (--f.remaining == 0) {
            status = f.status;
            it = failures_.erase(it);
        } else {
            ++it;
        }
    }
    return status;
}

void ScriptedDriver::releasePending() {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->readyAfterWrites <= writeCount_) {
            rx_.insert(rx_.end(), it->bytes.begin(), it->bytes.end());
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace mvx::test
