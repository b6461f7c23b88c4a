// A default simulated bus on a virtual clock, opened through the simulated driver, with raw
// packet helpers.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "drivers/Clock.h"
#include "protocol/BaudRate.h"
#include "protocol/Packet.h"
#include "sim/SimDriver.h"
#include "sim/SimulatedBus.h"
#include "support/Bytes.h"

namespace mvx::test {

inline Bytes keyedBytes(std::uint8_t id, std::uint8_t address, std::uint8_t value) {
    return instructionBytes(id, 13, {address, value, 0x4D, 0x56, 0x58, 0x21});
}

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override { build(SimulatedBus::defaultBus()); }

    void build(const BusDescription& description) {
        handle.reset();
        driver.reset();
        bus = std::make_unique<SimulatedBus>(description, clock);
        driver = std::make_unique<SimDriver>(*bus);
        ASSERT_EQ(driver->open(0, &handle), FT_OK);
        ASSERT_EQ(handle->setTimeouts(20, 0), FT_OK);
        setCode(1);
    }

    void setCode(int code) { ASSERT_EQ(handle->setBaudRate(rateOf(code)), FT_OK); }

    void send(const Bytes& bytes) {
        std::uint32_t written = 0;
        ASSERT_EQ(handle->write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written),
                  FT_OK);
        ASSERT_EQ(written, bytes.size());
    }

    // Reads up to `count` bytes with the given read timeout.
    Bytes receive(std::size_t count, std::uint32_t timeoutMs = 20) {
        Bytes out(count);
        std::uint32_t received = 0;
        EXPECT_EQ(handle->setTimeouts(timeoutMs, 0), FT_OK);
        EXPECT_EQ(handle->read(out.data(), static_cast<std::uint32_t>(count), &received), FT_OK);
        out.resize(received);
        return out;
    }

    // Sends a packet and reads a reply of `replyLength` bytes (fewer when none comes).
    Bytes exchange(const Bytes& packet, std::size_t replyLength, std::uint32_t timeoutMs = 20) {
        send(packet);
        return receive(replyLength, timeoutMs);
    }

    Bytes ping(std::uint8_t id) { return exchange(instructionBytes(id, 1), 6); }

    SimulatedDevice& dev(std::uint8_t code, std::uint8_t id) {
        SimulatedDevice* d = bus->find(code, id);
        EXPECT_NE(d, nullptr) << "no device at code " << int(code) << " id " << int(id);
        return *d;
    }

    VirtualClock clock;
    std::unique_ptr<SimulatedBus> bus;
    std::unique_ptr<SimDriver> driver;
    FtHandle handle;
};

}  // namespace mvx::test
