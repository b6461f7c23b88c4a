// The simulated bus: virtual devices on one half-duplex wire, the host's side of it (rate,
// bytes in and out with their wire timing), faults, and a record of all traffic.
//
// Timing: a byte takes 10 bit times on the wire at its rate. Host bytes go out back to back
// after the host's previous bytes; a device starts its reply 2 us per return-delay unit after
// the last byte of the packet, replies never overlap on the wire (broadcast ping answers follow
// each other in device order; two devices at one address that answer the same packet garble
// each other's reply, see SimulatedDevice.h), and every byte reaches the host the adapter's
// receive latency (1 ms unless the description says otherwise) after its last bit. With a
// broadcast spacing in the description a device answers a broadcast ping that much later per
// unit of its ID (devices that space their answers out by ID; a ping to its own ID it answers at
// once). Reads wait on the clock: on a VirtualClock they advance virtual time, on a SystemClock
// they really wait. Nothing runs in the background: devices catch up with the clock whenever the
// bus is used.
//
// Rates: a device hears the host (and the host hears a device) when the host's bit rate is
// nearest to the rate of the device's code among all codes and within 3% of it, so the integer
// rate of a code and the usual standard rates (57600 for code 34) both work.
//
// Thread safety: one mutex guards the whole bus; every public member may be called from any
// thread. Waits happen outside the mutex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "sim/BusDescription.h"
#include "sim/SimFaults.h"
#include "sim/SimTraffic.h"
#include "sim/SimulatedDevice.h"

namespace mvx {

class SimChaos;

class SimulatedBus {
public:
    // Builds the devices of `description`. The clock must outlive the bus.
    SimulatedBus(const BusDescription& description, Clock& clock);
    ~SimulatedBus();

    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    // The built-in bus: actuators of several models at code 1 (one of model 106), one at
    // return level 0, a sensor and a level-1 actuator at code 34, one actuator at code 207.
    static BusDescription defaultBus();
    // Reads a bus description file (format in BusDescription.h). On false `error` says why.
    static bool loadDescription(const std::string& path, BusDescription& description,
                                std::string& error);
    static bool parseDescription(const std::string& text, BusDescription& description,
                                 std::string& error);

    Clock& clock() { return clock_; }
    std::string adapterName() const;
    // How long after its last bit a byte reaches the host, in microseconds.
    std::int64_t receiveLatencyUs() const { return receiveLatencyUs_; }
    // How much later per unit of its ID a device answers a broadcast ping, in microseconds.
    std::int64_t broadcastSpacingUs() const { return broadcastSpacingUs_; }
    // When the host first wrote to the bus, from which device schedules count; -1 before.
    std::int64_t scheduleOriginUs() const;

    std::size_t deviceCount() const;
    SimulatedDevice& device(std::size_t index);  // in description order
    // The device answering at (code, id) now, or null.
    SimulatedDevice* find(std::uint8_t code, std::uint8_t id);

    // True when a device at `code` hears a host at `rateBps` (see Rates above).
    static bool rateMatches(std::uint32_t rateBps, std::uint8_t code);

    // --- Host side (used by the simulated driver and by a serial-port server) ---
    void setHostRate(std::uint32_t rateBps);
    std::uint32_t hostRate() const;
    // Puts bytes on the wire at `rateBps` (which becomes the host rate) from now on.
    void hostWrite(const std::uint8_t* bytes, std::size_t count, std::uint32_t rateBps);
    // Clock time at which the host's bytes written so far have all left the wire.
    std::int64_t hostWireFreeUs() const;
    // Wire time of `bytes` bytes at `rateBps` (10 bit times each), in microseconds.
    static std::int64_t wireTimeUs(std::size_t bytes, std::uint32_t rateBps);
    // Takes up to `max` bytes that have reached the host by now; never waits.
    std::size_t hostRead(std::uint8_t* out, std::size_t max);
    // Waits until `count` bytes have arrived or `timeoutUs` ran out (whichever comes first)
    // and takes what is there; the driver's read.
    std::size_t hostReadWait(std::uint8_t* out, std::size_t count, std::int64_t timeoutUs);
    // Bytes that have reached the host by now.
    std::size_t pendingBytes();
    // Clock time of the next byte arrival or device timer after now, or -1 when none.
    std::int64_t nextEventUs();
    // Discards the bytes that have reached the host (bytes still on the wire come later).
    void purgeHostInput();

    // --- Faults ---
    // Applied to every device on top of its own faults (silentAfterPackets: a device's own
    // setting wins when it is not -1).
    void setFaults(const SimFaults& faults);
    SimFaults faults() const;
    // Adapter failure: counting driver calls from now, call number `callNumber` and all later
    // ones fail with FT_IO_ERROR (1: the very next call). 0 switches the failure off.
    void failAdapterFrom(int callNumber);
    // Unplugged: the driver lists no adapter, and every call of a handle opened before fails.
    void setAdapterPlugged(bool plugged);
    bool adapterPlugged() const;
    // Frozen: the adapter is there but its port takes no bytes, as a hung adapter or a serial
    // port whose output never drains: a write waits its write timeout and returns with nothing
    // written; every other call works.
    void setAdapterFrozen(bool frozen);
    bool adapterFrozen() const;

    // Random faults (null: none). The chaos must outlive the bus or be detached first; it is
    // asked before each packet a device handles and on each driver call.
    void setChaos(SimChaos* chaos);

    // --- Traffic record (the last 100000 entries) ---
    std::vector<SimTraffic> traffic() const;
    void clearTraffic();

    // --- For the simulated driver ---
    // Counts one driver call; false when it must fail (adapter failure).
    bool adapterCall();
    // One open handle at a time; false when one is open already.
    bool claimAdapter();
    void releaseAdapter();

    // The receive latency of a bus whose description does not give one.
    static constexpr std::int64_t kUsbLatencyUs = 1000;
    // The largest broadcast spacing: ID 253 then answers 253 ms late, still within the
    // standard search's 500 ms broadcast wait.
    static constexpr std::int64_t kMaxBroadcastSpacingUs = 1000;
    static constexpr std::uint8_t kLoaderCode = 34;
    static constexpr std::int64_t kLoaderEntryDelayUs = 200000;
    static constexpr std::int64_t kLoaderGapUs = 30000;
    static constexpr std::int64_t kLoaderIdleUs = 30000000;
    static constexpr std::int64_t kPacketGapUs = 10000;
    static constexpr std::size_t kTrafficLimit = 100000;
    // The longest a device may take to answer a broadcast ping.
    static constexpr std::int64_t kBroadcastAnswersUs = 500000;

private:
    friend class SimulatedDevice;

    struct InByte {
        std::int64_t arrivalUs;
        std::uint8_t value;
    };

    void settleLocked(std::int64_t nowUs);
    std::size_t arrivedLocked(std::int64_t nowUs) const;
    std::size_t takeLocked(std::uint8_t* out, std::size_t max, std::int64_t nowUs);
    std::int64_t nextEventLocked(std::int64_t nowUs) const;
    bool loaderActiveLocked() const;
    void releaseStandbyLocked();
    void sendReplyLocked(SimulatedDevice& device, int deviceId, std::int64_t readyUs,
                         std::vector<std::uint8_t> bytes, std::uint8_t code);
    void sortDevicesLocked();
    void recordLocked(SimTraffic entry);
    // Marks the answers still on the wire (or yet to come) at the host's rate as left behind.
    void noteHostLeftLocked(std::int64_t nowUs);
    SimFaults effectiveFaultsLocked(const SimulatedDevice& device) const;
    // Whether a device other than `device`, at its address, answers `instruction` too.
    bool othersAnswerLocked(const SimulatedDevice& device, std::int64_t timeUs,
                            std::uint8_t instruction) const;

    Clock& clock_;
    mutable std::mutex mutex_;
    std::string adapterName_;
    const std::int64_t receiveLatencyUs_;
    const std::int64_t broadcastSpacingUs_;
    std::vector<std::unique_ptr<SimulatedDevice>> devices_;
    std::vector<SimulatedDevice*> byId_;  // processing order: ascending ID, then list order
    std::uint32_t hostRate_ = 9600;
    std::int64_t hostWireFreeUs_ = 0;
    std::int64_t replyWireFreeUs_ = 0;
    // When the host first wrote to the bus (-1: not yet); device schedules count from it.
    std::int64_t scheduleOriginUs_ = -1;
    std::deque<InByte> inbound_;  // sorted by arrival
    SimFaults faults_;
    int failFrom_ = 0;
    int callsSinceFail_ = 0;
    bool plugged_ = true;
    bool frozen_ = false;
    bool adapterOpen_ = false;
    std::deque<SimTraffic> traffic_;
    // Devices in their loader, kept by the devices as they enter and leave it: every byte a
    // quiet device hears asks, and counting the devices each time made a flash of N devices
    // cost about N^3.
    int devicesInLoader_ = 0;
    int loaderEntriesPending_ = 0;  // devices whose loader starts after its entry delay
    // Whether any device has a timer (a loader pending or running): without one, time alone
    // changes no device, so settling and looking for timers can skip the device list.
    bool timersPendingLocked() const;
    std::int64_t nextTimerLocked() const;  // the earliest device timer, or -1
    // hostWrite's working lists: the devices that go through the bytes one by one, those that
    // share one receiver (and which of them have left it), the start of each ID among them,
    // the shared receiver, and the devices acting on a byte that completes a packet.
    std::vector<SimulatedDevice*> writeDevices_;
    std::vector<SimulatedDevice*> plainDevices_;
    std::vector<char> plainLeft_;
    std::array<std::size_t, 257> plainFrom_{};
    std::vector<std::uint8_t> sharedRx_;
    std::vector<SimulatedDevice*> addressed_;
    std::vector<SimulatedDevice*> acting_;
    SimChaos* chaos_ = nullptr;
};

}  // namespace mvx
