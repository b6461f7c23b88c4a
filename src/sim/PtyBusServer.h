// Serves the host side of a bus on a pseudo-terminal, so that any program that talks to a
// serial port (this tool's serial backend included) can talk to the bus through the slave path.
//
// The server keeps its own descriptor of the slave open: without one, reads on the master fail
// with EIO whenever the host has the port closed. The rate the host sets on the slave is read
// back through the master (the master reports the slave's termios, custom rates included); there
// is no notification of a change, so the rate is sampled before every chunk of received bytes is
// handed to the bus and before replies are taken. A pty delivers bytes at once; replies are held
// back until the bus says they have reached the host, so the host sees wire timing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "sim/SimTraffic.h"
#include "sim/SimulatedBus.h"

namespace mvx {

// The host side of a bus as the server needs it.
class WireHost {
public:
    virtual ~WireHost() = default;
    virtual Clock& clock() = 0;
    // The rate the host listens at changed.
    virtual void setHostRate(std::uint32_t rateBps) = 0;
    // The host sent bytes at `rateBps`, from now on.
    virtual void hostWrite(const std::uint8_t* bytes, std::size_t count, std::uint32_t rateBps) = 0;
    // Bytes that have reached the host by now (never waits).
    virtual std::size_t hostRead(std::uint8_t* out, std::size_t max) = 0;
    // Clock time of the next arrival or timer, or -1 when nothing is pending.
    virtual std::int64_t nextEventUs() = 0;
};

// The simulated bus as the server's wire.
class SimulatedBusWire final : public WireHost {
public:
    explicit SimulatedBusWire(SimulatedBus& bus) : bus_(bus) {}
    Clock& clock() override { return bus_.clock(); }
    void setHostRate(std::uint32_t rateBps) override { bus_.setHostRate(rateBps); }
    void hostWrite(const std::uint8_t* bytes, std::size_t count, std::uint32_t rateBps) override {
        bus_.hostWrite(bytes, count, rateBps);
    }
    std::size_t hostRead(std::uint8_t* out, std::size_t max) override {
        return bus_.hostRead(out, max);
    }
    std::int64_t nextEventUs() override { return bus_.nextEventUs(); }

private:
    SimulatedBus& bus_;
};

// Writes a traffic record as text, one line per entry, times in microseconds from `originUs`:
//   "     1234 us  host    1000000 bps  FF FF 01 02 01 FB"
//   "     1452 us  id 1    1000000 bps  FF FF 01 02 00 FC"
// A reply the host did not hear (it listened at another rate) ends in "(not heard)".
void writeTrafficRecord(std::ostream& out, const std::vector<SimTraffic>& traffic,
                        std::int64_t originUs);

class PtyBusServer {
public:
    explicit PtyBusServer(WireHost& bus);
    ~PtyBusServer();  // closes the pty and removes the link made by start()
    PtyBusServer(const PtyBusServer&) = delete;
    PtyBusServer& operator=(const PtyBusServer&) = delete;

    // Creates the pseudo-terminal (raw, no echo) and, when `linkPath` is not empty, a symbolic
    // link to its slave there (replacing an older link, never a file). On failure returns false
    // and says why in `error`.
    bool start(const std::string& linkPath, std::string* error);

    // The slave's path, e.g. "/dev/pts/3"; empty before start().
    const std::string& slavePath() const { return slavePath_; }

    // Serves until requestStop(). Returns false if the pty failed.
    bool run();

    // Ends run(). Safe from any thread and from a signal handler.
    void requestStop();

    // The host's rate last sampled (0 before the first sample).
    std::uint32_t lastRate() const { return lastRate_.load(std::memory_order_relaxed); }

private:
    void sampleRate();
    bool flushOutbox();

    WireHost& bus_;
    int master_ = -1;
    int slave_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::string slavePath_;
    std::string linkPath_;
    std::atomic<std::uint32_t> lastRate_{0};
    std::vector<std::uint8_t> outbox_;  // replies that reached the host but the pty did not take
};

}  // namespace mvx
