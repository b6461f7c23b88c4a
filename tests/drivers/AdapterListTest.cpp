// The tty enumeration on a fake sysfs tree, and the merged adapter list on fake enumerations.
#include "drivers/AdapterList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "drivers/FakeSysfs.h"
#include "drivers/TtyEnumerator.h"

namespace mvx {
namespace {

namespace fs = std::filesystem;
using test::FakeSystem;

TEST(TtyEnumeratorTest, FindsRealPortsWithTheirUsbIdentityInNameOrder) {
    FakeSystem system;
    const fs::path ftdi = system.usbDevice("1-2", 1, 5, "0403", "A700XYZ", "USB2Movantrix");
    system.tty("ttyUSB0", ftdi / "1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    const fs::path acm = system.usbDevice("2-1", 2, 3, "2e8a", "", "Pico Bridge");
    system.tty("ttyACM0", acm / "2-1:1.0", "usb", "cdc_acm");
    const fs::path other = system.usbDevice("1-3", 1, 7, "0403", "B1", "");
    system.tty("ttyUSB10", other / "1-3:1.0/ttyUSB10", "usb-serial", "ftdi_sio");
    system.tty("ttyUSB2", other / "1-3:1.1/ttyUSB2", "usb-serial", "ftdi_sio");
    system.tty("ttyUSB3", other / "1-3:1.2/ttyUSB3", "usb-serial", "ftdi_sio", false);
    system.tty("ttyS0", system.sys() / "devices/platform/serial8250", "platform", "serial8250");
    system.tty("ttyS4", system.sys() / "devices/pnp0/00:05", "pnp", "serial");
    system.attribute("ttyS4", "type", "4");
    system.tty("ttyS1", system.sys() / "devices/platform/serial8250/serial8250:0/00:01",
               "serial-base", "port");
    system.attribute("ttyS1", "type", "0");
    system.virtualTerminal("tty1");

    const std::vector<TtyPort> ports =
        TtyEnumerator(system.sys().string(), system.dev().string()).list();
    std::vector<std::string> names;
    for (const TtyPort& p : ports) {
        names.push_back(p.name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"ttyACM0", "ttyS4", "ttyUSB0", "ttyUSB2", "ttyUSB10"}));

    const TtyPort& acm0 = ports[0];
    EXPECT_EQ(acm0.driver, "cdc_acm");
    EXPECT_EQ(acm0.usbBus, 2);
    EXPECT_EQ(acm0.usbAddress, 3);
    EXPECT_EQ(acm0.vendorId, 0x2e8a);
    EXPECT_EQ(acm0.product, "Pico Bridge");
    EXPECT_EQ(acm0.serial, "");

    const TtyPort& s4 = ports[1];
    EXPECT_EQ(s4.driver, "serial");
    EXPECT_EQ(s4.subsystem, "pnp");
    EXPECT_FALSE(s4.onUsb());

    const TtyPort& usb0 = ports[2];
    EXPECT_EQ(usb0.devicePath, (system.dev() / "ttyUSB0").string());
    EXPECT_EQ(usb0.driver, "ftdi_sio");
    EXPECT_EQ(usb0.subsystem, "usb-serial");
    EXPECT_EQ(usb0.usbBus, 1);
    EXPECT_EQ(usb0.usbAddress, 5);
    EXPECT_EQ(usb0.vendorId, 0x0403);
    EXPECT_EQ(usb0.serial, "A700XYZ");
    EXPECT_EQ(usb0.product, "USB2Movantrix");
    EXPECT_EQ(ports[4].usbAddress, 7);
}

TEST(TtyEnumeratorTest, NoTtyClassMeansNoPorts) {
    EXPECT_TRUE(TtyEnumerator("/nonexistent-sys", "/dev").list().empty());
}

// --- merged list on fake enumerations ---------------------------------------------------------

// A handle that only remembers where it came from.
class MarkerDevice final : public FtDevice {
public:
    explicit MarkerDevice(std::string origin) : origin(std::move(origin)) {}
    FtStatus resetDevice() override { return FT_OK; }
    FtStatus setDataCharacteristics(std::uint8_t, std::uint8_t, std::uint8_t) override {
        return FT_OK;
    }
    FtStatus setFlowControl(std::uint16_t, std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus setTimeouts(std::uint32_t, std::uint32_t) override { return FT_OK; }
    FtStatus setLatencyTimer(std::uint8_t) override { return FT_OK; }
    FtStatus setUsbParameters(std::uint32_t, std::uint32_t) override { return FT_OK; }
    FtStatus setBaudRate(std::uint32_t) override { return FT_OK; }
    FtStatus setBitMode(std::uint8_t, std::uint8_t) override { return FT_OK; }
    FtStatus purge(std::uint32_t) override { return FT_OK; }
    FtStatus getQueueStatus(std::uint32_t* n) override {
        *n = 0;
        return FT_OK;
    }
    FtStatus read(std::uint8_t*, std::uint32_t, std::uint32_t* n) override {
        *n = 0;
        return FT_OK;
    }
    FtStatus write(const std::uint8_t*, std::uint32_t c, std::uint32_t* n) override {
        *n = c;
        return FT_OK;
    }
    FtStatus close() override { return FT_OK; }
    std::string origin;
};

std::string originOf(const FtHandle& handle) {
    const auto* marker = dynamic_cast<const MarkerDevice*>(handle.get());
    return marker != nullptr ? marker->origin : "(none)";
}

struct FakeUsb final : UsbAdapterSource {
    std::vector<UsbAdapter> adapters;
    std::map<std::size_t, FtStatus> failures;  // open status per index; FT_OK when missing
    std::vector<std::size_t> opened;
    std::vector<UsbAdapter> list() override { return adapters; }
    FtStatus open(std::size_t index, FtHandle* handle) override {
        opened.push_back(index);
        const auto it = failures.find(index);
        if (it != failures.end()) {
            return it->second;
        }
        *handle = std::make_unique<MarkerDevice>("usb" + std::to_string(index));
        return FT_OK;
    }
};

struct FakeTtys final : TtySource {
    std::vector<TtyPort> ports;
    std::vector<TtyPort> list() override { return ports; }
    FtStatus open(const TtyPort& port, FtHandle* handle) override {
        *handle = std::make_unique<MarkerDevice>(port.name);
        return FT_OK;
    }
};

TtyPort ftdiTty(const std::string& name, int bus, int address, const std::string& serial) {
    TtyPort p;
    p.name = name;
    p.devicePath = "/dev/" + name;
    p.driver = "ftdi_sio";
    p.subsystem = "usb-serial";
    p.usbBus = bus;
    p.usbAddress = address;
    p.vendorId = 0x0403;
    p.serial = serial;
    p.product = "USB2Movantrix";
    return p;
}

TtyPort plainTty(const std::string& name, const std::string& product, int bus = -1) {
    TtyPort p;
    p.name = name;
    p.devicePath = "/dev/" + name;
    p.driver = bus >= 0 ? "cdc_acm" : "serial";
    p.usbBus = bus;
    p.usbAddress = bus >= 0 ? 9 : -1;
    p.product = product;
    return p;
}

class AdapterListTest : public ::testing::Test {
protected:
    AdapterListTest() {
        auto u = std::make_unique<FakeUsb>();
        auto t = std::make_unique<FakeTtys>();
        usb = u.get();
        ttys = t.get();
        list = std::make_unique<AdapterList>(std::move(u), std::move(t));
    }

    std::vector<std::string> descriptions() {
        std::uint32_t n = 0;
        EXPECT_EQ(list->listNumber(&n), FT_OK);
        std::vector<std::string> out;
        for (std::uint32_t i = 0; i < n; ++i) {
            char text[128] = "junk";
            EXPECT_EQ(list->listDescription(i, text, sizeof text), FT_OK);
            out.emplace_back(text);
        }
        return out;
    }

    std::string openedVia(std::uint32_t index) {
        FtHandle handle;
        const FtStatus status = list->open(index, &handle);
        return status == FT_OK ? originOf(handle) : "status " + std::to_string(status);
    }

    FakeUsb* usb;
    FakeTtys* ttys;
    std::unique_ptr<AdapterList> list;
};

TEST_F(AdapterListTest, NoAdaptersListsNothing) {
    std::uint32_t n = 7;
    EXPECT_EQ(list->listNumber(&n), FT_OK);
    EXPECT_EQ(n, 0u);
    char text[8];
    EXPECT_EQ(list->listDescription(0, text, sizeof text), FT_DEVICE_NOT_FOUND);
    FtHandle handle;
    EXPECT_EQ(list->open(0, &handle), FT_DEVICE_NOT_FOUND);

    AdapterList nothing(nullptr, nullptr);
    EXPECT_EQ(nothing.listNumber(&n), FT_OK);
    EXPECT_EQ(n, 0u);
}

// The plain case (an FTDI adapter with its tty, listed once, opened through USB) is covered
// with the real backends in AdapterListSystemTest.

TEST_F(AdapterListTest, WhenUsbAccessIsDeniedTheTtyIsUsedAndNamed) {
    // Without permission the USB backend cannot read the product string: sysfs supplies it.
    usb->adapters = {{"", 1, 5, "", true}};
    usb->failures[0] = FT_DEVICE_NOT_OPENED;
    ttys->ports = {ftdiTty("ttyUSB0", 1, 5, "A700XYZ")};
    EXPECT_EQ(descriptions(), std::vector<std::string>{"USB2Movantrix (ttyUSB0)"});
    EXPECT_EQ(openedVia(0), "ttyUSB0");
    EXPECT_TRUE(usb->opened.empty());
}

TEST_F(AdapterListTest, AFailedUsbOpenFallsBackToTheTty) {
    usb->adapters = {{"USB2Movantrix", 1, 5, "A700XYZ", false}};
    usb->failures[0] = FT_DEVICE_NOT_OPENED;
    ttys->ports = {ftdiTty("ttyUSB0", 1, 5, "A700XYZ")};
    EXPECT_EQ(descriptions().size(), 1u);
    EXPECT_EQ(openedVia(0), "ttyUSB0");
    EXPECT_EQ(usb->opened, std::vector<std::size_t>{0});
}

TEST_F(AdapterListTest, AFailedUsbOpenWithoutTtyReportsTheUsbStatus) {
    usb->adapters = {{"USB2Movantrix", 1, 5, "A700XYZ", true}};
    usb->failures[0] = FT_DEVICE_NOT_OPENED;
    EXPECT_EQ(descriptions(), std::vector<std::string>{"USB2Movantrix"});
    EXPECT_EQ(openedVia(0), "status " + std::to_string(FT_DEVICE_NOT_OPENED));
}

TEST_F(AdapterListTest, OtherSerialPortsFollowTheFtdiAdapters) {
    usb->adapters = {{"USB2Movantrix", 1, 5, "A1", false}, {"USB2Movantrix", 3, 2, "B2", false}};
    ttys->ports = {plainTty("ttyACM0", "Pico Bridge", 2), plainTty("ttyS4", ""),
                   ftdiTty("ttyUSB0", 1, 5, "A1"), ftdiTty("ttyUSB1", 3, 2, "B2"),
                   ftdiTty("ttyUSB2", 4, 4, "C3")};  // FTDI tty the USB backend did not list
    EXPECT_EQ(descriptions(),
              (std::vector<std::string>{"USB2Movantrix", "USB2Movantrix", "Pico Bridge (ttyACM0)",
                                        "ttyS4", "USB2Movantrix (ttyUSB2)"}));
    EXPECT_EQ(openedVia(1), "usb1");
    EXPECT_EQ(openedVia(2), "ttyACM0");
    EXPECT_EQ(openedVia(3), "ttyS4");
    EXPECT_EQ(openedVia(4), "ttyUSB2");
    EXPECT_EQ(openedVia(5), "status " + std::to_string(FT_DEVICE_NOT_FOUND));
}

TEST_F(AdapterListTest, WithoutUsbPositionTheSerialNumberMatchesFtdiTtys) {
    usb->adapters = {{"USB2Movantrix", -1, -1, "A1", false}};
    TtyPort acmSameSerial = plainTty("ttyACM0", "Other", 2);
    acmSameSerial.serial = "A1";
    ttys->ports = {acmSameSerial, ftdiTty("ttyUSB0", 1, 5, "A1")};
    EXPECT_EQ(descriptions(), (std::vector<std::string>{"USB2Movantrix", "Other (ttyACM0)"}));
}

TEST_F(AdapterListTest, TheListIsTakenByListNumberAndKeptForOpen) {
    ttys->ports = {plainTty("ttyACM0", "A", 2), plainTty("ttyACM1", "B", 2)};
    std::uint32_t n = 0;
    ASSERT_EQ(list->listNumber(&n), FT_OK);
    ASSERT_EQ(n, 2u);
    ttys->ports = {plainTty("ttyACM1", "B", 2)};  // unplugged after listing
    EXPECT_EQ(openedVia(1), "ttyACM1");
    ASSERT_EQ(list->listNumber(&n), FT_OK);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(openedVia(0), "ttyACM1");
}

TEST_F(AdapterListTest, LongDescriptionsAreCutToTheDriverLimit) {
    ttys->ports = {plainTty("ttyACM0", std::string(100, 'x'), 2)};
    std::uint32_t n = 0;
    ASSERT_EQ(list->listNumber(&n), FT_OK);
    char text[128];
    ASSERT_EQ(list->listDescription(0, text, sizeof text), FT_OK);
    EXPECT_EQ(std::string(text).size(), kFtDescriptionSize - 1);
    char small[5];
    ASSERT_EQ(list->listDescription(0, small, sizeof small), FT_OK);
    EXPECT_STREQ(small, "xxxx");
}

}  // namespace
}  // namespace mvx
