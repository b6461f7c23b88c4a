// The bus log: a LinkTap that cuts both directions' bytes into packets, decodes them, keeps
// the last entries in a bounded store and hands each entry's text line to an optional sink
// (a file, stderr).
//
// Use: build it over the clock the bus runs on, set the sink, give it to the bus connection
// (BusConnection::setTap) before the adapter is opened; it must outlive every link opened
// with it. Times are microseconds since the log was built.
//
// Threads: the tap calls come on the bus's thread (one at a time); the sink is called there,
// in entry order. store() may be read from any thread at any time (BusLogStore is locked).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "buslog/BusLogEntry.h"
#include "buslog/BusLogStore.h"
#include "buslog/PacketCutter.h"
#include "drivers/Clock.h"
#include "link/LinkTap.h"

namespace mvx {

class BusLog final : public LinkTap {
public:
    // Gets each entry's line with its line feed.
    using LineSink = std::function<void(const std::string& line)>;

    explicit BusLog(Clock& clock, std::size_t capacity = BusLogStore::kDefaultCapacity);

    // Set before the log hears anything; an empty sink writes nothing.
    void setLineSink(LineSink sink);
    const BusLogStore& store() const { return store_; }

    void wrote(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t written,
               int code) override;
    void read(const std::uint8_t* bytes, std::uint32_t received, std::uint32_t asked,
              int code) override;
    void linkEvent(const LinkEvent& event) override;
    void replyFailed(int result, int code) override;

private:
    // Entries of the device bytes still waiting, the last one ending the exchange with
    // `result` (0: none).
    void flushDevice(int code, int result);
    // One entry per piece; the last one gets `lastResult` and `lastAsked` (a short write).
    void addPieces(LogKind kind, int code, std::vector<CutPiece>& pieces, int lastResult,
                   std::uint32_t lastAsked = 0);
    void add(BusLogEntry entry);
    void noteInstruction(const std::vector<std::uint8_t>& packet);

    Clock& clock_;
    const std::int64_t startUs_;
    std::mutex mutex_;  // the tap's state below, and the sink's order
    PacketCutter host_;
    PacketCutter device_;
    std::vector<CutPiece> pieces_;  // reused
    // The last addressed READ sent, to name the data of its reply; -1 when none.
    int readId_ = -1;
    int readAddress_ = -1;
    int readLength_ = -1;
    LineSink sink_;
    BusLogStore store_;
};

}  // namespace mvx
