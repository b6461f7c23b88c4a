#include "protocol/Packet.h"

#include <gtest/gtest.h>

#include "protocol/BaudRate.h"
#include "protocol/ResultCode.h"
#include "support/Bytes.h"

namespace mvx {
namespace {

using test::hexString;

std::string wire(const InstructionPacket& packet) {
    std::uint8_t out[InstructionPacket::kMaxWireSize];
    const std::size_t n = packet.encode(out);
    EXPECT_EQ(n, packet.wireSize());
    return hexString(out, n);
}

TEST(PacketTest, EncodesInstructionPackets) {
    EXPECT_EQ(wire(InstructionPacket::make(1, Ping)), "FF FF 01 02 01 FB");
    EXPECT_EQ(wire(InstructionPacket::make(5, Read, {36, 2})), "FF FF 05 04 02 24 02 CE");
    EXPECT_EQ(wire(InstructionPacket::make(1, Write, {30, 0x00, 0x02})),
              "FF FF 01 05 03 1E 00 02 D6");
    EXPECT_EQ(wire(InstructionPacket::make(kBroadcastId, Ping)), "FF FF FE 02 01 FE");
}

TEST(PacketTest, FullParameterAreaFits) {
    InstructionPacket packet = InstructionPacket::make(3, Write);
    packet.parameters.fill(0x01);
    packet.parameterCount = kMaxParameters;
    EXPECT_EQ(packet.wireSize(), 156u);
    std::uint8_t out[InstructionPacket::kMaxWireSize];
    ASSERT_EQ(packet.encode(out), 156u);
    EXPECT_EQ(out[3], 152);
    // 3 + 152 + 3 + 150 = 308 = 0x134 -> ~0x34 = 0xCB
    EXPECT_EQ(out[155], 0xCB);
}

TEST(PacketTest, ChecksumIsTheComplementOfTheByteSum) {
    const std::uint8_t bytes[] = {0xFE, 0x04, 0x03, 0x03, 0x01};
    EXPECT_EQ(packetChecksum(bytes, sizeof bytes), 0xF6);
    EXPECT_EQ(packetChecksum(bytes, 0), 0xFF);
}

TEST(PacketTest, ResultTexts) {
    EXPECT_STREQ(resultText(Success), "success");
    EXPECT_STREQ(resultText(AdapterFailure), "adapter access failed");
    EXPECT_STREQ(resultText(WriteIncomplete), "write incomplete");
    EXPECT_STREQ(resultText(Timeout), "no reply (timeout)");
    EXPECT_STREQ(resultText(CorruptReply), "corrupt reply");
    EXPECT_STREQ(resultText(Busy), "busy");
    EXPECT_STREQ(resultText(0), "unknown result");
}

TEST(BaudRateTest, RatesAndLists) {
    EXPECT_EQ(rateOf(0), 2000000u);
    EXPECT_EQ(rateOf(1), 1000000u);
    EXPECT_EQ(rateOf(34), 57142u);
    EXPECT_EQ(rateOf(103), 19230u);
    EXPECT_EQ(rateOf(207), 9615u);
    EXPECT_EQ(rateOf(255), 7812u);
    const auto full = fullSearchCodes();
    EXPECT_EQ(full.front(), 1);
    EXPECT_EQ(full.back(), 255);
    EXPECT_EQ(kQuickSearchCodes[1], 34);
}

}  // namespace
}  // namespace mvx
