#pragma once

// Line settings as the kernel sees them. Kept apart from <termios.h> users because
// termios2 (any baud rate through BOTHER) comes from <asm/termbits.h>, which clashes with it.
struct TLineSettings {
    int baud = 9600;
    int dataBits = 8; // 5..8
    int stopBits = 1; // 1 or 2
    int parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool parityCheck = false;
    bool ctsFlow = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    char xonChar = 0x11;
    char xoffChar = 0x13;
};

// 0 on success, else errno.
int ApplyLineSettings(int fd, const TLineSettings& s);
// The output speed the kernel holds for the descriptor, -1 when it cannot be read.
int ReadLineSpeed(int fd);
// Reads the whole termios2 back as the settings it means (for tests); false on failure.
bool ReadLineSettings(int fd, TLineSettings& out);
// The settings as they come back from the kernel's form, without a device (pseudo-terminals
// force 8 data bits and no parity, so this is where the encoding is checked).
TLineSettings LineSettingsRoundTrip(const TLineSettings& in);

// Modem control lines: DTR and RTS out, CTS, DSR, RI and CD in. The port reaches them
// only through this table, so that a test can stand in for the lines a pseudo-terminal
// does not have (the kernel answers ENOTTY there).
class TModemLines {
public:
    virtual ~TModemLines() = default;
    // request: TIOCMBIS, TIOCMBIC or TIOCMGET. *bits: the TIOCM_* mask to raise or lower,
    // or where TIOCMGET puts the state of all lines. Also TIOCSBRK and TIOCCBRK, the break
    // condition on and off (*bits unused); a pseudo-terminal answers ENOTTY to them.
    // 0 on success, else errno.
    virtual int Control(int fd, unsigned long request, int* bits) = 0;
};
// The table every port uses now.
TModemLines& ModemLines();
// Puts another table in place (nullptr: the kernel's again) and returns the one before.
TModemLines* SetModemLines(TModemLines* lines);
