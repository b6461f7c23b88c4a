// The FTDI backend against libftdi1 with libusb replaced by FtdiFakeUsb: the checks are on
// the USB requests the chip would receive.
#include <gtest/gtest.h>
#include <libusb.h>

#include <cmath>
#include <cstring>

#include "FtdiFakeUsb.h"
#include "drivers/Clock.h"
#include "drivers/FtdiDevice.h"
#include "drivers/FtdiDriver.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::BulkIn;
using test::Bytes;
using test::ControlRequest;
using test::fakeUsb;
using test::FakeUsbDevice;
using test::hexBytes;
using test::hexString;
using test::withStatus;

constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kReqReset = 0x00;
constexpr std::uint8_t kReqFlow = 0x02;
constexpr std::uint8_t kReqBaud = 0x03;
constexpr std::uint8_t kReqData = 0x04;
constexpr std::uint8_t kReqLatency = 0x09;
constexpr std::uint8_t kReqBitMode = 0x0B;

// The bit rate an FT232R-class chip (3 MHz base, divisor in eighths) runs at for a
// set-baud-rate request.
double chipRate(const ControlRequest& r) {
    static constexpr int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};  // sub-divisor code -> 1/8
    const int code = ((r.value >> 14) & 3) | ((r.index & 1) << 2);
    const int whole = r.value & 0x3FFF;
    const int eighths = whole * 8 + kEighths[code];
    if (eighths == 0) {
        return 3000000.0;
    }
    if (eighths == 8) {
        return 2000000.0;  // divisor 1 is a special case: 2 MHz
    }
    return 24000000.0 / eighths;
}

class FtdiDriverTest : public ::testing::Test {
protected:
    void SetUp() override { test::resetFakeUsb(); }
    void TearDown() override {
        // Every context, handle, claimed interface and descriptor is given back.
        EXPECT_EQ(fakeUsb().contexts, 0);
        EXPECT_EQ(fakeUsb().handles, 0);
        EXPECT_EQ(fakeUsb().claimed, 0);
        EXPECT_EQ(fakeUsb().configs, 0);
    }

    // Opens a single FT232R and forgets the requests of the open itself.
    FtHandle openOne(FakeUsbDevice device = {}) {
        fakeUsb().devices.push_back(device);
        std::uint32_t count = 0;
        EXPECT_EQ(driver.listNumber(&count), FT_OK);
        EXPECT_EQ(count, 1u);
        FtHandle handle;
        EXPECT_EQ(driver.open(0, &handle), FT_OK);
        fakeUsb().controls.clear();
        return handle;
    }

    std::vector<ControlRequest> requests(std::uint8_t request) const {
        std::vector<ControlRequest> out;
        for (const auto& r : fakeUsb().controls) {
            if (r.request == request) {
                out.push_back(r);
            }
        }
        return out;
    }

    VirtualClock clock;
    FtdiDriver driver{&clock};
};

// --- listing ---------------------------------------------------------------------------

TEST_F(FtdiDriverTest, NoDevicesGiveZeroAndBadIndicesFailCleanly) {
    std::uint32_t count = 99;
    EXPECT_EQ(driver.listNumber(&count), FT_OK);
    EXPECT_EQ(count, 0u);

    char text[128];
    std::memset(text, 'x', sizeof(text));
    EXPECT_NE(driver.listDescription(0, text, sizeof(text)), FT_OK);
    EXPECT_EQ(text[0], '\0');

    FtHandle handle;
    EXPECT_NE(driver.open(0, &handle), FT_OK);
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(driver.lastOpenAccessDenied());
}

TEST_F(FtdiDriverTest, NoUsbStackGivesZeroAndAFailedBusListingFails) {
    fakeUsb().initError = LIBUSB_ERROR_OTHER;
    fakeUsb().devices.push_back({});
    std::uint32_t count = 99;
    EXPECT_EQ(driver.listNumber(&count), FT_OK);
    EXPECT_EQ(count, 0u);

    fakeUsb().initError = 0;
    fakeUsb().listError = LIBUSB_ERROR_NO_MEM;
    EXPECT_NE(driver.listNumber(&count), FT_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(FtdiDriverTest, ListsFtdiAdaptersInBusOrderWithTheirUsbIdentity) {
    auto& devices = fakeUsb().devices;
    devices.push_back({.bus = 3, .address = 7, .product = "Second", .serial = "S2"});
    devices.push_back({.bus = 1, .address = 9, .vendorId = 0x1234, .product = "Not FTDI"});
    devices.push_back({.bus = 1, .address = 4, .productId = 0x6015, .product = "First"});
    devices.push_back({.bus = 2, .address = 1, .productId = 0x6002, .product = "Other PID"});
    devices.push_back({.bus = 2, .address = 5, .productId = 0x6014, .product = "Third"});

    std::uint32_t count = 0;
    ASSERT_EQ(driver.listNumber(&count), FT_OK);
    ASSERT_EQ(count, 3u);

    char text[128];
    const char* const names[] = {"First", "Third", "Second"};
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(driver.listDescription(i, text, sizeof(text)), FT_OK);
        EXPECT_STREQ(text, names[i]);
    }
    EXPECT_EQ(driver.listDescription(3, text, sizeof(text)), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(text[0], '\0');

    const auto adapters = driver.adapters();
    ASSERT_EQ(adapters.size(), 3u);
    EXPECT_EQ(adapters[2].busNumber, 3);
    EXPECT_EQ(adapters[2].deviceAddress, 7);
    EXPECT_EQ(adapters[2].serialNumber, "S2");
    EXPECT_EQ(adapters[0].productId, 0x6015);

    // Open goes by the kept list: index 2 is the adapter at bus 3, address 7.
    FtHandle handle;
    ASSERT_EQ(driver.open(2, &handle), FT_OK);
    fakeUsb().controls.clear();
    handle->close();
}

TEST_F(FtdiDriverTest, DescriptionIsCutToTheBufferAndTheDriverLimit) {
    fakeUsb().devices.push_back({.product = std::string(100, 'P')});
    std::uint32_t count = 0;
    ASSERT_EQ(driver.listNumber(&count), FT_OK);

    char small[8];
    ASSERT_EQ(driver.listDescription(0, small, sizeof(small)), FT_OK);
    EXPECT_STREQ(small, "PPPPPPP");
    char large[128];
    ASSERT_EQ(driver.listDescription(0, large, sizeof(large)), FT_OK);
    EXPECT_EQ(std::strlen(large), kFtDescriptionSize - 1);
}

TEST_F(FtdiDriverTest, PermissionFailureIsReportedForListingAndOpen) {
    fakeUsb().devices.push_back({.openError = LIBUSB_ERROR_ACCESS});
    fakeUsb().devices.push_back({.address = 3, .openError = LIBUSB_ERROR_BUSY});
    std::uint32_t count = 0;
    ASSERT_EQ(driver.listNumber(&count), FT_OK);
    ASSERT_EQ(count, 2u);

    char text[128];
    EXPECT_NE(driver.listDescription(0, text, sizeof(text)), FT_OK);
    EXPECT_EQ(text[0], '\0');
    const auto adapters = driver.adapters();
    EXPECT_TRUE(adapters[0].accessDenied);
    EXPECT_FALSE(adapters[0].stringsRead);
    EXPECT_FALSE(adapters[1].accessDenied);

    FtHandle handle;
    EXPECT_EQ(driver.open(0, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(driver.lastOpenAccessDenied());
    EXPECT_EQ(driver.open(1, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(driver.lastOpenAccessDenied());
}

TEST_F(FtdiDriverTest, OpenWithoutListingListsFirstAndGoneAdapterIsNotFound) {
    fakeUsb().devices.push_back({});
    FtHandle handle;
    ASSERT_EQ(driver.open(0, &handle), FT_OK);
    handle.reset();  // the destructor closes

    fakeUsb().devices.clear();  // unplugged after the listing
    EXPECT_EQ(driver.open(0, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
}

// --- configuration requests -------------------------------------------------------------

TEST_F(FtdiDriverTest, OpenSequenceRequests) {
    FtHandle dev = openOne();
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->resetDevice(), FT_OK);
    EXPECT_EQ(dev->setDataCharacteristics(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_EQ(dev->setFlowControl(FT_FLOW_NONE, 0, 0), FT_OK);
    EXPECT_EQ(dev->setTimeouts(0, 0), FT_OK);
    EXPECT_EQ(dev->receiveLatencyUs(), -1);  // not known before it is set
    EXPECT_EQ(dev->setLatencyTimer(1), FT_OK);
    EXPECT_EQ(dev->receiveLatencyUs(), 1000);
    EXPECT_EQ(dev->setUsbParameters(512, 0), FT_OK);
    EXPECT_EQ(dev->setBaudRate(1000000), FT_OK);
    EXPECT_EQ(dev->setBitMode(0x88, FT_BITMODE_CBUS_BITBANG), FT_OK);
    EXPECT_EQ(dev->purge(FT_PURGE_RX), FT_OK);

    // reset, 8N1, no flow control, latency 1 ms, baud, CBUS bit mode, receive flush (the
    // tciflush value); the baud request's value is checked as the rate it gives.
    const std::pair<std::uint8_t, int> expected[] = {
        {kReqReset, 0}, {kReqData, 0x0008},    {kReqFlow, 0}, {kReqLatency, 1},
        {kReqBaud, -1}, {kReqBitMode, 0x2088}, {kReqReset, 2}};
    const auto& c = fakeUsb().controls;
    ASSERT_EQ(c.size(), std::size(expected));
    for (std::size_t i = 0; i < c.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(c[i].requestType, kVendorOut);
        EXPECT_EQ(c[i].request, expected[i].first);
        if (expected[i].second >= 0) {
            EXPECT_EQ(c[i].value, expected[i].second);
        }
    }
    EXPECT_EQ(c[2].index & 0xFF00, 0);
    EXPECT_DOUBLE_EQ(chipRate(c[4]), 1000000.0);
}

TEST_F(FtdiDriverTest, BaudRateAfterBitModeIsTheAskedRateNotFourTimes) {
    FtHandle dev = openOne();
    ASSERT_EQ(dev->setBitMode(0x88, FT_BITMODE_CBUS_BITBANG), FT_OK);

    struct Case {
        std::uint32_t rate;
        double chip;
    };
    // 2000000/(code+1) for codes 0, 1, 2, 16, 34, 207, 255 and the common 115200.
    const Case cases[] = {{2000000, 2000000.0}, {1000000, 1000000.0}, {666666, 24e6 / 36},
                          {117647, 24e6 / 204}, {57142, 24e6 / 420},  {9615, 24e6 / 2496},
                          {7812, 7812.5},       {115200, 24e6 / 208}};
    for (const auto& c : cases) {
        fakeUsb().controls.clear();
        ASSERT_EQ(dev->setBaudRate(c.rate), FT_OK) << c.rate;
        const auto baud = requests(kReqBaud);
        ASSERT_EQ(baud.size(), 1u);
        EXPECT_DOUBLE_EQ(chipRate(baud[0]), c.chip) << c.rate;
        EXPECT_LT(std::fabs(chipRate(baud[0]) - c.rate) / c.rate, 0.01) << c.rate;
    }
    // The bit mode stays on for libftdi: switching it off again goes through as asked.
    fakeUsb().controls.clear();
    EXPECT_EQ(dev->setBitMode(0x80, FT_BITMODE_CBUS_BITBANG), FT_OK);
    ASSERT_EQ(requests(kReqBitMode).size(), 1u);
    EXPECT_EQ(requests(kReqBitMode)[0].value, 0x2080);
}

TEST_F(FtdiDriverTest, FailedRequestsGiveIoErrorAndClosedHandleIsInvalid) {
    FtHandle dev = openOne();
    fakeUsb().controlError = LIBUSB_ERROR_NO_DEVICE;
    EXPECT_EQ(dev->setBaudRate(57142), FT_IO_ERROR);
    EXPECT_EQ(dev->setBitMode(0x88, FT_BITMODE_CBUS_BITBANG), FT_IO_ERROR);
    EXPECT_EQ(dev->setLatencyTimer(1), FT_IO_ERROR);
    EXPECT_EQ(dev->purge(FT_PURGE_RX), FT_IO_ERROR);
    fakeUsb().controlError = 0;
    EXPECT_EQ(dev->setBaudRate(0), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(dev->setDataCharacteristics(9, FT_STOP_BITS_1, FT_PARITY_NONE), FT_INVALID_PARAMETER);

    EXPECT_EQ(dev->close(), FT_OK);
    EXPECT_EQ(dev->close(), FT_INVALID_HANDLE);
    std::uint32_t n = 0;
    std::uint8_t byte = 0;
    EXPECT_EQ(dev->read(&byte, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(dev->write(&byte, 1, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(dev->setBaudRate(57142), FT_INVALID_HANDLE);
}

// --- reading and writing ----------------------------------------------------------------

TEST_F(FtdiDriverTest, TimedReadEndsAtTheDeadlineWithWhatArrived) {
    FtHandle dev = openOne();
    ASSERT_EQ(dev->setTimeouts(20, 0), FT_OK);
    fakeUsb().bulkIn = {{withStatus({}), 0},
                        {withStatus({0xFF, 0xFF}), 0},
                        {withStatus({}), 0},
                        {withStatus({0x01}), 0}};
    std::uint8_t buf[6] = {};
    std::uint32_t got = 99;
    const std::int64_t start = clock.nowUs();
    EXPECT_EQ(dev->read(buf, 6, &got), FT_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(hexString(buf, got), "FF FF 01");
    const std::int64_t waited = clock.nowUs() - start;
    EXPECT_GE(waited, 20000);
    EXPECT_LE(waited, 20000 + FtdiDevice::kPollIntervalUs);
    EXPECT_GT(fakeUsb().bulkInCalls, 4);
}

TEST_F(FtdiDriverTest, FullReadReturnsWithoutWaitingAndKeepsTheRest) {
    FtHandle dev = openOne();
    ASSERT_EQ(dev->setTimeouts(100, 0), FT_OK);
    fakeUsb().bulkIn = {{withStatus({}), 0}, {withStatus(hexBytes("FF FF 01 02 00 FC AA")), 0}};
    std::uint8_t buf[6] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(dev->read(buf, 6, &got), FT_OK);
    EXPECT_EQ(hexString(buf, got), "FF FF 01 02 00 FC");
    EXPECT_EQ(clock.nowUs(), FtdiDevice::kPollIntervalUs);  // one pause after the empty poll

    std::uint32_t queued = 0;
    EXPECT_EQ(dev->getQueueStatus(&queued), FT_OK);
    EXPECT_EQ(queued, 1u);
    ASSERT_EQ(dev->setTimeouts(0, 0), FT_OK);
    EXPECT_EQ(dev->read(buf, 2, &got), FT_OK);  // a zero timeout polls once
    EXPECT_EQ(hexString(buf, got), "AA");
    EXPECT_EQ(clock.nowUs(), FtdiDevice::kPollIntervalUs);
}

TEST_F(FtdiDriverTest, ModemStatusOfEveryPacketIsStripped) {
    FtHandle dev = openOne();
    // One 130-byte transfer: 64-byte packets, each starting with the two status bytes.
    Bytes transfer;
    Bytes expected;
    for (int packet = 0; packet < 3; ++packet) {
        const int payload = packet < 2 ? 62 : 2;
        transfer.push_back(0x01);
        transfer.push_back(0x60);
        for (int i = 0; i < payload; ++i) {
            const auto byte = static_cast<std::uint8_t>(packet * 62 + i);
            transfer.push_back(byte);
            expected.push_back(byte);
        }
    }
    fakeUsb().bulkIn = {{transfer, 0}};
    std::uint32_t queued = 0;
    ASSERT_EQ(dev->getQueueStatus(&queued), FT_OK);
    ASSERT_EQ(queued, expected.size());
    Bytes buf(expected.size());
    std::uint32_t got = 0;
    ASSERT_EQ(dev->read(buf.data(), static_cast<std::uint32_t>(buf.size()), &got), FT_OK);
    EXPECT_EQ(buf, expected);
}

TEST_F(FtdiDriverTest, PurgeDropsQueuedBytes) {
    FtHandle dev = openOne();
    fakeUsb().bulkIn = {{withStatus({1, 2, 3}), 0}};
    std::uint32_t queued = 0;
    ASSERT_EQ(dev->getQueueStatus(&queued), FT_OK);
    ASSERT_EQ(queued, 3u);
    ASSERT_EQ(dev->purge(FT_PURGE_RX), FT_OK);
    ASSERT_EQ(dev->getQueueStatus(&queued), FT_OK);
    EXPECT_EQ(queued, 0u);
}

TEST_F(FtdiDriverTest, TransferTimeoutIsNoDataButAGoneDeviceIsAnIoError) {
    FtHandle dev = openOne();
    ASSERT_EQ(dev->setTimeouts(5, 0), FT_OK);
    fakeUsb().bulkIn = {{{}, LIBUSB_ERROR_TIMEOUT}, {withStatus({0x42}), 0}};
    std::uint8_t buf[2] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(dev->read(buf, 1, &got), FT_OK);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buf[0], 0x42);

    // (libftdi drops what the same call had read before a failed transfer, hence the empty
    // packet between.)
    fakeUsb().bulkIn = {{withStatus({0x43}), 0}, {withStatus({}), 0}, {{}, LIBUSB_ERROR_NO_DEVICE}};
    EXPECT_EQ(dev->read(buf, 2, &got), FT_IO_ERROR);
    EXPECT_EQ(got, 1u);
    fakeUsb().bulkIn = {{{}, LIBUSB_ERROR_IO}};
    std::uint32_t queued = 0;
    EXPECT_EQ(dev->getQueueStatus(&queued), FT_IO_ERROR);
}

TEST_F(FtdiDriverTest, WritePassesBytesThrough) {
    FtHandle dev = openOne();
    const Bytes packet = hexBytes("FF FF FE 02 01 FE");
    std::uint32_t written = 0;
    EXPECT_EQ(dev->write(packet.data(), static_cast<std::uint32_t>(packet.size()), &written),
              FT_OK);
    EXPECT_EQ(written, packet.size());
    EXPECT_EQ(fakeUsb().bulkOut, packet);

    fakeUsb().bulkOutError = LIBUSB_ERROR_NO_DEVICE;
    EXPECT_EQ(dev->write(packet.data(), 6, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);
}

}  // namespace
}  // namespace mvx
