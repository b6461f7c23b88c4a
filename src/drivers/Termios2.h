// Small C-style wrapper around the Linux tty ioctls that take struct termios2 (arbitrary bit
// rates through BOTHER). <asm/termbits.h> clashes with <termios.h>, so everything that needs it
// stays in Termios2.cpp and callers see plain integers only.
//
// Every function returns 0 on success or the errno value of the failed call.
#pragma once

#include <cstdint>

namespace mvx::tty {

// Parity for setLine().
inline constexpr int kParityNone = 0;
inline constexpr int kParityOdd = 1;
inline constexpr int kParityEven = 2;

// Raw mode: no echo, no line editing, no signals, no input or output translation, no flow
// control, receiver on, modem lines ignored, 8N1, reads return as soon as one byte is there
// (VMIN 1, VTIME 0). The bit rate is left as it is.
int makeRaw(int fd);

// Sets input and output rate to `bitsPerSecond` exactly (BOTHER); the driver may round.
int setRate(int fd, std::uint32_t bitsPerSecond);

// Output rate currently set on the tty. On a pty master this is the rate the slave side set.
int getRate(int fd, std::uint32_t* bitsPerSecond);

// Character size (5-8), one or two stop bits, parity.
int setLine(int fd, int dataBits, bool twoStopBits, int parity);

// Hardware (RTS/CTS) flow control on or off; software flow control is always off.
int setHardwareFlow(int fd, bool on);

// Discards received (input) and/or not yet sent (output) bytes.
int flush(int fd, bool input, bool output);

// Number of received bytes waiting to be read.
int bytesWaiting(int fd, std::uint32_t* count);

// Asks the serial driver for low-latency delivery. Returns ENOTTY (or EINVAL) where the tty has
// no serial driver settings, e.g. on a pseudo-terminal.
int setLowLatency(int fd);

// Keeps other processes from opening the same tty (root can still open it), and lets them again.
int setExclusive(int fd);
int clearExclusive(int fd);

}  // namespace mvx::tty
