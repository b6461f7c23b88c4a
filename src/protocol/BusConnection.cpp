#include "protocol/BusConnection.h"

#include <cstring>

#include <utility>
#include "protocol/ResultCode.h"

namespace mvx {

namespace {

constexpr std::uint8_t kOpenCode = 1;  // 1000000 bps until the first tune elsewhere

}  // namespace

BusConnection::BusConnection(FtDriver& driver, Clock& clock) : driver_(driver), clock_(clock) {}

BusConnection::~BusConnection() {
    close();
}

bool BusConnection::open(std::uint32_t index) {
    close();  // one adapter at a time
    LinkTap* tap = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tap = tap_;
    }
    std::shared_ptr<AdapterLink> link = AdapterLink::open(driver_, clock_, index, kOpenCode, tap);
    std::lock_guard<std::mutex> lock(mutex_);
    link_ = std::move(link);
    return link_ != nullptr;
}

void BusConnection::setTap(LinkTap* tap) {
    std::lock_guard<std::mutex> lock(mutex_);
    tap_ = tap;
}

void BusConnection::close() {
    std::shared_ptr<AdapterLink> old;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        old = std::move(link_);
        link_.reset();
    }
    // The adapter closes once the last user lets go of the link.
}

bool BusConnection::isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return link_ != nullptr;
}

std::shared_ptr<AdapterLink> BusConnection::link() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return link_;
}

std::vector<std::string> BusConnection::adapterLimitations() const {
    const std::shared_ptr<AdapterLink> current = link();
    return current ? current->limitations() : std::vector<std::string>{};
}

int BusConnection::adapterCount() {
    return mvx::adapterCount(driver_);
}

bool BusConnection::adapterName(std::uint32_t index, std::string& name) {
    char buffer[128] = {};
    if (adapterDescription(driver_, index, buffer) != Success) {
        return false;
    }
    // The description is narrow text; it is kept byte for byte as UTF-8.
    name.assign(buffer, strnlen(buffer, sizeof buffer));
    return true;
}

int BusConnection::tune(std::uint8_t code) {
    const std::shared_ptr<AdapterLink> current = link();
    if (!current) {
        return AdapterFailure;
    }
    if (current->currentBaudCode() == code) {
        return Success;
    }
    return current->setBaudCode(code) == Success ? Success : AdapterFailure;
}

int judgeByRecordRule(int result, int returnLevel) {
    if (result == Success) {
        return Success;
    }
    if (result == Timeout && returnLevel != 2) {
        return Success;  // the device does not answer writes; the write took effect
    }
    return result;
}

int judgeByEntryRule(int result, int returnLevel) {
    if (result == Success) {
        return Success;
    }
    // Below level 2 the device sends no reply to a write, or one it need not get right: a
    // timeout or a corrupt reply says nothing against the write. A write that did not go out
    // (102), a failed adapter (101) or a refusal (105) fails at every level.
    if (returnLevel != 2 && (result == Timeout || result == CorruptReply)) {
        return Success;
    }
    return result;
}

}  // namespace mvx
