#include "drivers/AdapterList.h"

#include <utility>

#include "drivers/DescriptionText.h"

namespace mvx {

namespace {

constexpr std::uint16_t kFtdiVendorId = 0x0403;

bool isFtdiTty(const TtyPort& port) {
    return port.driver == "ftdi_sio" || (port.onUsb() && port.vendorId == kFtdiVendorId);
}

// Whether a tty belongs to the USB adapter: same bus and address, or, where the USB side does
// not know its position, the same serial number on an FTDI tty.
bool sameAdapter(const UsbAdapter& usb, const TtyPort& port) {
    if (usb.busNumber >= 0 && usb.deviceAddress >= 0) {
        return port.usbBus == usb.busNumber && port.usbAddress == usb.deviceAddress;
    }
    return !usb.serial.empty() && usb.serial == port.serial && isFtdiTty(port);
}

std::string withTtyName(const std::string& product, const TtyPort& port) {
    return product.empty() ? port.name : product + " (" + port.name + ")";
}

}  // namespace

SysfsTtySource::SysfsTtySource(std::string sysRoot, std::string devRoot, SerialPortOptions options)
    : enumerator_(std::move(sysRoot), std::move(devRoot)), options_(std::move(options)) {}

std::vector<TtyPort> SysfsTtySource::list() {
    return enumerator_.list();
}

FtStatus SysfsTtySource::open(const TtyPort& port, FtHandle* handle) {
    return SerialPort::open(port.devicePath, handle, options_);
}

std::vector<UsbAdapter> FtdiAdapterSource::list() {
    std::vector<UsbAdapter> out;
    std::uint32_t count = 0;
    if (driver_.listNumber(&count) != FT_OK || count == 0) {
        return out;
    }
    for (const FtdiAdapterInfo& info : driver_.adapters()) {
        UsbAdapter adapter;
        adapter.description = info.stringsRead ? info.description : std::string();
        // USB numbers buses and addresses from 1; 0 means the listing could not tell.
        adapter.busNumber = info.busNumber != 0 ? info.busNumber : -1;
        adapter.deviceAddress = info.deviceAddress != 0 ? info.deviceAddress : -1;
        adapter.serial = info.serialNumber;
        adapter.permissionDenied = info.accessDenied;
        out.push_back(std::move(adapter));
    }
    return out;
}

FtStatus FtdiAdapterSource::open(std::size_t index, FtHandle* handle) {
    return driver_.open(static_cast<std::uint32_t>(index), handle);
}

std::unique_ptr<AdapterList> makeSystemAdapterList(Clock* clock) {
    SerialPortOptions options;
    options.clock = clock;
    return std::make_unique<AdapterList>(std::make_unique<FtdiAdapterSource>(clock),
                                         std::make_unique<SysfsTtySource>("/sys", "/dev", options));
}

AdapterList::AdapterList(std::unique_ptr<UsbAdapterSource> usb, std::unique_ptr<TtySource> ttys)
    : usb_(std::move(usb)), ttys_(std::move(ttys)) {}

std::vector<AdapterEntry> AdapterList::merge(const std::vector<UsbAdapter>& usb,
                                             const std::vector<TtyPort>& ttys) {
    std::vector<AdapterEntry> entries;
    std::vector<bool> taken(ttys.size(), false);
    for (std::size_t i = 0; i < usb.size(); ++i) {
        AdapterEntry entry;
        entry.usbIndex = i;
        // An adapter with several interfaces has several ttys; the first one stands for it.
        for (std::size_t t = 0; t < ttys.size(); ++t) {
            if (sameAdapter(usb[i], ttys[t])) {
                if (!entry.tty) {
                    entry.tty = ttys[t];
                }
                taken[t] = true;
            }
        }
        std::string product = usb[i].description;
        if (product.empty() && entry.tty) {
            product = entry.tty->product;  // sysfs can read it where USB access is denied
        }
        entry.ttyFirst = usb[i].permissionDenied && entry.tty.has_value();
        if (entry.ttyFirst) {
            entry.description = withTtyName(product, *entry.tty);
        } else {
            entry.description = product.empty() ? "FTDI USB adapter" : product;
        }
        entries.push_back(std::move(entry));
    }
    for (std::size_t t = 0; t < ttys.size(); ++t) {
        if (!taken[t]) {
            AdapterEntry entry;
            entry.tty = ttys[t];
            entry.description = withTtyName(ttys[t].product, ttys[t]);
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

void AdapterList::refreshLocked() {
    const std::vector<UsbAdapter> usb = usb_ ? usb_->list() : std::vector<UsbAdapter>{};
    const std::vector<TtyPort> ttys = ttys_ ? ttys_->list() : std::vector<TtyPort>{};
    entries_ = merge(usb, ttys);
    listed_ = true;
}

std::vector<AdapterEntry> AdapterList::entries() {
    std::lock_guard lock(mutex_);
    if (!listed_) {
        refreshLocked();
    }
    return entries_;
}

FtStatus AdapterList::listNumber(std::uint32_t* count) {
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    std::lock_guard lock(mutex_);
    refreshLocked();
    *count = static_cast<std::uint32_t>(entries_.size());
    return FT_OK;
}

FtStatus AdapterList::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    std::lock_guard lock(mutex_);
    if (!listed_) {
        refreshLocked();
    }
    if (index >= entries_.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    return copyDescription(entries_[index].description, buffer, size) ? FT_OK
                                                                      : FT_INVALID_PARAMETER;
}

FtStatus AdapterList::open(std::uint32_t index, FtHandle* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    handle->reset();
    std::lock_guard lock(mutex_);
    if (!listed_) {
        refreshLocked();
    }
    if (index >= entries_.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    const AdapterEntry& entry = entries_[index];
    if (entry.usbIndex && !entry.ttyFirst && usb_) {
        const FtStatus status = usb_->open(*entry.usbIndex, handle);
        if (status == FT_OK || !entry.tty || !ttys_) {
            return status;
        }
        handle->reset();
    }
    if (entry.tty && ttys_) {
        return ttys_->open(*entry.tty, handle);
    }
    return FT_DEVICE_NOT_FOUND;
}

}  // namespace mvx
