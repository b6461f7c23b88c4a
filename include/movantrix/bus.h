// The bus: an adapter opened from a port text exactly as movantrix-cli --port takes it, and
// what works on the whole bus (searches, backups and restores, the robot flows, telemetry).
//
// Threads: a Bus and its Devices may be used from any thread, one call at a time (calls made
// at once wait for each other). A long call runs the work on a thread of its own and waits on
// the calling thread, where it calls the progress and event callbacks and asks the Stop.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "movantrix/device.h"
#include "movantrix/export.h"
#include "movantrix/types.h"

namespace movantrix {

struct OpenOptions {
    // The simulated bus ("sim", "sim:FILE") on a virtual clock: every pause of the protocol
    // takes no time. Ignored for real adapters.
    bool virtualTime = false;
};

struct ScanResult {
    std::vector<Device> devices{};   // in the order of the standard search
    bool sure = true;                // every code searched was heard for as long as answers come
    std::vector<int> unsureCodes{};  // the codes it did not make sure of, ascending
    bool stopped = false;

    auto begin() const { return devices.begin(); }
    auto end() const { return devices.end(); }
    std::size_t size() const { return devices.size(); }
    const Device& operator[](std::size_t i) const { return devices[i]; }
};

// Samples of one device at a steady rate, taken when asked for (pull): next() waits for the
// next period of the schedule, reads the status block and returns the sample. Gaps (failed
// reads) come as samples with ok false; five in a row end the watch with NoAnswer, a lost
// adapter with AdapterLost. Holds the bus while in use; destroy it (or let it end) to free it.
class MOVANTRIX_API Watch {
public:
    Watch(Watch&&) noexcept;
    Watch& operator=(Watch&&) noexcept;
    ~Watch();

    // The next sample, or nothing when the duration is over or stop() was called. Throws the
    // BusError that ended the watch.
    std::optional<Sample> next();
    // As next(), but waits at most `timeout` for the sample to fall due: nothing then with
    // ended() false. Lets a caller look at other things (a Ctrl+C) in between.
    std::optional<Sample> next(std::chrono::microseconds timeout);
    bool ended() const;
    void stop();

    class iterator;
    iterator begin();
    iterator end();

private:
    friend class Bus;
    class Impl;
    explicit Watch(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class MOVANTRIX_API Watch::iterator {
public:
    using value_type = Sample;
    using difference_type = std::ptrdiff_t;
    iterator() = default;
    const Sample& operator*() const { return *current_; }
    const Sample* operator->() const { return &*current_; }
    iterator& operator++();
    void operator++(int) { ++*this; }
    bool operator==(const iterator& other) const {
        return current_.has_value() == other.current_.has_value();
    }

private:
    friend class Watch;
    explicit iterator(Watch* watch);
    Watch* watch_ = nullptr;
    std::optional<Sample> current_;
};

class MOVANTRIX_API Bus {
public:
    Bus(Bus&&) noexcept;
    Bus& operator=(Bus&&) noexcept;
    ~Bus();  // closes the adapter

    // Closes the adapter; Devices of this bus then throw AdapterLost. Idempotent.
    void close();
    bool isOpen() const;
    // The port as given to open().
    const std::string& port() const;

    // Searches the bus. The registry of found devices is this search's result.
    ScanResult scan(const ScanOptions& options = {});
    // The device at (code, id), identity read; NoAnswer when nothing answers there.
    Device device(int code, int id);

    // Saves `device`'s settings to the settings file `path` (replaced only once complete).
    void backup(const Device& device, const std::string& path);
    // Writes a settings file's differences onto devices (movantrix-cli restore).
    RestoreReport restore(const std::string& path, const RestoreOptions& options = {});

    // Gives new actuators the IDs `ids` at baud-rate code `baud`, one after the other as they
    // are connected (movantrix-cli assign).
    AssignReport assign(const std::vector<int>& ids, int baud, const AssignOptions& options = {});

    // The robot profile flows (movantrix-cli profile): save the bus to a profile file, check
    // the bus against one, apply its settings, let a replacement adopt a missing joint.
    std::vector<ProfileDevice> profileSave(const std::string& path,
                                           const ProfileOptions& options = {});
    std::vector<CheckRow> profileCheck(const std::string& path, const ProfileOptions& options = {});
    std::vector<ApplyRow> profileApply(const std::string& path, const ProfileOptions& options = {});
    AdoptReport profileAdopt(const std::string& path, const ProfileOptions& options = {});

    // Status samples of `device` at `rateHz` (at most 1000) for `durationS` seconds (0: until
    // stopped). `names`: register names of the status block; empty: all of them.
    Watch watch(const Device& device, const std::vector<std::string>& names = {},
                double rateHz = 50.0, double durationS = 0.0);
    // The same, pushed: `sink` gets every sample on the calling thread until the duration is
    // over or `stop` says so.
    void watch(const Device& device, const std::vector<std::string>& names, double rateHz,
               double durationS, const std::function<void(const Sample&)>& sink,
               const Stop& stop = {});

private:
    friend class detail::BusState;
    friend MOVANTRIX_API Bus open(const std::string& port, const OpenOptions& options);
    explicit Bus(std::shared_ptr<detail::BusState> state);
    std::shared_ptr<detail::BusState> state_;
};

// Opens `port`: "0", "1", ... (an adapter of movantrix-cli ports), a serial device path
// ("/dev/ttyUSB0", or "ttyUSB0" for /dev/ttyUSB0), "sim" (the built-in simulated bus) or
// "sim:FILE" (a bus description). std::invalid_argument for a malformed port text or bus
// description; AdapterLost when the adapter cannot be opened.
MOVANTRIX_API Bus open(const std::string& port, const OpenOptions& options = {});

// The register names read() knows for an actuator, in address order, and those write() takes.
MOVANTRIX_API std::vector<std::string> readableRegisters();
MOVANTRIX_API std::vector<std::string> writableRegisters();

// The library's version, "0.1.0".
MOVANTRIX_API const char* version();

}  // namespace movantrix
