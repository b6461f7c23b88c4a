// Fuzz target: the status-packet receive path (receive, transact and the instruction wrappers,
// and a device probe that decodes what comes back) on any byte stream, cut into reads anywhere,
// on virtual time.
//
// Input: an operation byte, the asked ID, an argument byte (read length, written value), then
// the chunks of ChunkDriver. Invariants: only result codes 100-105; a success only for a
// well-formed status packet from the asked ID with the expected data count, whose bytes are
// exactly the last ones read; a failed read leaves its output alone.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "ChunkDriver.h"
#include "FuzzCheck.h"
#include "device/DeviceEntry.h"
#include "device/DeviceRegistry.h"
#include "link/AdapterLink.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"
#include "protocol/Transaction.h"

namespace {

using namespace mvx;

enum Operation : std::uint8_t {
    OpReceive,
    OpPing,
    OpRead,
    OpWrite,
    OpKeyedWrite,
    OpProbe,
    OpCount
};

bool isResult(int result) {
    return result >= Success && result <= Busy;
}

// The wire bytes of `status`, as a device sends them.
std::vector<std::uint8_t> wireBytes(const StatusPacket& status) {
    std::vector<std::uint8_t> bytes = {
        0xFF, 0xFF, status.id, static_cast<std::uint8_t>(status.parameterCount + 2), status.error};
    bytes.insert(bytes.end(), status.parameters.begin(),
                 status.parameters.begin() + status.parameterCount);
    bytes.push_back(packetChecksum(bytes.data() + 2, bytes.size() - 2));
    return bytes;
}

// The received packet is the tail of what the driver handed out, byte for byte.
void checkReceived(const fuzz::ChunkDriver& driver, const StatusPacket& status) {
    MVX_FUZZ_CHECK(status.parameterCount <= kMaxParameters);
    const std::vector<std::uint8_t> wire = wireBytes(status);
    const auto& delivered = driver.delivered();
    MVX_FUZZ_CHECK(delivered.size() >= wire.size());
    MVX_FUZZ_CHECK(std::equal(wire.begin(), wire.end(), delivered.end() - wire.size()));
}

// A probe of (code 1, id) by a registry over the driver: the identity read, and for an actuator
// its servo record built from whatever the replies hold.
void probe(const std::uint8_t* chunks, std::size_t size, std::uint8_t id) {
    VirtualClock clock;
    fuzz::ChunkDriver driver(clock);
    DeviceRegistry registry(driver, clock);
    MVX_FUZZ_CHECK(registry.bus().open(0));
    driver.feed(chunks, size);  // after the open, whose purge would drop the first chunk
    DeviceEntry* entry = registry.appendPlaceholder();
    MVX_FUZZ_CHECK(entry != nullptr);
    const int result = entry->probe(1, id % 254);
    MVX_FUZZ_CHECK(isResult(result));
    if (result == Success && entry->servoRecord() != nullptr) {
        MVX_FUZZ_CHECK(entry->returnLevel() != 0);
        MVX_FUZZ_CHECK(isResult(entry->servoRecord()->setGoalPosition(0)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const auto op = static_cast<Operation>(data[0] % OpCount);
    const std::uint8_t id = data[1];
    const std::uint8_t argument = data[2];
    if (op == OpProbe) {
        probe(data + 3, size - 3, id);
        return 0;
    }

    VirtualClock clock;
    fuzz::ChunkDriver driver(clock);
    auto link = AdapterLink::open(driver, clock, 0, 1);
    MVX_FUZZ_CHECK(link != nullptr);
    driver.feed(data + 3, size - 3);

    StatusPacket status;
    int result = 0;
    switch (op) {
        case OpReceive:
            result = receivePacket(*link, status, argument % 2 == 0);
            if (result == Success) {
                checkReceived(driver, status);
            }
            break;
        case OpPing:
        case OpWrite:
            result = transact(*link,
                              op == OpPing ? InstructionPacket::make(id, Ping)
                                           : InstructionPacket::make(id, Write, {30, argument}),
                              status);
            if (result == Success && id != kBroadcastId) {
                checkReceived(driver, status);
                MVX_FUZZ_CHECK(status.id == id && status.parameterCount == 0);
            }
            break;
        case OpRead: {
            // Exactly `argument` bytes of room, so a copy of more shows as an overflow.
            std::vector<std::uint8_t> out(argument, 0xA5);
            result = readBlock(*link, id, 0, argument, out.data());
            if (result != Success || id == kBroadcastId) {
                MVX_FUZZ_CHECK(
                    std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0xA5; }) ||
                    (result == Success && argument == 0));
            }
            const auto& delivered = driver.delivered();
            if (result == Success && id != kBroadcastId && argument != 0) {
                // The data are the bytes before the checksum of the last packet read.
                MVX_FUZZ_CHECK(delivered.size() >= argument + 6u);
                MVX_FUZZ_CHECK(std::equal(out.begin(), out.end(), delivered.end() - argument - 1));
                MVX_FUZZ_CHECK(delivered[delivered.size() - argument - 6] == 0xFF);
                MVX_FUZZ_CHECK(delivered[delivered.size() - argument - 4] == id);
            }
            break;
        }
        case OpKeyedWrite:
            result = keyedWrite(*link, id, 45, argument);
            break;
        case OpProbe:
        case OpCount:
            break;
    }
    MVX_FUZZ_CHECK(isResult(result));
    MVX_FUZZ_CHECK(link->busy().load() == 0);

    // A second exchange on the same link: stale input left behind by the first must not turn
    // into a success for the wrong device.
    StatusPacket second;
    const int next = transact(*link, InstructionPacket::make(id, Ping), second);
    MVX_FUZZ_CHECK(isResult(next));
    if (next == Success && id != kBroadcastId) {
        checkReceived(driver, second);
        MVX_FUZZ_CHECK(second.id == id && second.parameterCount == 0);
    }
    return 0;
}
