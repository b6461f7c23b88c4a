// An FTDI adapter reached through its kernel tty: the CBUS3 output goes to the GPIO chip the
// kernel offers for the CBUS pins and the latency timer to the driver's sysfs attribute; what
// does not take effect is reported, and the port still opens. Other serial ports have neither.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "drivers/SerialPort.h"
#include "drivers/SerialTestPty.h"

namespace mvx {
namespace {

namespace fs = std::filesystem;

// The pins the port asked for, and what each drive() answers.
struct PinsLog {
    std::vector<std::string> chips;  // one per CbusPins made
    std::vector<int> masks;          // one per drive()
    int released = 0;
    std::string answer;
};

class RecordingPins final : public CbusPins {
public:
    explicit RecordingPins(PinsLog& log) : log_(log) {}
    ~RecordingPins() override { ++log_.released; }
    std::string drive(std::uint8_t mask) override {
        log_.masks.push_back(mask);
        return log_.answer;
    }

private:
    PinsLog& log_;
};

// A pty whose sysfs entry (in a temporary directory) looks like a USB serial port.
class SerialPortLimitsTest : public ::testing::Test {
protected:
    SerialPortLimitsTest()
        : root_(fs::temp_directory_path() / ("mvx-limits-" + std::to_string(getpid()))),
          name_(fs::path(pty_.slavePath()).filename().string()),
          interface_(root_ / "sys/devices/usb1/1-1/1-1:1.0") {
        fs::remove_all(root_);
        fs::create_directories(interface_ / "ttyUSB0");
        fs::create_directories(root_ / "sys/class/tty" / name_);
        fs::create_symlink(interface_ / "ttyUSB0", root_ / "sys/class/tty" / name_ / "device");
        options_.sysRoot = (root_ / "sys").string();
        options_.devRoot = (root_ / "dev").string();
        options_.cbusPins = [this](const std::string& chip) {
            log_.chips.push_back(chip);
            return std::make_unique<RecordingPins>(log_);
        };
    }
    ~SerialPortLimitsTest() override { fs::remove_all(root_); }

    void boundTo(const std::string& driver) {
        fs::create_directories(root_ / "sys/bus/usb-serial/drivers" / driver);
        fs::create_symlink(root_ / "sys/bus/usb-serial/drivers" / driver,
                           interface_ / "ttyUSB0/driver");
    }
    void gpioChip() { fs::create_directories(interface_ / "gpiochip7"); }
    fs::path latencyTimer() const { return interface_ / "ttyUSB0/latency_timer"; }

    // Opens the port and runs the two calls of the adapter's opening sequence.
    std::vector<std::string> openAndConfigure() {
        EXPECT_EQ(SerialPort::open(pty_.slavePath(), &port_, options_), FT_OK);
        EXPECT_EQ(port_->setLatencyTimer(1), FT_OK);
        EXPECT_EQ(port_->setBitMode(0x88, FT_BITMODE_CBUS_BITBANG), FT_OK);
        return port_->limitations();
    }

    test::TestPty pty_;
    fs::path root_;
    std::string name_;
    fs::path interface_;
    SerialPortOptions options_;
    PinsLog log_;
    FtHandle port_;
};

TEST_F(SerialPortLimitsTest, OtherSerialPortsHaveNothingToSetAndNothingToReport) {
    boundTo("pl2303");
    std::ofstream(latencyTimer()) << "16\n";
    gpioChip();
    EXPECT_TRUE(openAndConfigure().empty());
    EXPECT_TRUE(log_.chips.empty());
    EXPECT_EQ(port_->receiveLatencyUs(), -1);  // whatever the attribute says, it is not a timer
}

TEST_F(SerialPortLimitsTest, CbusThreeIsDrivenThroughTheGpioChipAndReleasedOnReset) {
    boundTo("ftdi_sio");
    std::ofstream(latencyTimer()) << "16\n";
    gpioChip();
    EXPECT_TRUE(openAndConfigure().empty());
    std::string latency;
    std::ifstream(latencyTimer()) >> latency;
    EXPECT_EQ(latency, "1");
    EXPECT_EQ(port_->receiveLatencyUs(), 1000);  // the timer read back
    EXPECT_EQ(log_.chips, std::vector<std::string>{options_.devRoot + "/gpiochip7"});
    // Driven low again on the same request, then handed back to the kernel.
    EXPECT_EQ(port_->setBitMode(0x80, FT_BITMODE_CBUS_BITBANG), FT_OK);
    EXPECT_EQ(log_.masks, (std::vector<int>{0x88, 0x80}));
    EXPECT_EQ(log_.chips.size(), 1u);
    EXPECT_EQ(port_->setBitMode(0, FT_BITMODE_RESET), FT_OK);
    EXPECT_EQ(log_.released, 1);
}

TEST_F(SerialPortLimitsTest, WhatDidNotTakeEffectIsReportedOnceAndThePortStillWorks) {
    struct Case {
        const char* what;
        bool chip;
        std::string pinsAnswer;
        std::string latencyFile;  // "" none; "<ro>" a kernel attribute that refuses writes
        std::vector<std::string> expected;
    };
    const std::string ro = "/proc/sys/kernel/ngroups_max";  // read-only even for root
    const std::string attribute =
        options_.sysRoot + "/class/tty/" + name_ + "/device/latency_timer";
    std::string roValue;
    std::ifstream(ro) >> roValue;
    const std::vector<Case> cases{
        {"no GPIO chip, no latency attribute",
         false,
         "",
         "",
         {"the latency timer cannot be read back (" + attribute +
              "), so it may stay at 16 ms and every reply come late",
          "CBUS3 is not driven: the kernel offers no GPIO chip for its CBUS pins (they are not "
          "in I/O mode in the adapter's EEPROM)"}},
        {"pin refused, timer not writable",
         true,
         "no permission to use /dev/gpiochip7",
         "<ro>",
         {"the latency timer stays at " + roValue + " ms, not 1 ms, so every reply comes up to " +
              roValue + " ms late (" + attribute + " is not writable)",
          "CBUS3 is not driven: no permission to use /dev/gpiochip7"}},
    };
    boundTo("ftdi_sio");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(interface_ / "gpiochip7");
        fs::remove(latencyTimer());
        if (c.chip) {
            gpioChip();
        }
        if (c.latencyFile == "<ro>") {
            fs::create_symlink(ro, latencyTimer());
        }
        log_.answer = c.pinsAnswer;
        std::vector<std::string> expected;
        for (const std::string& text : c.expected) {
            expected.push_back(name_ + ": " + text);
        }
        EXPECT_EQ(openAndConfigure(), expected);
        // What the search can count on: the timer that stayed, or nothing known.
        EXPECT_EQ(port_->receiveLatencyUs(),
                  c.latencyFile.empty() ? -1 : std::stoll(roValue) * 1000);
        // Asking again adds nothing; the port works.
        EXPECT_EQ(port_->setBitMode(0x88, FT_BITMODE_CBUS_BITBANG), FT_OK);
        EXPECT_EQ(port_->limitations(), expected);
        ASSERT_TRUE(pty_.send({0x5A}));
        std::uint8_t byte = 0;
        std::uint32_t got = 0;
        ASSERT_EQ(port_->setTimeouts(1000, 0), FT_OK);
        EXPECT_EQ(port_->read(&byte, 1, &got), FT_OK);
        EXPECT_EQ(byte, 0x5A);
        port_.reset();
    }
}

TEST(GpioCbusPins, AChipThatCannotBeOpenedIsNamedWithTheReason) {
    EXPECT_EQ(openGpioCbusPins("/nonexistent/gpiochip9")->drive(0x88),
              "/nonexistent/gpiochip9 cannot be opened (No such file or directory)");
}

}  // namespace
}  // namespace mvx
