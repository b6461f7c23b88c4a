#include "protocol/Transaction.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace mvx {

namespace {

// Pause between looks at a held link, and after a keyed write before its read-back.
constexpr std::int64_t kBusyPollMs = 1;
constexpr std::int64_t kKeyedWriteSettleMs = 10;
// A status packet's bytes besides its data: two header bytes, ID, LEN, error, checksum.
constexpr std::uint32_t kStatusFrameBytes = 6;
// The longest a device waits before it answers (return delay 254 x 2 us, and a margin).
constexpr std::int64_t kMaxReturnDelayUs = 510;
// How long a line that never goes quiet is heard out before the exchange gives up on it.
constexpr std::int64_t kHearOutBoundUs = 500000;
// After a reply that did not come in its time, how long the exchanges that follow look for it
// as stale input before they send: it may come late (the protocol bounds no answer's delay but
// a broadcast's 500 ms), and with the ID and length of the answer a later request awaits.
constexpr std::int64_t kLateReplyUs = 500000;
// The receive latency assumed where the adapter does not tell its own, and a margin on top.
constexpr std::int64_t kUnknownLatencyUs = 16000;
constexpr std::int64_t kLateMarginUs = 1000;

bool tryClaim(AdapterLink& link) {
    int expected = 0;
    return link.busy().compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                               std::memory_order_relaxed);
}

void release(AdapterLink& link) {
    link.busy().store(0, std::memory_order_release);
}

// Waits in 1 ms steps until this caller holds the link.
void claim(AdapterLink& link) {
    while (!tryClaim(link)) {
        link.clock().sleepMs(kBusyPollMs);
        std::this_thread::yield();  // on virtual time the sleep above does not give way
    }
}

// Sends with the link already held by the caller.
int sendHeld(AdapterLink& link, const InstructionPacket& packet) {
    if (packet.id != kBroadcastId && link.purgePending().load(std::memory_order_relaxed) != 0) {
        std::uint32_t queued = 0;
        if (link.queueLength(queued) == Success && queued != 0) {
            link.purgeReceive();
        }
        link.purgePending().store(0, std::memory_order_relaxed);
    }
    std::uint8_t wire[InstructionPacket::kMaxWireSize];
    const std::size_t size = packet.encode(wire);
    std::uint32_t written = 0;
    return link.write(wire, static_cast<std::uint32_t>(size), written);
}

void markPurgePending(AdapterLink& link) {
    link.purgePending().store(1, std::memory_order_relaxed);
}

// A failed receive, told to the link's tap (the bus log).
int failed(AdapterLink& link, int result) {
    link.noteReplyFailed(result);
    return result;
}

std::uint8_t expectedReplyCount(const InstructionPacket& packet) {
    return packet.instruction == Read && packet.parameterCount >= 2 ? packet.parameters[1] : 0;
}

// After a reply that went wrong part-way (noise, a broken or cut header, a checksum), the
// rest of it or another device's answer may still be on the wire, and a packet sent now would
// go out over it: reads until nothing has come for as long as a whole reply of `replyBytes`
// may take to come (the read timeout of that many bytes), bounded, dropping what came. 100 or
// 101.
int hearOut(AdapterLink& link, std::uint32_t replyBytes) {
    const std::uint32_t quietMs = link.readTimeoutMs(replyBytes, true);
    const std::int64_t boundUs = link.clock().nowUs() + kHearOutBoundUs;
    std::uint8_t sink[256];
    for (;;) {
        std::uint32_t got = 0;
        if (link.readWithin(sink, sizeof sink, got, quietMs) == AdapterFailure) {
            return AdapterFailure;
        }
        if (got == 0 || link.clock().nowUs() >= boundUs) {
            break;
        }
    }
    return Success;  // what is left the next addressed send purges (purge-pending)
}

}  // namespace

int sendPacket(AdapterLink& link, const InstructionPacket& packet) {
    // Held only for the write, so a bare send never interleaves with a transaction.
    if (!tryClaim(link)) {
        return Busy;
    }
    const int result = sendHeld(link, packet);
    release(link);
    return result;
}

int sendWhenFree(AdapterLink& link, const InstructionPacket& packet) {
    int result = sendPacket(link, packet);
    while (result == Busy) {
        link.clock().sleepMs(1);
        result = sendPacket(link, packet);
    }
    return result;
}

int receivePacket(AdapterLink& link, StatusPacket& status, bool timed) {
    std::uint8_t header[4];
    std::uint32_t received = 0;
    int result = link.read(header, sizeof header, received, timed);
    if (result == AdapterFailure) {
        return AdapterFailure;
    }
    if (result != Success) {
        markPurgePending(link);
        return failed(link, received == 0 ? Timeout : CorruptReply);
    }
    if (header[0] != 0xFF || header[1] != 0xFF) {
        markPurgePending(link);
        return failed(link, CorruptReply);
    }

    // Body: error byte, data, checksum. LEN is one byte, so the body always fits here even
    // when LEN is out of range; such a body is read off and dropped, never copied out.
    const std::uint8_t len = header[3];
    std::uint8_t body[256];
    if (len != 0) {
        result = link.read(body, len, received, timed);
        if (result == AdapterFailure) {
            return AdapterFailure;
        }
        if (result != Success) {
            markPurgePending(link);
            return failed(link, CorruptReply);
        }
    }
    if (len < kMinPacketLen || len > kMaxPacketLen) {
        markPurgePending(link);  // whatever else of it is still on the way goes too
        return failed(link, CorruptReply);
    }

    unsigned sum = header[2] + header[3];
    for (std::uint8_t i = 0; i + 1 < len; ++i) {
        sum += body[i];
    }
    const auto checksum = static_cast<std::uint8_t>(~sum);
    if (checksum != body[len - 1]) {
        return failed(link, CorruptReply);
    }

    status.id = header[2];
    status.error = body[0];
    status.parameterCount = static_cast<std::uint8_t>(len - 2);
    std::memcpy(status.parameters.data(), body + 1, len - 2u);
    return Success;
}

namespace {

// Receives until the reply to `packet` comes (replies from other devices, or stale ones of the
// wrong length, are skipped): 100, 101, 103 or 104.
int receiveReply(AdapterLink& link, const InstructionPacket& packet, std::uint8_t expected,
                 StatusPacket& status) {
    int result = Success;
    do {
        result = receivePacket(link, status, true);
    } while (result == Success && (status.id != packet.id || status.parameterCount != expected));
    return result;
}

}  // namespace

int transact(AdapterLink& link, const InstructionPacket& packet, StatusPacket& status) {
    claim(link);
    const bool lateWindow =
        link.clock().nowUs() < link.lateRepliesUntilUs().load(std::memory_order_relaxed);
    if (lateWindow) {
        markPurgePending(link);  // a late answer to an earlier request may have come meanwhile
    }
    int result = sendHeld(link, packet);
    if (result != Success || packet.id == kBroadcastId) {
        release(link);
        return result;
    }
    const std::uint8_t expected = expectedReplyCount(packet);
    const std::int64_t sentUs = link.clock().nowUs();
    result = receiveReply(link, packet, expected, status);
    // A late answer to an earlier request may also come just after the send, and look like
    // this one's own: within the window the exchange waits until the first byte of its own
    // answer would have reached the host, and when more came meanwhile, the answer after it is
    // the own. An answer that came later than the own could have is late itself, or a late one
    // of an earlier request while the own is still to come: the window opens again.
    if (result == Success) {
        const std::int64_t latencyUs =
            link.receiveLatencyUs() >= 0 ? link.receiveLatencyUs() : kUnknownLatencyUs;
        const auto wireUs = [&link](std::size_t bytes) {
            return static_cast<std::int64_t>(std::ceil(bytes * link.byteTimeMs() * 1000.0f));
        };
        const std::int64_t firstByteUs =
            sentUs + kMaxReturnDelayUs + latencyUs + kLateMarginUs + wireUs(packet.wireSize() + 1);
        const std::int64_t lastByteUs = firstByteUs + wireUs(kStatusFrameBytes + expected);
        if (link.clock().nowUs() > lastByteUs) {
            link.lateRepliesUntilUs().store(link.clock().nowUs() + kLateReplyUs,
                                            std::memory_order_relaxed);
        }
        if (lateWindow) {
            if (link.clock().nowUs() < firstByteUs) {
                link.clock().sleepUntilUs(firstByteUs);
            }
            std::uint32_t queued = 0;
            if (link.queueLength(queued) != Success) {
                result = AdapterFailure;
            } else if (queued != 0) {
                StatusPacket own;
                const int again = receiveReply(link, packet, expected, own);
                if (again == Success) {
                    status = own;
                } else if (again != Timeout) {
                    result = again;  // the adapter failed, or the answer came broken
                }
            }
        }
    }
    // Nothing goes out after a reply that broke off until the line has been heard out, nor
    // after none came before the longest reply could have been over (a long read at a slow rate
    // outlasts the read timeout of its header).
    if (result == CorruptReply && hearOut(link, kStatusFrameBytes + expected) == AdapterFailure) {
        result = AdapterFailure;
    } else if (result == Timeout) {
        link.lateRepliesUntilUs().store(link.clock().nowUs() + kLateReplyUs,
                                        std::memory_order_relaxed);
        const auto replyUs = static_cast<std::int64_t>(
            std::ceil((kStatusFrameBytes + expected) * link.byteTimeMs() * 1000.0f));
        const std::int64_t overUs = sentUs + kMaxReturnDelayUs + replyUs;
        if (link.clock().nowUs() < overUs) {
            link.clock().sleepUntilUs(overUs);
        }
    }
    release(link);
    return result;
}

int ping(AdapterLink& link, std::uint8_t id) {
    StatusPacket status;
    return transact(link, InstructionPacket::make(id, Ping), status);
}

int readBlock(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t length,
              std::uint8_t* out) {
    StatusPacket status;
    const int result = transact(link, InstructionPacket::make(id, Read, {address, length}), status);
    // Only data that came back are copied: a broadcast read succeeds with no reply at all, and
    // copying then would hand out stale bytes, from past the parameter area above 150.
    if (result == Success && length != 0 && status.parameterCount == length) {
        std::memcpy(out, status.parameters.data(), length);
    }
    return result;
}

int readByte(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t& out) {
    return readBlock(link, id, address, 1, &out);
}

int writeByte(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t value) {
    StatusPacket status;
    return transact(link, InstructionPacket::make(id, Write, {address, value}), status);
}

int writeWord(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint16_t value) {
    StatusPacket status;
    const auto low = static_cast<std::uint8_t>(value & 0xFF);
    const auto high = static_cast<std::uint8_t>(value >> 8);
    return transact(link, InstructionPacket::make(id, Write, {address, low, high}), status);
}

int keyedWrite(AdapterLink& link, std::uint8_t id, std::uint8_t address, std::uint8_t value) {
    const InstructionPacket packet =
        InstructionPacket::make(id, KeyedWrite,
                                {address, value, kKeyedWriteKey[0], kKeyedWriteKey[1],
                                 kKeyedWriteKey[2], kKeyedWriteKey[3]});
    int result = sendPacket(link, packet);
    if (result != Success) {
        return result;
    }
    link.clock().sleepMs(kKeyedWriteSettleMs);
    std::uint8_t readBack = 0;
    result = readByte(link, id, address, readBack);
    if (result != Success) {
        return result;
    }
    return readBack == value ? Success : Timeout;
}

int instruction7(AdapterLink& link, std::uint8_t id) {
    StatusPacket status;
    return transact(link, InstructionPacket::make(id, Instruction7), status);
}

}  // namespace mvx
