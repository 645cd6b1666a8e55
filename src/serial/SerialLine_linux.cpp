#include "SerialLine.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace {

void Encode(const TLineSettings& s, struct termios2& t)
{
    t.c_iflag = 0;
    if (s.xonXoffOut) t.c_iflag |= IXON;
    if (s.xonXoffIn) t.c_iflag |= IXOFF;
    if (s.parityCheck && s.parity != 0) t.c_iflag |= INPCK;
    else t.c_iflag |= IGNPAR;
    t.c_oflag = 0;
    t.c_lflag = 0;

    t.c_cflag &= ~(CBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | (CBAUD << IBSHIFT));
    t.c_cflag |= CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    switch (s.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    if (s.stopBits >= 2) t.c_cflag |= CSTOPB;
    switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.ctsFlow) t.c_cflag |= CRTSCTS;
    t.c_ispeed = static_cast<speed_t>(s.baud);
    t.c_ospeed = static_cast<speed_t>(s.baud);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
}

void Decode(const struct termios2& t, TLineSettings& out)
{
    out.baud = static_cast<int>(t.c_ospeed);
    switch (t.c_cflag & CSIZE) {
    case CS5: out.dataBits = 5; break;
    case CS6: out.dataBits = 6; break;
    case CS7: out.dataBits = 7; break;
    default: out.dataBits = 8; break;
    }
    out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    if (!(t.c_cflag & PARENB)) out.parity = 0;
    else if (t.c_cflag & CMSPAR) out.parity = (t.c_cflag & PARODD) ? 3 : 4;
    else out.parity = (t.c_cflag & PARODD) ? 1 : 2;
    out.parityCheck = (t.c_iflag & INPCK) != 0;
    out.ctsFlow = (t.c_cflag & CRTSCTS) != 0;
    out.xonXoffOut = (t.c_iflag & IXON) != 0;
    out.xonXoffIn = (t.c_iflag & IXOFF) != 0;
    out.xonChar = static_cast<char>(t.c_cc[VSTART]);
    out.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

} // namespace

int ApplyLineSettings(int fd, const TLineSettings& s)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    Encode(s, t);
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

int ReadLineSpeed(int fd)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return -1;
    return static_cast<int>(t.c_ospeed);
}

bool ReadLineSettings(int fd, TLineSettings& out)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    Decode(t, out);
    return true;
}

TLineSettings LineSettingsRoundTrip(const TLineSettings& in)
{
    struct termios2 t {};
    Encode(in, t);
    TLineSettings out;
    Decode(t, out);
    return out;
}

namespace {

// The kernel takes a break on a pseudo-terminal and does nothing with it; nobody would
// see it, so it is refused here rather than said to be sent.
bool IsPseudoTerminal(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned int m = major(st.st_rdev);
    // Unix 98 slaves and masters, and the old BSD pairs.
    return (m >= 136 && m <= 143) || (m >= 128 && m <= 135) || m == 2 || m == 3;
}

class TKernelModemLines : public TModemLines {
public:
    int Control(int fd, unsigned long request, int* bits) override
    {
        if ((request == TIOCSBRK || request == TIOCCBRK) && IsPseudoTerminal(fd)) return ENOTTY;
        return ioctl(fd, request, bits) == 0 ? 0 : errno;
    }
};

TKernelModemLines& KernelModemLines()
{
    static TKernelModemLines lines;
    return lines;
}

TModemLines*& CurrentModemLines()
{
    static TModemLines* lines = nullptr;
    return lines;
}

} // namespace

TModemLines& ModemLines()
{
    TModemLines* lines = CurrentModemLines();
    return lines ? *lines : KernelModemLines();
}

TModemLines* SetModemLines(TModemLines* lines)
{
    TModemLines* before = CurrentModemLines();
    CurrentModemLines() = lines;
    return before;
}
