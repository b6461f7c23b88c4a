// A scripted adapter driver for unit tests: no hardware, no real time.
//
//   mvx::VirtualClock clock;
//   mvx::test::ScriptedDriver driver(clock);            // one adapter, "USB2Movantrix"
//   auto link = mvx::AdapterLink::open(driver, clock, 0, 1);
//   driver.clearCalls();                                // forget the open sequence
//   driver.queueReply(mvx::test::statusBytes(1));       // FF FF 01 02 00 FC, after the next write
//   EXPECT_EQ(mvx::ping(*link, 1), 100);
//   EXPECT_EQ(driver.calls(), (std::vector<std::string>{"write(FF FF 01 02 01 FB)",
//                                                      "setTimeouts(20,0)", "read(4)", ...}));
//
// Recording: every driver and device call is logged as one string, name and decimal
// arguments: "open(0)", "resetDevice()", "setDataCharacteristics(8,0,0)",
// "setFlowControl(0,0,0)", "setTimeouts(20,0)", "setLatencyTimer(1)",
// "setUsbParameters(512,0)", "setBaudRate(57142)", "setBitMode(136,32)" (mask, mode),
// "purge(1)", "getQueueStatus()", "read(4)" (bytes asked), "write(FF FF 01 02 01 FB)"
// (bytes given, hex), "close()", "listNumber()", "listDescription(0)".
//
// Receive side: bytes queued with queueRx()/queueReply() become readable once the given
// number of further writes happened, so a reply follows its request. A responder, when set,
// is called with every write's bytes and may return bytes that become readable at once. A
// read takes what is readable; when it comes up short the virtual clock advances by the
// read timeout last set with setTimeouts (so tests can check the timeout in virtual time).
// Purge(RX) drops the readable bytes (not those still waiting for their write).
//
// Statuses: failNext("setBaudRate", FT_IO_ERROR, 2) makes the 2nd next setBaudRate call
// return FT_IO_ERROR (once); failAlways(name, status) makes every such call fail until
// clearFailures(). A scripted status on read or write does not stop the bytes moving, so a
// non-IO_ERROR status with a full count can be tested; limitNextWrite(n) cuts one write short.
// A failing "open" hands out no device.
//
// Adapters: setAdapters({"A", "B"}) sets the list; listNumber and listDescription serve it,
// open(index) fails with FT_DEVICE_NOT_FOUND past its end. Thread-safe throughout. The
// driver must outlive every link opened on it (declare it first).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "support/Bytes.h"

namespace mvx::test {

class ScriptedDriver final : public FtDriver {
public:
    explicit ScriptedDriver(VirtualClock& clock);
    ~ScriptedDriver() override;

    // --- scripting -----------------------------------------------------------------------
    void setAdapters(std::vector<std::string> descriptions);
    // Bytes that become readable after `afterWrites` more writes (0: readable now).
    void queueRx(const Bytes& bytes, int afterWrites = 0);
    // The reply to the next request: readable after the next write.
    void queueReply(const Bytes& bytes) { queueRx(bytes, 1); }
    // Called with every write's bytes (under the driver's lock: do not call back into the
    // driver); what it returns becomes readable at once.
    void setResponder(std::function<Bytes(const Bytes& written)> responder);
    void failNext(const std::string& call, FtStatus status, int nth = 1);
    void failAlways(const std::string& call, FtStatus status);
    void clearFailures();
    // The next write moves at most `count` bytes.
    void limitNextWrite(std::uint32_t count);

    // --- inspection ----------------------------------------------------------------------
    std::vector<std::string> calls() const;
    // Only the calls with this name ("setBaudRate"), in order.
    std::vector<std::string> calls(const std::string& name) const;
    int count(const std::string& name) const;
    void clearCalls();
    // The bytes of every write so far, in order, and of the last one.
    std::vector<Bytes> writes() const;
    Bytes lastWrite() const;
    // Bytes readable now.
    std::size_t rxReadable() const;
    // Devices handed out by open() and not yet closed.
    int openDevices() const;

    // --- FtDriver ------------------------------------------------------------------------
    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

private:
    class Device;
    friend class Device;

    struct Pending {
        Bytes bytes;
        std::uint64_t readyAfterWrites;
    };
    struct Failure {
        FtStatus status;
        int remaining;  // calls to let pass first; -1 for "always"
    };

    // All below run with mutex_ held.
    FtStatus record(const std::string& name, const std::string& text);
    void releasePending();

    VirtualClock& clock_;
    mutable std::mutex mutex_;
    std::vector<std::string> descriptions_{"USB2Movantrix"};
    std::vector<std::string> calls_;
    std::vector<Bytes> writes_;
    std::deque<std::uint8_t> rx_;
    std::vector<Pending> pending_;
    std::function<Bytes(const Bytes&)> responder_;
    std::multimap<std::string, Failure> failures_;
    std::uint64_t writeCount_ = 0;
    std::uint32_t readTimeoutMs_ = 0;
    std::int64_t writeLimit_ = -1;
    int openDevices_ = 0;
};

}  // namespace mvx::test
