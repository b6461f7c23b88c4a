// A stand-in for libusb at the USB request level. The test executable defines the libusb
// functions libftdi1 (and the FTDI backend) call, so every control and bulk transfer lands
// here: tests script the devices on the bus and what the bulk IN endpoint returns, and check
// the requests that went out.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace mvx::test {

struct FakeUsbDevice {
    std::uint8_t bus = 1;
    std::uint8_t address = 2;
    std::uint16_t vendorId = 0x0403;
    std::uint16_t productId = 0x6001;
    std::uint16_t bcdDevice = 0x0600;  // chip generation: 0x0600 FT232R, 0x0900 FT232H
    std::uint16_t maxPacketSize = 64;
    std::string manufacturer = "FTDI";
    std::string product = "USB2Movantrix";
    std::string serial = "A1B2C3";
    int openError = 0;  // libusb_open fails with this when non-zero
};

struct ControlRequest {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
};

// One scripted answer of the bulk IN endpoint: the raw bytes (modem-status bytes included)
// or a libusb error.
struct BulkIn {
    std::vector<std::uint8_t> bytes;
    int error = 0;
};

struct FakeUsb {
    int initError = 0;
    int listError = 0;
    std::deque<FakeUsbDevice> devices;

    std::vector<ControlRequest> controls;
    int controlError = 0;

    // Answers in order; once empty the endpoint answers with the two modem-status bytes only.
    std::deque<BulkIn> bulkIn;
    int bulkInCalls = 0;
    std::vector<std::uint8_t> bulkOut;
    int bulkOutError = 0;

    int contexts = 0;  // libusb contexts alive
    int handles = 0;   // device handles open
    int claimed = 0;   // interfaces claimed
    int configs = 0;   // config descriptors handed out and not freed
};

// The state behind the interposed functions. Reset it at the start of every test.
FakeUsb& fakeUsb();
void resetFakeUsb();

// The modem-status bytes an FTDI chip puts in front of every USB packet.
inline std::vector<std::uint8_t> withStatus(std::vector<std::uint8_t> data) {
    data.insert(data.begin(), {0x01, 0x60});
    return data;
}

}  // namespace mvx::test
