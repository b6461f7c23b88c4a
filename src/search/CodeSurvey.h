// The one look at the bus code by code that the fast search and the robot flows share: the
// broadcast ping at a code and who answers it, and the walk over IDs 0-253.
//
// Sure by default. Nothing in the protocol bounds how long the devices take to answer one
// broadcast between them but the 500 ms they are given: a code counts as silent only once the
// host has listened that long after its broadcast, and where anything was heard, until the line
// has been quiet for a whole answer (bounded, so that a line that never goes quiet ends the
// look, which is then not sure). No packet and no rate change goes out before that, so nothing
// is sent over an answer and no answer is left behind at a rate the host has left.
//
// The quick look waits at a silent code only until the first byte of an answer would have
// reached the host (FastSearchTiming); it is not sure: a device that answers later than that
// is missed, and its answer may meet the host's next packet on the wire.
//
// The walk pings every ID one reply window after the one before, hears whatever comes meanwhile
// and credits each ping reply to its ID, however late it comes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "search/FastSearchTiming.h"

namespace mvx {

class AdapterLink;

// What the broadcast at one code heard.
struct BroadcastHeard {
    bool heard = false;             // any byte came back, a broken one too
    bool sure = false;              // the host listened as long as answers could come
    std::array<int, 254> counts{};  // clean answers per ID (more than one: two devices)
    bool broken = false;            // bytes that were not a well-formed answer
    int bytes = 0;                  // every byte that came back
    // The IDs (0-253) that the headers of broken or cut-off answers named: someone answered
    // there, though not cleanly.
    std::vector<int> named;
};

// What a walk over the IDs heard.
struct WalkHeard {
    bool complete = false;                   // every ID was pinged
    int sendFailure = 100;                   // the first ping write that failed (100: none)
    std::array<std::int64_t, 254> sentUs{};  // when each ID's ping was written, -1 if it was not
    std::array<int, 254> counts{};           // clean ping replies per ID
    std::vector<std::int64_t> brokenAtUs;    // when bytes turned out broken
};

// How many answers a walk leaves room for after each ID's ping (0 or 1: one). Several devices
// at one address answer one after the other, and a ping sent after the first would go out
// over the next.
using AnswerRoom = std::array<int, 254>;

class CodeSurvey {
public:
    using Stopped = std::function<bool()>;

    static constexpr int kIds = 254;  // IDs 0-253
    // The time the devices get to answer a broadcast ping.
    static constexpr std::int64_t kBroadcastAnswersUs = 500000;
    // After it, how long a line may go on babbling before the look gives up on its quiet.
    static constexpr std::int64_t kQuietBoundUs = 500000;

    // The timing starts from the adapter's receive latency as the link knows it.
    explicit CodeSurvey(AdapterLink& link);
    // With a timing that outlives the survey (one per run of looks over several links).
    CodeSurvey(AdapterLink& link, FastSearchTiming& timing);

    FastSearchTiming& timing() { return timing_; }

    // Sets the link to `code` with the short settle (one byte time and 0.1 ms). 100 or 101.
    int tune(int code);
    // The broadcast ping at `code` (the link already there) and its answers, as the look says:
    // sure, or with `quickLook` the short wait at a silent code. `makingSure` (may be empty) is
    // called when nothing has come within the short wait and the sure look listens on; a stop
    // ends the wait for a quiet line. 100, 101, or 102 when the ping could not be written.
    int broadcast(int code, bool quickLook, const Stopped& stopped,
                  const std::function<void()>& makingSure, BroadcastHeard& out);
    // Pings IDs 0-253 at `code` (the link already there), one reply window apart, then waits
    // for the replies still on their way. `beforePing(id)` (may be empty) is called before each
    // ping and `stopped` (may be empty) looked at; a stop ends the pings. A ping that could not
    // be written is noted in `out.sendFailure` and the walk goes on. `room` (may be null: one
    // answer each) widens the reply window of IDs where several may answer. 100 or 101.
    int walk(int code, const Stopped& stopped, const std::function<void(int id)>& beforePing,
             WalkHeard& out, const AnswerRoom* room = nullptr);
    // Listens until the line at `code` has been quiet for a whole read reply of
    // `replyBytes` (bounded by kQuietBoundUs), then drops what came: after an exchange that
    // went wrong, the rest of an answer may still be on the wire. 100 when the line went quiet,
    // 103 at the bound or on a stop, 101.
    int quietLine(int code, int replyBytes, const Stopped& stopped);

private:
    AdapterLink& link_;
    FastSearchTiming own_;
    FastSearchTiming& timing_;
};

}  // namespace mvx
