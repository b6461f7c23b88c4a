// Fuzz target: the bus log's cutter and decoder on any traffic: writes, reads cut anywhere,
// failed replies and link events in any order, on virtual time.
//
// Input: records of an operation byte, a length byte and that many bytes (writes and reads).
// Invariants: every byte written and read comes out in the log's packets, in order, none
// more; no piece is longer than a packet can be; a piece called whole has its checksum right;
// every line is one line in the text format.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "buslog/BusLog.h"
#include "buslog/BusLogText.h"
#include "drivers/Clock.h"
#include "protocol/ResultCode.h"

namespace {

using namespace mvx;

enum Operation : std::uint8_t { OpWrite, OpShortWrite, OpRead, OpFailed, OpEvent, OpCount };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    VirtualClock clock;
    BusLog log(clock);
    std::vector<std::string> lines;
    log.setLineSink([&lines](const std::string& line) { lines.push_back(line); });
    std::vector<std::uint8_t> written;
    std::vector<std::uint8_t> read;
    int code = 1;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t op = data[at] % OpCount;
        const std::uint8_t arg = data[at + 1];
        at += 2;
        const std::size_t count = std::min<std::size_t>(arg, size - at);
        const std::uint8_t* bytes = data + at;
        switch (op) {
            case OpWrite:
            case OpShortWrite: {
                const auto sent =
                    static_cast<std::uint32_t>(op == OpShortWrite ? count / 2 : count);
                log.wrote(bytes, static_cast<std::uint32_t>(count), sent, code);
                written.insert(written.end(), bytes, bytes + sent);
                at += count;
                break;
            }
            case OpRead:
                log.read(bytes, static_cast<std::uint32_t>(count), arg, code);
                read.insert(read.end(), bytes, bytes + count);
                at += count;
                break;
            case OpFailed:
                log.replyFailed(arg % 2 == 0 ? Timeout : CorruptReply, code);
                break;
            case OpEvent:
                code = arg;
                log.linkEvent(
                    {static_cast<LinkEvent::Kind>(arg % 4), code, arg * 1000, arg % 2 == 1});
                break;
            default:
                break;
        }
        clock.sleepUs(arg);
    }
    log.replyFailed(CorruptReply, code);  // hands out what still waits

    std::vector<std::uint8_t> loggedHost;
    std::vector<std::uint8_t> loggedDevice;
    const std::vector<BusLogEntry> entries = log.store().since(0);
    MVX_FUZZ_CHECK(entries.size() == lines.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BusLogEntry& e = entries[i];
        MVX_FUZZ_CHECK(e.sequence == i);
        MVX_FUZZ_CHECK(e.bytes.size() <= PacketCutter::kMaxPiece);
        if (e.kind != LogKind::Event && e.state == PacketState::Whole) {
            MVX_FUZZ_CHECK(PacketCutter::judge(e.bytes.data(), e.bytes.size()) ==
                           PacketState::Whole);
        }
        std::vector<std::uint8_t>& into = e.kind == LogKind::HostPacket ? loggedHost : loggedDevice;
        into.insert(into.end(), e.bytes.begin(), e.bytes.end());
        const std::string& line = lines[i];
        MVX_FUZZ_CHECK(line.size() >= 2 && line.back() == '\n');
        MVX_FUZZ_CHECK(line.find('\n') == line.size() - 1);
        MVX_FUZZ_CHECK(line == formatEntry(e) + "\n");
        MVX_FUZZ_CHECK((line[0] == '#') == (e.kind == LogKind::Event));
    }
    MVX_FUZZ_CHECK(loggedHost == written);
    MVX_FUZZ_CHECK(loggedDevice == read);
    return 0;
}
