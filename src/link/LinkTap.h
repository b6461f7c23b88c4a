// An optional listener on an AdapterLink: it is told every byte written and read and every
// link event (rate change, purge, settling wait, bit mode), and the packet layer tells it how
// a reply it waited for failed. The bus log (src/buslog) is one.
//
// A link is given its tap when it is opened and keeps it for its life; without one the link
// pays a pointer test per call. The tap is called on the thread that uses the link (the
// command line's thread, the desktop program's bus executor), after the driver call returned;
// it must not call back into the link.
#pragma once

#include <cstdint>

namespace mvx {

struct LinkEvent {
    enum class Kind : std::uint8_t {
        RateChange,  // `code` is the new baud-rate code
        Purge,       // the receive buffer was discarded
        SettleWait,  // the link waits `waitUs` microseconds for the adapter to settle
        BitMode,     // CBUS3 driven high (`on`) or low
    };
    Kind kind = Kind::Purge;
    int code = -1;
    std::int64_t waitUs = 0;
    bool on = false;
};

class LinkTap {
public:
    virtual ~LinkTap() = default;
    // `written` of the `count` bytes at `bytes` went out at baud-rate code `code`.
    virtual void wrote(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t written,
                       int code) = 0;
    // A read of `asked` bytes handed back `received` bytes at `bytes`.
    virtual void read(const std::uint8_t* bytes, std::uint32_t received, std::uint32_t asked,
                      int code) = 0;
    virtual void linkEvent(const LinkEvent& event) = 0;
    // The reply the packet layer was receiving failed with `result` (103 Timeout: nothing
    // came; 104 CorruptReply: a partial, malformed or wrongly summed packet).
    virtual void replyFailed(int result, int code) = 0;
};

}  // namespace mvx
