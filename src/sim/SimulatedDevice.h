// One virtual device on the simulated bus: its control table, its packet handling, its
// firmware loader and its live behaviour (movement toward the goal, present speed and load,
// temperature).
//
// Behaviour as the host sees it:
// - Hears and answers only at its own baud-rate code (register 4); bytes at other rates are
//   noise to it and dropped.
// - Ping, Read, Write (any number of data bytes to writable registers), instruction 7 and
//   KeyedWrite (13: address, value, the four key bytes). A keyed write is never answered; one
//   with a wrong key or a wrong length is ignored.
// - A packet with a bad checksum is answered with the checksum error bit (and no data) when
//   the return level would answer that instruction; unknown instructions and malformed
//   parameters get the instruction error bit.
// - Writes to read-only or reserved registers get the instruction error bit, out-of-range
//   values the range error bit; in both cases nothing is written.
// - Writing goal position or moving speed switches the torque on.
// - With torque on, present position moves toward the goal at the moving speed (0: the
//   model's top speed, 1023); present speed and load follow the motion and carry its
//   direction. Present temperature follows the load slowly (40 degrees above the start-up
//   temperature at full load, time constant two minutes) and falls back toward it; a value
//   stored from outside is taken as the new present temperature.
// - Return level 0 answers Ping only, level 1 Ping and Read, level 2 everything; writes take
//   effect at every level. The reply starts 2 us per return-delay unit after the packet (an
//   answer to a broadcast ping later still by the bus's broadcast spacing per unit of its ID).
// - Writing the ID or the baud rate moves the device after its reply.
// - Firmware loader: a keyed write of 255 to register 250 arms it; a keyed write of 254 to
//   register 45 then enters the loader 200 ms later (the read-back of register 45 is still
//   answered normally). The loader listens at code 34: 0x0D, 0x4C, then the image and its
//   checksum byte (plain sum mod 256). The image ends when the host stops sending for 30 ms;
//   the last byte received is the checksum. A right checksum is answered with the seven bytes
//   "Success", a wrong one with nothing. 0x41, 0x47 leave the loader. After a successful image,
//   instruction 7 restarts the device at code 1 (model 12) or 34 (other models) with the new
//   firmware version in register 2 (taken from the image's signature, see
//   FirmwareFileWriter.h; an image without it keeps the version).
// - A keyed write of 10 to register 45 puts a device on stand-by: while any device of the bus
//   is in its loader it hears nothing; when that loader is left (0x41, 0x47) it clears
//   register 45 and hears the host again.
// - A loader that hears nothing for 30 s gives up and returns to normal operation (old
//   firmware unless an image was accepted), so an abandoned download does not hang the bus.
// - Packet bytes more than 10 ms apart do not belong to one packet: a fragment is dropped.
// - A device with a schedule (appearAtUs, disappearAtUs) hears and answers nothing while it is
//   not connected; replies already on the wire when it goes still arrive.
// - Two devices at one address that both answer a packet addressed to it drive the line at
//   once: each reply reaches the host with a broken checksum. (A broadcast ping's answers
//   follow one another and stay whole.)
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/BusDescription.h"
#include "sim/SimFaults.h"

namespace mvx {

class SimulatedBus;

enum class SimDeviceMode {
    Normal,  // answers packets at its own code
    Quiet,   // on stand-by while another device's loader runs
    Loader,  // in its firmware loader at code 34
};

class SimulatedDevice {
public:
    // Register access for tests and tools; the live registers are brought up to the clock's
    // present time first. Addresses 0-49 and 250 exist; others read as 0.
    std::uint8_t reg(int address);
    int reg16(int address);  // little-endian word at address, address + 1
    // Raw stores without checks or side effects (for tests: voltage, temperature, ...).
    void setReg(int address, int value);
    void setReg16(int address, int value);

    std::uint8_t id();
    std::uint8_t code();  // the code the device answers at (its loader listens at 34)
    std::uint16_t model();
    SimDeviceMode mode();
    // Whether the device is connected now (see its schedule).
    bool present();

    void setFaults(const SimFaults& faults);
    SimFaults faults();
    int packetsHeard();  // packets addressed to it (or broadcast) that it handled

    // The plausible start-up control table of a device (0-255; only 0-49 and 250 used).
    static std::array<std::uint8_t, 256> defaultTable(const SimDeviceSpec& deviceSpec);
    // Largest position of a model: 4095 for model 106, else 1023.
    static int maxPosition(std::uint16_t model);

    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

private:
    friend class SimulatedBus;
    SimulatedDevice(SimulatedBus& bus, const SimDeviceSpec& deviceSpec);

    enum class LoaderState { WaitCr, WaitL, Receiving, WaitG };
    static constexpr int kLoaderArmAddress = 250;
    static constexpr int kLoaderAddress = 45;

    // Everything below runs with the bus mutex held.
    int regWord(int address) const;
    void storeWord(int address, int value);
    std::uint8_t listenCode() const;
    bool quietLocked() const;
    void settleLocked(std::int64_t nowUs);
    std::int64_t nextTimerLocked() const;  // -1: none
    void hearByte(std::int64_t timeUs, std::uint8_t value);
    // Adds one byte to a packet receiver (`rx`, with the time of its last byte); true when
    // `rx` then holds a whole packet, which the caller handles and clears.
    static bool framePacketByte(std::vector<std::uint8_t>& rx, std::int64_t& lastRxUs,
                                std::int64_t timeUs, std::uint8_t value);
    // True when the device would frame the next bytes at its rate exactly as any other device
    // in the same state: no fragment or timer pending, not in its loader, not told to stand by
    // when a loader may run (then it may turn quiet), and no deafness fault counting packets.
    bool framesLikeAnyOtherLocked(bool loaderMayRun) const;
    bool standbyLocked() const;  // told to stand by (it is quiet while a loader runs)
    bool scheduledLocked() const { return appearAtUs_ > 0 || disappearAtUs_ >= 0; }
    bool presentLocked(std::int64_t timeUs) const;
    // Whether the device hears the host now and would answer `instruction` addressed to it.
    bool answersLocked(std::int64_t timeUs, std::uint8_t instruction) const;
    void handlePacket(std::int64_t timeUs, const std::vector<std::uint8_t>& packet);
    void hearLoaderByte(std::int64_t timeUs, std::uint8_t value);
    void finishImage(std::int64_t timeUs);
    void echo(std::int64_t timeUs, std::uint8_t value);
    void loaderAnswer(std::int64_t readyUs);
    void leaveLoader();
    std::uint8_t statusErrors() const;
    std::uint8_t applyWrite(int address, const std::uint8_t* data, int count);
    void applyKeyedWrite(std::int64_t timeUs, int address, int value);
    void advance(std::int64_t timeUs);
    // Present temperature over `dt` seconds: toward ambient plus a rise with the present load.
    void warm(double dt);
    // `corrupt`: the checksum goes out inverted.
    void reply(std::int64_t readyUs, std::uint8_t id, std::uint8_t error, const std::uint8_t* data,
               int count, std::uint8_t code, bool corrupt = false);

    SimulatedBus& bus_;
    std::uint16_t model_;
    int maxPosition_;
    std::array<std::uint8_t, 256> table_{};
    SimFaults faults_;
    // Connected from appearAtUs_ until disappearAtUs_ (-1: for good), from the host's first
    // write to the bus.
    std::int64_t appearAtUs_ = 0;
    std::int64_t disappearAtUs_ = -1;
    // Set while a packet that another device at this address answers too is handled.
    bool collides_ = false;
    // The packet being answered: when it ended on the wire and whether it was a broadcast.
    std::int64_t packetEndUs_ = -1;
    bool packetBroadcast_ = false;
    int packetsHeard_ = 0;
    int readsAnswered_ = 0;
    int imagesRejected_ = 0;

    // Packet receiver.
    std::vector<std::uint8_t> rx_;
    std::int64_t lastRxUs_ = -1;
    std::size_t busOrder_ = 0;  // position in the bus's processing order during a host write

    // Firmware loader.
    bool inLoader_ = false;
    std::int64_t loaderStartUs_ = -1;  // pending entry into the loader
    LoaderState loaderState_ = LoaderState::WaitCr;
    std::vector<std::uint8_t> image_;
    std::int64_t lastLoaderByteUs_ = -1;
    bool imageReady_ = false;  // a checked image waits for instruction 7
    int newVersion_ = -1;

    // Live state.
    std::int64_t physicsUs_ = 0;
    double position_ = 0.0;
    bool angleLimitError_ = false;
    static constexpr double kFullLoadRise = 40.0;           // degrees above ambient at load 1023
    static constexpr double kThermalTimeConstantS = 120.0;  // seconds
    double ambientTemperature_ = 0.0;                       // the start-up temperature
    double temperature_ = 0.0;
    std::uint8_t shownTemperature_ = 0;  // what register 43 was last set to
};

}  // namespace mvx
