// One opened adapter: opens and configures it, switches its bit rate by baud-rate code,
// discards stale input, writes raw bytes, reads raw bytes with a timeout computed from the
// byte count and the bit rate, and closes it. The only code that talks to the driver.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "link/LinkTap.h"

namespace mvx {

class AdapterLink {
public:
    // Opens adapter `index` of the driver's list, configures it and sets `initialCode`.
    // Returns nothing on failure, with the adapter closed again. `tap`, when given, hears the
    // link's traffic and events from the opening sequence on, for the link's life (it must
    // outlive the link).
    static std::unique_ptr<AdapterLink> open(FtDriver& driver, Clock& clock, std::uint32_t index,
                                             std::uint8_t initialCode, LinkTap* tap = nullptr);
    // Closes the driver handle.
    ~AdapterLink();

    AdapterLink(const AdapterLink&) = delete;
    AdapterLink& operator=(const AdapterLink&) = delete;

    // 100 or 101. Setting the code already in force makes no driver call and does not wait.
    // A new code is followed by the 100 ms settling pause, or by `settleUs` microseconds.
    int setBaudCode(std::uint8_t code);
    int setBaudCode(std::uint8_t code, std::int64_t settleUs);
    // The code last programmed into the adapter, or -1 before the first successful setting.
    int currentBaudCode() const;
    // Wire time of one byte (12 bit times) at the current rate, in milliseconds.
    float byteTimeMs() const;

    // Discards the receive buffer: 100 or 101.
    int purgeReceive();
    // Drives CBUS3 high (on) or low (off); switching on waits 100 ms and purges. 100 or 101.
    int setBitMode(bool on);
    // Number of received bytes waiting: 100 or 101.
    int queueLength(std::uint32_t& rxBytes);
    // 100 when all `count` bytes went out, 102 when fewer did (`written` tells how many),
    // 101 on a driver I/O error.
    int write(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t& written);
    // write() with a deadline, for the raw bytes of a long dialogue that must not wait on a
    // port that has stopped taking bytes: the driver gets writeDeadlineMs(count) as its write
    // timeout, so it gives up by then. 100, 101 or 102 as write(); `overdue` is set when the
    // bytes had not all gone out by the deadline (a short write that came back sooner is an
    // ordinary short write).
    int writeWithin(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t& written,
                    bool& overdue);
    // The deadline of writeWithin: the integer part of byte time x count plus a margin of
    // 1000 ms, far above what any USB adapter needs to take the bytes.
    std::uint32_t writeDeadlineMs(std::uint32_t count) const;
    // 100 when all `count` bytes arrived, 103 when fewer did (`received` tells how many),
    // 101 on a driver failure. Timed reads wait according to the byte count; untimed 1 ms.
    int read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received, bool timed);
    // The read timeout read() programs: timed, the integer part of byte time x count plus a
    // margin of 20 ms (60 ms from code 103 on, the slow rates) plus the receive allowance;
    // untimed, 1 ms.
    std::uint32_t readTimeoutMs(std::uint32_t count, bool timed) const;
    // Milliseconds added to every timed read timeout, for an adapter that hands replies over
    // late (0, the default, keeps the timeouts above).
    void setReceiveAllowanceMs(std::uint32_t ms) { receiveAllowanceMs_.store(ms); }
    // As read(), with the read timeout given in milliseconds (0: what has arrived by now).
    int readWithin(std::uint8_t* buffer, std::uint32_t count, std::uint32_t& received,
                   std::uint32_t timeoutMs);
    // The adapter's receive latency in microseconds as its driver knows it, -1 when unknown
    // (FtDevice::receiveLatencyUs).
    std::int64_t receiveLatencyUs() const { return handle_->receiveLatencyUs(); }

    // Transaction coordination flags, driven by the packet layer. Busy is 1 while one caller
    // holds the link for a write or a request/reply exchange; it is claimed by
    // compare-exchange only. Purge-pending asks the next addressed send to discard stale input.
    std::atomic<int>& busy() { return busy_; }
    std::atomic<int>& purgePending() { return purgePending_; }
    // Until when (clock time) a reply that did not come in its time may still arrive: an
    // exchange begun before then drops stale input first, so a late answer to an earlier
    // request is never taken for its own.
    std::atomic<std::int64_t>& lateRepliesUntilUs() { return lateRepliesUntilUs_; }

    Clock& clock() { return clock_; }

    // The packet layer's word on a reply it was receiving: `result` 103 or 104 (for the tap).
    void noteReplyFailed(int result) {
        if (tap_ != nullptr) {
            tap_->replyFailed(result, currentBaudCode());
        }
    }
    LinkTap* tap() const { return tap_; }

    // Settings of the opening sequence that did not take effect on this adapter (see
    // FtDevice::limitations); the link works without them.
    std::vector<std::string> limitations() const { return handle_->limitations(); }

private:
    AdapterLink(FtHandle handle, Clock& clock, LinkTap* tap);

    void tell(const LinkEvent& event) {
        if (tap_ != nullptr) {
            tap_->linkEvent(event);
        }
    }
    void settle(std::int64_t waitUs);

    FtHandle handle_;
    Clock& clock_;
    LinkTap* const tap_;
    std::atomic<int> currentCode_{-1};
    std::atomic<float> byteTimeMs_{0.0f};
    std::atomic<int> busy_{0};
    std::atomic<int> purgePending_{0};
    std::atomic<std::int64_t> lateRepliesUntilUs_{0};
    std::atomic<std::uint32_t> receiveAllowanceMs_{0};
};

// Number of adapters plugged in, or -1 when the driver's list call fails.
int adapterCount(FtDriver& driver);
// Reads the description of adapter `index` into `buffer` (zero-terminated); 100 or 101.
int adapterDescription(FtDriver& driver, std::uint32_t index, char (&buffer)[128]);

}  // namespace mvx
