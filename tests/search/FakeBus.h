// A small in-process bus for the engine tests: an FtDriver whose one adapter is wired to a
// few virtual devices that answer ping, read, write, keyed write and instruction 7 at their
// own baud-rate code, and whose loader takes an image at 57142 bps. Every write the host
// makes is logged with the virtual time and the bit rate in force.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drivers/Clock.h"
#include "drivers/FtDriver.h"

namespace mvx::test {

struct FakeDevice {
    int code = 1;
    int id = 1;
    int returnLevel = 2;  // register 16
    bool silent = false;  // answers nothing at all
    // Loader behaviour: "Success" from this attempt on (0: never); a keyed write of 254 to
    // register 45 is refused (read back as 0) when `refuseLoader` is set.
    int successOnAttempt = 1;
    bool refuseLoader = false;
    int versionAfterUpdate = 0;  // firmware version after a successful image, 0: unchanged
    std::array<std::uint8_t, 256> regs{};

    // Loader state, filled by the bus.
    bool armed = false;
    int stage = 0;  // 0 idle, 1 after 0x0D, 2 receiving, 3 accepted
    int attempts = 0;
    std::int64_t lastByteUs = 0;
    std::vector<std::uint8_t> image;
    std::vector<std::vector<std::uint8_t>> images;  // every image received, in order
    int instruction7Count = 0;

    int model() const { return regs[0] | regs[1] << 8; }
    int version() const { return regs[2]; }
};

// A device of `model` at (code, id) with firmware `version` and return level `level`.
FakeDevice makeDevice(int code, int id, int model, int version = 1, int level = 2);

struct WireWrite {
    std::int64_t timeUs;
    std::uint32_t rate;
    std::vector<std::uint8_t> bytes;
};

class FakeBus : public FtDriver {
public:
    explicit FakeBus(VirtualClock& clock) : clock_(clock) {}

    std::vector<FakeDevice> devices;
    std::vector<WireWrite> log;
    // When set, consulted before every driver call of the open adapter (by name, e.g.
    // "setBaudRate", "read", "write"); returning true makes the call fail.
    std::function<bool(const std::string& call)> fail;
    // Bytes that arrive after every broadcast ping at this rate, before the answers (noise,
    // collided packets).
    std::uint32_t noiseRate = 0;
    std::vector<std::uint8_t> noise;

    FakeDevice* device(int code, int id);
    // Writes at `rate` (0: any) whose first byte is `first` (-1: any).
    std::vector<WireWrite> writesAt(std::uint32_t rate, int first = -1) const;
    int setBaudCalls = 0;

    FtStatus listNumber(std::uint32_t* count) override;
    FtStatus listDescription(std::uint32_t index, char* buffer, std::size_t size) override;
    FtStatus open(std::uint32_t index, FtHandle* handle) override;

private:
    friend class FakeAdapter;
    bool failing(const std::string& call) { return fail && fail(call); }
    void hostWrote(const std::uint8_t* bytes, std::uint32_t count);
    void packet(const std::vector<std::uint8_t>& bytes);
    void answer(const FakeDevice& device, std::uint8_t error,
                const std::vector<std::uint8_t>& data);
    void judgeLoaders();
    void judge(FakeDevice& device);
    bool atRate(const FakeDevice& device) const;

    VirtualClock& clock_;
    std::mutex mutex_;
    std::uint32_t rate_ = 0;
    std::uint32_t readTimeoutMs_ = 0;
    std::vector<std::uint8_t> rx_;
};

}  // namespace mvx::test
