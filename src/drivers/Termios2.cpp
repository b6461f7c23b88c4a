#include "drivers/Termios2.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace mvx::tty {

namespace {

int getAttributes(int fd, termios2* t) {
    return ioctl(fd, TCGETS2, t) == 0 ? 0 : errno;
}

// TCSETS2 applies at once; pending output is not waited for (the link writes and reads
// strictly in turn, so there is nothing in flight when it changes the line settings).
int setAttributes(int fd, const termios2& t) {
    return ioctl(fd, TCSETS2, &t) == 0 ? 0 : errno;
}

}  // namespace

int makeRaw(int fd) {
    termios2 t{};
    if (int e = getAttributes(fd, &t)) {
        return e;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_iflag |= IGNPAR;
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return setAttributes(fd, t);
}

int setRate(int fd, std::uint32_t bitsPerSecond) {
    if (bitsPerSecond == 0) {
        return EINVAL;  // B0 would hang up the line
    }
    termios2 t{};
    if (int e = getAttributes(fd, &t)) {
        return e;
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ospeed = bitsPerSecond;
    t.c_ispeed = bitsPerSecond;
    return setAttributes(fd, t);
}

int getRate(int fd, std::uint32_t* bitsPerSecond) {
    termios2 t{};
    if (int e = getAttributes(fd, &t)) {
        return e;
    }
    *bitsPerSecond = t.c_ospeed;
    return 0;
}

int setLine(int fd, int dataBits, bool twoStopBits, int parity) {
    tcflag_t size = 0;
    switch (dataBits) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;
    }
    if (parity != kParityNone && parity != kParityOdd && parity != kParityEven) {
        return EINVAL;
    }
    termios2 t{};
    if (int e = getAttributes(fd, &t)) {
        return e;
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
    t.c_cflag |= size;
    if (twoStopBits) {
        t.c_cflag |= CSTOPB;
    }
    if (parity != kParityNone) {
        t.c_cflag |= PARENB;
        if (parity == kParityOdd) {
            t.c_cflag |= PARODD;
        }
    }
    return setAttributes(fd, t);
}

int setHardwareFlow(int fd, bool on) {
    termios2 t{};
    if (int e = getAttributes(fd, &t)) {
        return e;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (on) {
        t.c_cflag |= CRTSCTS;
    } else {
        t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    }
    return setAttributes(fd, t);
}

int flush(int fd, bool input, bool output) {
    if (!input && !output) {
        return 0;
    }
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return ioctl(fd, TCFLSH, which) == 0 ? 0 : errno;
}

int bytesWaiting(int fd, std::uint32_t* count) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) {
        return errno;
    }
    *count = n > 0 ? static_cast<std::uint32_t>(n) : 0u;
    return 0;
}

int setLowLatency(int fd) {
    serial_struct s{};
    if (ioctl(fd, TIOCGSERIAL, &s) != 0) {
        return errno;
    }
    if (s.flags & ASYNC_LOW_LATENCY) {
        return 0;
    }
    s.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &s) == 0 ? 0 : errno;
}

int setExclusive(int fd) {
    return ioctl(fd, TIOCEXCL) == 0 ? 0 : errno;
}

int clearExclusive(int fd) {
    return ioctl(fd, TIOCNXCL) == 0 ? 0 : errno;
}

}  // namespace mvx::tty
