// The one place where the application keeps its open adapter: opens and closes it, tunes it
// to a device's baud-rate code before every exchange, and judges writes by return level. One
// thread at a time uses it for an operation (its tune, exchanges and waits): the command line's
// one thread, or the desktop program's bus executor.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"
#include "link/AdapterLink.h"

namespace mvx {

class BusConnection {
public:
    BusConnection(FtDriver& driver, Clock& clock);
    ~BusConnection();  // closes the link

    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    // Opens adapter `index` at code 1 and makes it the current link.
    bool open(std::uint32_t index);
    // The tap every link opened from now on gets (AdapterLink::open); null for none. The tap
    // must outlive the links; a link already open keeps what it had.
    void setTap(LinkTap* tap);
    // Closes the current link; harmless when none is open.
    void close();
    bool isOpen() const;

    // What the open adapter could not be set up for (AdapterLink::limitations); empty when
    // none is open or everything took effect.
    std::vector<std::string> adapterLimitations() const;

    int adapterCount();
    // Adapter description as display text (UTF-8). On false `name` is left untouched.
    bool adapterName(std::uint32_t index, std::string& name);

    // Makes the current link run at `code`: 100, or 101 with no link or a failed change.
    int tune(std::uint8_t code);

    // The current link, or null. Callers keep the returned pointer for one operation, so a
    // concurrent close cannot pull the link from under a running transaction.
    std::shared_ptr<AdapterLink> link() const;

    FtDriver& driver() { return driver_; }
    Clock& clock() { return clock_; }

private:
    FtDriver& driver_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::shared_ptr<AdapterLink> link_;
    LinkTap* tap_ = nullptr;
};

// Record rule (servo record setters): 100 is success; 103 is success when the device's
// return level is not 2; anything else is returned. Yields 100 or the failure.
int judgeByRecordRule(int result, int returnLevel);
// Entry rule (return delay and return level writes): 100 succeeds; 103 and 104 succeed when
// the level is not 2; anything else (101, 102, 105, ...) fails at every level. Yields 100 or
// the failure.
int judgeByEntryRule(int result, int returnLevel);

}  // namespace mvx
