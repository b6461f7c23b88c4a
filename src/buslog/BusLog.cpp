#include "buslog/BusLog.h"

#include <utility>

#include "buslog/BusLogText.h"
#include "protocol/Packet.h"
#include "protocol/ResultCode.h"

namespace mvx {

BusLog::BusLog(Clock& clock, std::size_t capacity)
    : clock_(clock), startUs_(clock.nowUs()), store_(capacity) {}

void BusLog::setLineSink(LineSink sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(sink);
}

void BusLog::wrote(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t written,
                   int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    // What the devices sent before this write belongs to the exchange before it.
    flushDevice(code, 0);
    pieces_.clear();
    host_.feed(bytes, written, pieces_);
    host_.flush(pieces_);  // a write is never continued by the next
    for (const CutPiece& piece : pieces_) {
        if (piece.state == PacketState::Whole) {
            noteInstruction(piece.bytes);
        }
    }
    if (written < count && pieces_.empty()) {
        pieces_.push_back({{}, PacketState::Incomplete});
    }
    addPieces(LogKind::HostPacket, code, pieces_, written < count ? WriteIncomplete : 0,
              written < count ? count : 0);
}

void BusLog::read(const std::uint8_t* bytes, std::uint32_t received, std::uint32_t, int code) {
    if (received == 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    pieces_.clear();
    device_.feed(bytes, received, pieces_);
    addPieces(LogKind::DevicePacket, code, pieces_, 0);
}

void BusLog::linkEvent(const LinkEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (event.kind == LinkEvent::Kind::RateChange || event.kind == LinkEvent::Kind::Purge) {
        flushDevice(event.code, 0);
    }
    BusLogEntry entry;
    entry.kind = LogKind::Event;
    entry.code = event.code;
    entry.event = event;
    add(std::move(entry));
}

void BusLog::replyFailed(int result, int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (result == Timeout) {
        // Nothing came for this reply; bytes still waiting are older than it.
        flushDevice(code, 0);
        BusLogEntry entry;
        entry.kind = LogKind::DevicePacket;
        entry.code = code;
        entry.state = PacketState::NoReply;
        entry.result = Timeout;
        add(std::move(entry));
        return;
    }
    // A corrupt reply: what waits is its start. A packet refused whole (checksum, length)
    // was logged with its result when it completed.
    flushDevice(code, result);
}

void BusLog::flushDevice(int code, int result) {
    if (!device_.waiting()) {
        return;
    }
    std::vector<CutPiece> pieces;
    device_.flush(pieces);
    addPieces(LogKind::DevicePacket, code, pieces, result);
}

void BusLog::addPieces(LogKind kind, int code, std::vector<CutPiece>& pieces, int lastResult,
                       std::uint32_t lastAsked) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        CutPiece& piece = pieces[i];
        BusLogEntry entry;
        entry.kind = kind;
        entry.code = code;
        entry.state = piece.state;
        if (kind == LogKind::DevicePacket &&
            (piece.state == PacketState::BadChecksum || piece.state == PacketState::BadLength)) {
            entry.result = CorruptReply;  // the packet layer refuses such a reply whole
        }
        if (kind == LogKind::DevicePacket && piece.state == PacketState::Whole &&
            piece.bytes[2] == readId_ && piece.bytes[3] - 2 == readLength_) {
            entry.readAddress = readAddress_;
        }
        if (i + 1 == pieces.size() && lastResult != 0) {
            entry.result = lastResult;
            entry.asked = lastAsked;
        }
        entry.bytes = std::move(piece.bytes);
        add(std::move(entry));
    }
}

void BusLog::noteInstruction(const std::vector<std::uint8_t>& packet) {
    // FF FF ID LEN INSTRUCTION PARAMETERS... CHECKSUM
    const bool read = packet[4] == Read && packet.size() == 8 && packet[2] != kBroadcastId;
    readId_ = read ? packet[2] : -1;
    readAddress_ = read ? packet[5] : -1;
    readLength_ = read ? packet[6] : -1;
}

void BusLog::add(BusLogEntry entry) {
    entry.timeUs = clock_.nowUs() - startUs_;
    if (sink_) {
        sink_(formatEntry(entry) + "\n");
    }
    store_.append(std::move(entry));
}

}  // namespace mvx
