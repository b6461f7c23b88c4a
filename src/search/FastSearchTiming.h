// The waits of the fast search, from the wire and the adapter rather than fixed pauses.
//
// Wire: a request's longest reply is over on the wire once the request has gone out, the
// device's return delay has passed (at most 255 units of 2 us) and the reply itself has gone
// out. Wire times here are those of 10.5 bits a byte (5 % over the 10 bits a byte takes), at
// the code's rate, from the return of the write.
//
// Adapter: a byte reaches the host up to the adapter's receive latency after its last bit.
// The latency is the one the driver knows (libftdi's latency timer, a ttyUSB's timer read back,
// the simulated adapter's); where it cannot be known, 16 ms (a USB serial chip's default
// timer) is assumed until enough replies have been timed. Every reply that is timed is a
// sample: how much later than its wire time it reached the host. Where the latency is
// unknown, the allowance then follows the slowest sample (1.5 times it, plus 2 ms); where it is
// known, a sample beyond the allowance (a late reply) raises it the same way. Apart from the
// step from the assumption to the samples, the allowance only grows during a search.
#pragma once

#include <cstdint>

namespace mvx {

class FastSearchTiming {
public:
    // `knownLatencyUs`: the adapter's receive latency, -1 when unknown.
    explicit FastSearchTiming(std::int64_t knownLatencyUs);

    static constexpr std::int64_t kMaxReturnDelayUs = 510;
    static constexpr std::int64_t kAssumedLatencyUs = 16000;
    static constexpr std::int64_t kLatencyMarginUs = 1000;
    static constexpr int kSamplesToTrust = 8;

    // Wire time of `bytes` bytes at `code` with the 5 % margin, rounded up.
    static std::int64_t wireUs(int bytes, int code);
    // Wire time of `bytes` bytes of 10 bits at `code`, rounded down: what they take at least.
    static std::int64_t leastWireUs(int bytes, int code);
    // Pause after a rate change: one byte time of idle line at the new rate and 100 us.
    static std::int64_t settleUs(int code);
    // From the return of the write of a request of `requestBytes`, until its longest reply
    // (`replyBytes`) is over on the wire; the next request goes out after it.
    static std::int64_t replyWindowUs(int requestBytes, int replyBytes, int code);
    // From the return of the write of a request of `requestBytes`, until the first byte of any
    // reply is over on the wire (what a broadcast waits for besides the latency).
    static std::int64_t firstByteWindowUs(int requestBytes, int code);

    // How late after its last bit a byte may still reach the host.
    std::int64_t latencyAllowanceUs() const;
    // A reply of `replyBytes` to a request of `requestBytes` written at `sentUs` was complete
    // at the host at `arrivedUs`.
    void observe(std::int64_t sentUs, std::int64_t arrivedUs, int requestBytes, int replyBytes,
                 int code);

private:
    std::int64_t baseUs() const;
    std::int64_t learnedUs() const;

    std::int64_t knownLatencyUs_;
    std::int64_t slowestUs_ = -1;  // the largest sample, -1 before the first
    int samples_ = 0;
    bool raised_ = false;  // a known latency was exceeded
};

}  // namespace mvx
