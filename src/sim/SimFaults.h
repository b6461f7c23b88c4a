// Faults that tests switch on for one simulated device or for the whole bus.
#pragma once

#include <cstdint>
#include <string>

namespace mvx {

struct SimFaults {
    bool dropReply = false;         // replies are not sent at all
    bool corruptChecksum = false;   // the checksum byte of each reply is inverted
    bool truncateReply = false;     // only the first half of each reply goes out
    int noiseBytes = 0;             // this many garbage bytes (0x55) precede each reply
    std::int64_t extraDelayUs = 0;  // extra wait before each reply (e.g. past the read timeout);
                                    // later replies of other devices do not wait for it
    int silentAfterPackets = -1;    // after this many packets heard the device goes deaf and
                                    // mute (-1: never); counted per device
    int answerReads = -1;           // reads answered before the device stops answering reads
                                    // (-1: all); counted per device
    int corruptReads = 0;           // the first this many read replies go out with their checksum
                                    // inverted; counted per device
    bool ignoreWrites = false;      // writes and keyed writes change nothing (replies as usual)
    std::uint8_t errorBits = 0;     // set in the error byte of every status packet
    int rejectImages = 0;           // the loader stays silent on this many right images before
                                    // it accepts one; counted per device
    // The loader's side of the dialogue, for the host's judgement of its answer:
    std::string loaderReply{};          // answers an accepted image with these bytes instead of
                                        // "Success" (empty: "Success")
    bool loaderEcho = false;            // echoes the two bytes that open an attempt (0D, 4C)
    int loaderReplySplit = 0;           // the answer goes out in two parts: this many bytes at
                                        // once (0: whole) ...
    std::int64_t loaderSplitGapUs = 0;  // ... and the rest this long after the first part
};

}  // namespace mvx
