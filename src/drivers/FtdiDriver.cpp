#include "drivers/FtdiDriver.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "drivers/FtdiDevice.h"

namespace mvx {
namespace {

// Owns an ftdi context and a device list of it; frees both on scope exit.
struct Enumeration {
    ftdi_context* ctx = nullptr;
    ftdi_device_list* list = nullptr;
    int count = 0;

    Enumeration() = default;
    Enumeration(const Enumeration&) = delete;
    Enumeration& operator=(const Enumeration&) = delete;
    ~Enumeration() {
        if (list != nullptr) {
            ftdi_list_free(&list);
        }
        if (ctx != nullptr) {
            ftdi_free(ctx);
        }
    }

    // false when the bus listing failed. A missing USB stack (no context) lists nothing.
    bool run() {
        ctx = ftdi_new();
        if (ctx == nullptr) {
            return true;
        }
        // Vendor and product 0 select libftdi's default FTDI IDs: 0x0403 with 0x6001,
        // 0x6010, 0x6011, 0x6014 and 0x6015.
        count = ftdi_usb_find_all(ctx, &list, 0, 0);
        return count >= 0;
    }
};

std::string stringDescriptor(libusb_device_handle* handle, std::uint8_t index) {
    if (index == 0) {
        return {};
    }
    unsigned char text[256] = {};
    const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof(text) - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n));
}

FtdiAdapterInfo describe(libusb_device* dev) {
    FtdiAdapterInfo info;
    info.busNumber = libusb_get_bus_number(dev);
    info.deviceAddress = libusb_get_device_address(dev);
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) < 0) {
        return info;
    }
    info.vendorId = desc.idVendor;
    info.productId = desc.idProduct;
    // The strings need the device opened; libusb tells a permission failure apart.
    libusb_device_handle* handle = nullptr;
    const int rc = libusb_open(dev, &handle);
    if (rc != 0) {
        info.accessDenied = rc == LIBUSB_ERROR_ACCESS;
        return info;
    }
    info.description = stringDescriptor(handle, desc.iProduct);
    info.serialNumber = stringDescriptor(handle, desc.iSerialNumber);
    info.stringsRead = true;
    libusb_close(handle);
    return info;
}

}  // namespace

FtdiDriver::FtdiDriver(Clock* clock) : clock_(clock) {}

FtStatus FtdiDriver::enumerate() {
    adapters_.clear();
    listed_ = false;
    Enumeration e;
    if (!e.run()) {
        return FT_OTHER_ERROR;
    }
    for (ftdi_device_list* it = e.list; it != nullptr; it = it->next) {
        adapters_.push_back(describe(it->dev));
    }
    // Bus and address order keeps the indices the same across listings of the same setup.
    std::sort(adapters_.begin(), adapters_.end(), [](const auto& a, const auto& b) {
        return std::tie(a.busNumber, a.deviceAddress) < std::tie(b.busNumber, b.deviceAddress);
    });
    listed_ = true;
    return FT_OK;
}

FtStatus FtdiDriver::ensureListed() {
    return listed_ ? FT_OK : enumerate();
}

FtStatus FtdiDriver::listNumber(std::uint32_t* count) {
    if (count == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *count = 0;
    const FtStatus status = enumerate();
    if (status == FT_OK) {
        *count = static_cast<std::uint32_t>(adapters_.size());
    }
    return status;
}

FtStatus FtdiDriver::listDescription(std::uint32_t index, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return FT_INVALID_PARAMETER;
    }
    buffer[0] = '\0';
    const FtStatus status = ensureListed();
    if (status != FT_OK) {
        return status;
    }
    if (index >= adapters_.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    const FtdiAdapterInfo& info = adapters_[index];
    if (!info.stringsRead) {
        return FT_DEVICE_NOT_OPENED;
    }
    const std::size_t limit = std::min(size, kFtDescriptionSize) - 1;
    const std::size_t n = std::min(limit, info.description.size());
    std::memcpy(buffer, info.description.data(), n);
    buffer[n] = '\0';
    return FT_OK;
}

FtStatus FtdiDriver::open(std::uint32_t index, FtHandle* handle) {
    if (handle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    handle->reset();
    lastOpenAccessDenied_ = false;
    FtStatus status = ensureListed();
    if (status != FT_OK) {
        return status;
    }
    if (index >= adapters_.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    const FtdiAdapterInfo& wanted = adapters_[index];

    // The device gets a context of its own, so it lives independently of this driver; find
    // the listed adapter again in it by bus and address.
    Enumeration e;
    if (!e.run() || e.ctx == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    libusb_device* dev = nullptr;
    for (ftdi_device_list* it = e.list; it != nullptr; it = it->next) {
        if (libusb_get_bus_number(it->dev) == wanted.busNumber &&
            libusb_get_device_address(it->dev) == wanted.deviceAddress) {
            dev = it->dev;
            break;
        }
    }
    if (dev == nullptr) {
        return FT_DEVICE_NOT_FOUND;
    }
    const int rc = ftdi_usb_open_dev(e.ctx, dev);
    if (rc != 0) {
        if (rc == -8) {
            lastOpenAccessDenied_ = true;  // "inappropriate permissions on device"
        } else if (rc == -4) {
            // libusb_open failed; libftdi does not pass on why, so ask libusb again.
            libusb_device_handle* probe = nullptr;
            const int openRc = libusb_open(dev, &probe);
            if (openRc == 0) {
                libusb_close(probe);
            }
            lastOpenAccessDenied_ = openRc == LIBUSB_ERROR_ACCESS;
        }
        return FT_DEVICE_NOT_OPENED;
    }
    ftdi_context* ctx = e.ctx;
    e.ctx = nullptr;  // now owned by the device
    *handle = std::make_unique<FtdiDevice>(ctx, clock_);
    return FT_OK;
}

std::vector<FtdiAdapterInfo> FtdiDriver::adapters() {
    ensureListed();
    return adapters_;
}

}  // namespace mvx
