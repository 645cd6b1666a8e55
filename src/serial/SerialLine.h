#pragma once

// Line settings as the kernel sees them. Kept apart from <termios.h> users because
// termios2 (any baud rate through BOTHER) comes from <asm/termbits.h>, which clashes with it.
struct TLineSettings {
    int baud = 9600;
    int dataBits = 8;  // 5..8
    int stopBits = 1;  // 1 or 2
    int parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
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
