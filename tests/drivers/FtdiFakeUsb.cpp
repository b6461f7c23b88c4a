#include "FtdiFakeUsb.h"

#include <libusb.h>

#include <algorithm>
#include <cstring>

namespace mvx::test {
namespace {

struct FakeHandle {
    FakeUsbDevice* device;
};

// The config descriptor with one interface, one alternate setting and two bulk endpoints,
// laid out so the pointer handed out is the first member.
struct FakeConfig {
    libusb_config_descriptor config{};
    libusb_interface interface {};
    libusb_interface_descriptor alt{};
    libusb_endpoint_descriptor endpoints[2]{};
};

FakeUsbDevice* device(libusb_device* dev) {
    return reinterpret_cast<FakeUsbDevice*>(dev);
}
FakeHandle* handle(libusb_device_handle* h) {
    return reinterpret_cast<FakeHandle*>(h);
}

}  // namespace

FakeUsb& fakeUsb() {
    static FakeUsb state;
    return state;
}

void resetFakeUsb() {
    fakeUsb() = FakeUsb{};
}

}  // namespace mvx::test

using mvx::test::fakeUsb;

extern "C" {

int libusb_init(libusb_context** ctx) {
    if (fakeUsb().initError != 0) {
        return fakeUsb().initError;
    }
    ++fakeUsb().contexts;
    *ctx = reinterpret_cast<libusb_context*>(new int(0));
    return 0;
}

void libusb_exit(libusb_context* ctx) {
    if (ctx != nullptr) {
        --fakeUsb().contexts;
        delete reinterpret_cast<int*>(ctx);
    }
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
    if (fakeUsb().listError != 0) {
        return fakeUsb().listError;
    }
    auto& devices = fakeUsb().devices;
    auto** out = new libusb_device*[devices.size() + 1];
    for (std::size_t i = 0; i < devices.size(); ++i) {
        out[i] = reinterpret_cast<libusb_device*>(&devices[i]);
    }
    out[devices.size()] = nullptr;
    *list = out;
    return static_cast<ssize_t>(devices.size());
}

void libusb_free_device_list(libusb_device** list, int) {
    delete[] list;
}

libusb_device* libusb_ref_device(libusb_device* dev) {
    return dev;
}
void libusb_unref_device(libusb_device*) {}

int libusb_get_device_descriptor(libusb_device* dev, libusb_device_descriptor* desc) {
    const auto* d = mvx::test::device(dev);
    *desc = libusb_device_descriptor{};
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bMaxPacketSize0 = 8;
    desc->idVendor = d->vendorId;
    desc->idProduct = d->productId;
    desc->bcdDevice = d->bcdDevice;
    desc->iManufacturer = d->manufacturer.empty() ? 0 : 1;
    desc->iProduct = d->product.empty() ? 0 : 2;
    desc->iSerialNumber = d->serial.empty() ? 0 : 3;
    desc->bNumConfigurations = 1;
    return 0;
}

uint8_t libusb_get_bus_number(libusb_device* dev) {
    return mvx::test::device(dev)->bus;
}
uint8_t libusb_get_device_address(libusb_device* dev) {
    return mvx::test::device(dev)->address;
}

int libusb_open(libusb_device* dev, libusb_device_handle** h) {
    auto* d = mvx::test::device(dev);
    if (d->openError != 0) {
        return d->openError;
    }
    ++fakeUsb().handles;
    *h = reinterpret_cast<libusb_device_handle*>(new mvx::test::FakeHandle{d});
    return 0;
}

void libusb_close(libusb_device_handle* h) {
    if (h != nullptr) {
        --fakeUsb().handles;
        delete mvx::test::handle(h);
    }
}

int libusb_get_string_descriptor_ascii(libusb_device_handle* h, uint8_t index, unsigned char* data,
                                       int length) {
    const auto* d = mvx::test::handle(h)->device;
    const std::string* text = index == 1   ? &d->manufacturer
                              : index == 2 ? &d->product
                              : index == 3 ? &d->serial
                                           : nullptr;
    if (text == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    const int n = std::min(length - 1, static_cast<int>(text->size()));
    std::memcpy(data, text->data(), static_cast<std::size_t>(n));
    data[n] = 0;
    return n;
}

int libusb_get_config_descriptor(libusb_device* dev, uint8_t, libusb_config_descriptor** config) {
    const auto* d = mvx::test::device(dev);
    auto* c = new mvx::test::FakeConfig{};
    c->endpoints[0].bEndpointAddress = 0x81;
    c->endpoints[0].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    c->endpoints[0].wMaxPacketSize = d->maxPacketSize;
    c->endpoints[1].bEndpointAddress = 0x02;
    c->endpoints[1].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    c->endpoints[1].wMaxPacketSize = d->maxPacketSize;
    c->alt.bNumEndpoints = 2;
    c->alt.endpoint = c->endpoints;
    c->interface.altsetting = &c->alt;
    c->interface.num_altsetting = 1;
    c->config.bNumInterfaces = 1;
    c->config.bConfigurationValue = 1;
    c->config.interface = &c->interface;
    ++fakeUsb().configs;
    *config = &c->config;
    return 0;
}

void libusb_free_config_descriptor(libusb_config_descriptor* config) {
    if (config != nullptr) {
        --fakeUsb().configs;
        delete reinterpret_cast<mvx::test::FakeConfig*>(config);
    }
}

int libusb_get_configuration(libusb_device_handle*, int* config) {
    *config = 1;
    return 0;
}

int libusb_set_configuration(libusb_device_handle*, int) {
    return 0;
}
int libusb_detach_kernel_driver(libusb_device_handle*, int) {
    return LIBUSB_ERROR_NOT_FOUND;
}
int libusb_set_auto_detach_kernel_driver(libusb_device_handle*, int) {
    return 0;
}

int libusb_claim_interface(libusb_device_handle*, int) {
    ++fakeUsb().claimed;
    return 0;
}

int libusb_release_interface(libusb_device_handle*, int) {
    --fakeUsb().claimed;
    return 0;
}

int libusb_control_transfer(libusb_device_handle*, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                            unsigned int) {
    fakeUsb().controls.push_back({requestType, request, value, index});
    if (fakeUsb().controlError != 0) {
        return fakeUsb().controlError;
    }
    if ((requestType & LIBUSB_ENDPOINT_IN) != 0) {
        std::memset(data, 0, length);
        return length;
    }
    return 0;
}

int libusb_bulk_transfer(libusb_device_handle*, unsigned char endpoint, unsigned char* data,
                         int length, int* transferred, unsigned int) {
    auto& usb = fakeUsb();
    *transferred = 0;
    if ((endpoint & LIBUSB_ENDPOINT_IN) == 0) {
        if (usb.bulkOutError != 0) {
            return usb.bulkOutError;
        }
        usb.bulkOut.insert(usb.bulkOut.end(), data, data + length);
        *transferred = length;
        return 0;
    }
    ++usb.bulkInCalls;
    mvx::test::BulkIn answer{{0x01, 0x60}, 0};
    if (!usb.bulkIn.empty()) {
        answer = usb.bulkIn.front();
        usb.bulkIn.pop_front();
    }
    if (answer.error != 0) {
        return answer.error;
    }
    const int n = std::min(length, static_cast<int>(answer.bytes.size()));
    std::memcpy(data, answer.bytes.data(), static_cast<std::size_t>(n));
    *transferred = n;
    return 0;
}

}  // extern "C"
