// The merged list with the real backends: libftdi1 over the fake libusb, and the tty side on a
// fake sysfs whose /dev node leads to a pseudo-terminal.
#include <gtest/gtest.h>
#include <libusb.h>

#include "FtdiFakeUsb.h"
#include "drivers/AdapterList.h"
#include "drivers/FakeSysfs.h"
#include "drivers/FtdiDevice.h"
#include "drivers/SerialPort.h"
#include "drivers/SerialTestPty.h"

namespace mvx {
namespace {

using test::fakeUsb;

class AdapterListSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::resetFakeUsb();
        ASSERT_TRUE(pty.ok());
        // The adapter at USB bus 1, address 5, served by the kernel as ttyUSB0.
        const auto usbDir = system.usbDevice("1-2", 1, 5, "0403", "A1B2C3", "USB2Movantrix");
        system.tty("ttyUSB0", usbDir / "1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
        system.nodeLink("ttyUSB0", pty.slavePath());
        list = std::make_unique<AdapterList>(
            std::make_unique<FtdiAdapterSource>(),
            std::make_unique<SysfsTtySource>(system.sys().string(), system.dev().string()));
    }

    std::uint32_t listed() {
        std::uint32_t count = 0;
        EXPECT_EQ(list->listNumber(&count), FT_OK);
        return count;
    }

    std::string description(std::uint32_t index) {
        char text[128] = {};
        EXPECT_EQ(list->listDescription(index, text, sizeof text), FT_OK);
        return text;
    }

    test::TestPty pty;
    test::FakeSystem system;
    std::unique_ptr<AdapterList> list;
};

TEST_F(AdapterListSystemTest, AnOpenableFtdiAdapterIsListedOnceAndOpenedThroughLibftdi) {
    fakeUsb().devices.push_back({.bus = 1, .address = 5});
    ASSERT_EQ(listed(), 1u);
    EXPECT_EQ(description(0), "USB2Movantrix");
    FtHandle handle;
    ASSERT_EQ(list->open(0, &handle), FT_OK);
    EXPECT_NE(dynamic_cast<FtdiDevice*>(handle.get()), nullptr);
}

TEST_F(AdapterListSystemTest, WithoutPermissionOnTheUsbNodeTheTtyIsUsed) {
    fakeUsb().devices.push_back({.bus = 1, .address = 5, .openError = LIBUSB_ERROR_ACCESS});
    ASSERT_EQ(listed(), 1u);
    EXPECT_EQ(description(0), "USB2Movantrix (ttyUSB0)");
    FtHandle handle;
    ASSERT_EQ(list->open(0, &handle), FT_OK);
    auto* port = dynamic_cast<SerialPort*>(handle.get());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->path(), (system.dev() / "ttyUSB0").string());
}

TEST_F(AdapterListSystemTest, ABusyAdapterFallsBackToItsTtyAtOpen) {
    fakeUsb().devices.push_back({.bus = 1, .address = 5, .openError = LIBUSB_ERROR_BUSY});
    ASSERT_EQ(listed(), 1u);
    FtHandle handle;
    ASSERT_EQ(list->open(0, &handle), FT_OK);
    EXPECT_NE(dynamic_cast<SerialPort*>(handle.get()), nullptr);
}

TEST_F(AdapterListSystemTest, AnotherFtdiAdapterWithoutTtyAndTheTtyBothAppear) {
    fakeUsb().devices.push_back({.bus = 2, .address = 9, .product = "Other FTDI"});
    ASSERT_EQ(listed(), 2u);
    EXPECT_EQ(description(0), "Other FTDI");
    EXPECT_EQ(description(1), "USB2Movantrix (ttyUSB0)");
}

}  // namespace
}  // namespace mvx
