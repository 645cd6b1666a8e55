// A simulated serial device on a pseudo-terminal, for trying Corvane without hardware and for
// end-to-end tests. Prints the device path on the first line of its output, then serves it
// until SIGINT or SIGTERM, and removes the link it made.
//
//   corvane-sim [--link PATH] MODE
//   MODE: --echo | --lines MS | --sine MS | --protocol | --burst BYTES | --rate BYTES_PER_SECOND
//         | --plot LINES_PER_SECOND [--channels N] [--labels] | --at [--error-every N] | --loady
//         | --esp-log MS | --shell
//   --plot prints text lines of numbers for the plot: N channels (default 4) of sine, ramp
//   and noise in turn, plain ("0.5,12,-0.31") or with --labels ("sine1:0.5 ramp2:12 ...").
//   --at answers like a modem without echo: a command line ended by CR (or LF) that begins with
//   AT gets "\r\nOK\r\n", any other "\r\nERROR\r\n"; with --error-every N every Nth
//   command gets ERROR too.
//   --loady plays a bootloader console: at its "=> " prompt the command loady waits for a
//   file sent with YMODEM, then prints the size and the CRC-32 of what it got.
//   --esp-log prints a coloured boot log as an ESP32 does, then a coloured log line every MS.
//   --shell is a small command shell with line editing (keys echoed, Backspace, the arrows,
//   Home/End, history, Tab completion, Ctrl+C): help, echo, colors, ls, clear, uptime.
#include "Corvane_CRC.h"
#include "CvProtocol.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int)
{
    gStop = 1;
}

void Usage()
{
    std::fprintf(
        stderr,
        "usage: corvane-sim [--link PATH] (--echo | --lines MS | --sine MS | --protocol | --burst BYTES"
        " | --rate BYTES_PER_SECOND | --plot LINES_PER_SECOND [--channels N] [--labels]"
        " | --at [--error-every N] | --loady | --esp-log MS | --shell)\n");
}

// Writes everything unless asked to stop; a pty whose reader is away fills up and waits.
bool WriteAll(int fd, const void* data, std::size_t n)
{
    const auto* p = static_cast<const char*>(data);
    while (n > 0 && !gStop) {
        ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return false;
        pollfd pf{fd, POLLOUT, 0};
        ::poll(&pf, 1, 50);
    }
    return n == 0;
}

void SendPacket(int fd, std::uint16_t type, std::uint16_t index, std::uint16_t total,
                const std::uint8_t* payload, int n)
{
    TCvComPack p = TCvComProtocal::CreatePack(0);
    p.TypeID = type;
    p.Index = index;
    p.Total = total;
    if (n <= 0) {
        p.Length = CvHeaderSize;
    } else {
        n = std::min(n, CvMaxPayload);
        p.Length = static_cast<std::uint16_t>(n + 12);
        std::memcpy(p.data.data(), payload, static_cast<std::size_t>(n));
        p.SetChecksum(TCvComProtocal::CalCRC16(p.data.data(), n));
    }
    std::uint8_t wire[CvPackSize];
    p.ToBytes(wire);
    WriteAll(fd, wire, p.Length);
}

// Answers like a device that speaks the framed protocol.
class ProtocolPeer {
public:
    explicit ProtocolPeer(int fd) : FFd(fd)
    {
        FEngine.SetCallBackFun([this](const TCvComPack2& h) { OnPacket(h); });
    }
    void Feed(const std::uint8_t* data, std::size_t n)
    {
        FPending.insert(FPending.end(), data, data + n);
        const int done = FEngine.ParserPack(FPending.data(), static_cast<int>(FPending.size()));
        FPending.erase(FPending.begin(), FPending.begin() + done);
        if (FPending.size() > 1 << 20) FPending.clear();
    }

private:
    void OnPacket(const TCvComPack2& h)
    {
        const int type = h.TypeID & 0xFF;
        const bool wantsAck = (h.TypeID & 0xFF00) == CvAskAckMarker;
        const TCvComPack p = FEngine.GetPackByIndex(FEngine.PackListTop());
        if (wantsAck) {
            // The acknowledgement mirrors the packet with the 0x0E marker.
            TCvComPack ack = p;
            ack.TypeID = static_cast<std::uint16_t>(CvAckMarker | type);
            std::uint8_t wire[CvPackSize];
            ack.ToBytes(wire);
            WriteAll(FFd, wire, ack.Length);
        }
        if (type == CvTypeConnect) {
            SendPacket(FFd, CvTypeAck, 0, 1, nullptr, 0);
        } else if (type == 50 || type == 52) {
            // A read on the bus: answer with data counting up, then end the transfer.
            const int n = p.Length > 12 ? std::max(1, static_cast<int>(p.data[0])) : 8;
            std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
            SendPacket(FFd, static_cast<std::uint16_t>(type + 1), 0, 1, data.data(), n);
            SendPacket(FFd, CvTypeEnd, 0, 1, nullptr, 0);
        } else if (!wantsAck && (type == 51 || type == 53 || type == CvTypeGeneric)) {
            if (h.Index + 1 == h.Total) SendPacket(FFd, CvTypeEnd, 0, 1, nullptr, 0);
        }
    }

    int FFd;
    TCvComProtocal FEngine;
    std::vector<std::uint8_t> FPending;
};

// One line of the plot mode: channel k is a sine, a ramp or noise, by k modulo 3.
std::string PlotLine(long n, int channels, bool labels, std::uint32_t& noise)
{
    std::string line;
    char cell[64];
    for (int k = 0; k < channels; ++k) {
        double v = 0;
        const char* kind = "sine";
        switch (k % 3) {
        case 0: v = 100 * std::sin(double(n) * 2 * M_PI / 200.0 + k); break;
        case 1:
            kind = "ramp";
            v = double((n + 10 * k) % 100);
            break;
        default:
            kind = "noise";
            noise = noise * 1664525u + 1013904223u;
            v = double(noise >> 8) / double(1u << 24) * 20 - 10;
            break;
        }
        const int len = labels ? std::snprintf(cell, sizeof cell, "%s%s%d:%.4g", k ? " " : "", kind, k + 1, v)
                               : std::snprintf(cell, sizeof cell, "%s%.4g", k ? "," : "", v);
        line.append(cell, std::size_t(len));
    }
    line += "\r\n";
    return line;
}

// ---- the bootloader console of --loady ----

void Print(int fd, const std::string& text)
{
    WriteAll(fd, text.data(), text.size());
}

// One byte within ms milliseconds, -1 on time-out (or when asked to stop).
int ReadByte(int fd, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!gStop) {
        std::uint8_t b = 0;
        const ssize_t n = ::read(fd, &b, 1);
        if (n == 1) return b;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return -1;
        pollfd pf{fd, POLLIN, 0};
        ::poll(&pf, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
    }
    return -1;
}

void Put(int fd, std::uint8_t b)
{
    WriteAll(fd, &b, 1);
}

// Reads until the line has been quiet for ms: the rest of a damaged block.
void Purge(int fd, int ms)
{
    while (ReadByte(fd, ms) >= 0) {}
}

// A YMODEM receive as a bootloader does it: C until the sender starts, the header block
// with the name and size, the data, EOT, then the empty header that ends the batch. The
// received bytes, cut to the size the header gave; false when it was aborted.
bool ReceiveYmodem(int fd, std::vector<std::uint8_t>& out, std::string& why)
{
    constexpr std::uint8_t SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18;
    long long size = -1;
    int expected = 0; // block 0 is the header
    bool header = true;
    int errors = 0;
    int cans = 0;
    int startTries = 0;
    bool started = false;
    while (!gStop) {
        if (!started) Put(fd, 'C');
        const int first = ReadByte(fd, started ? 3000 : 1000);
        if (first < 0) {
            if (!started && ++startTries < 60) continue;
            if (started && ++errors <= 10) {
                Put(fd, NAK);
                continue;
            }
            why = started ? "time-out" : "no sender";
            return false;
        }
        if (first == CAN) {
            if (++cans >= 2) {
                why = "cancelled by the sender";
                return false;
            }
            continue;
        }
        cans = 0;
        if (first == EOT) {
            // The file is complete; the empty header that ends the batch follows.
            Put(fd, ACK);
            Put(fd, 'C');
            header = true;
            expected = 0;
            continue;
        }
        if (first != SOH && first != STX) continue;
        started = true;
        const std::size_t len = first == STX ? 1024 : 128;
        std::vector<std::uint8_t> block(len + 4);
        bool whole = true;
        for (std::size_t i = 0; i < block.size(); ++i) {
            const int b = ReadByte(fd, 1000);
            if (b < 0) {
                whole = false;
                break;
            }
            block[i] = static_cast<std::uint8_t>(b);
        }
        const std::uint8_t* data = block.data() + 2;
        const std::uint16_t crc = static_cast<std::uint16_t>(block[len + 2] << 8 | block[len + 3]);
        if (!whole || (block[0] ^ block[1]) != 0xFF || CalCRC16Xmodem(data, static_cast<int>(len)) != crc) {
            Purge(fd, 200);
            if (++errors > 10) {
                why = "too many errors";
                Print(fd, std::string(8, char(CAN)));
                return false;
            }
            Put(fd, NAK);
            continue;
        }
        errors = 0;
        const int number = block[0];
        if (number == ((expected - 1) & 0xFF) && expected > 0) {
            Put(fd, ACK); // a repeat: our ACK was lost
            continue;
        }
        if (number != (expected & 0xFF)) {
            why = "block out of sequence";
            Print(fd, std::string(8, char(CAN)));
            return false;
        }
        if (header) {
            Put(fd, ACK);
            if (data[0] == 0) return true; // the empty header: the batch is over
            if (size >= 0) {
                why = "one file only";
                Print(fd, std::string(8, char(CAN)));
                return false;
            }
            const char* name = reinterpret_cast<const char*>(data);
            const std::size_t nameLen = strnlen(name, len);
            size = nameLen + 1 < len ? std::strtoll(name + nameLen + 1, nullptr, 10) : -1;
            if (size < 0 || size > (64LL << 20)) size = 64LL << 20;
            header = false;
            expected = 1;
            Put(fd, 'C');
            continue;
        }
        const std::size_t take =
            std::min<std::size_t>(len, static_cast<std::size_t>(size) -
                                           std::min<std::size_t>(out.size(), static_cast<std::size_t>(size)));
        out.insert(out.end(), data, data + take);
        ++expected;
        Put(fd, ACK);
    }
    why = "stopped";
    return false;
}

// The console: echoes what is typed; Enter runs the line.
class LoadyConsole {
public:
    explicit LoadyConsole(int fd) : FFd(fd) {}
    void Begin() { Print(FFd, "\r\nCorvane simulated bootloader (corvane-sim --loady)\r\n=> "); }
    void Feed(const std::uint8_t* data, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            const char c = static_cast<char>(data[i]);
            if (c == '\r' || c == '\n') {
                // CR LF is one Enter.
                if (c == '\n' && FLastCr) {
                    FLastCr = false;
                    continue;
                }
                FLastCr = c == '\r';
                Print(FFd, "\r\n");
                Run();
                FLine.clear();
                Print(FFd, "=> ");
                continue;
            }
            FLastCr = false;
            if (c == 0x7F || c == 0x08) {
                if (!FLine.empty()) {
                    FLine.pop_back();
                    Print(FFd, "\b \b");
                }
                continue;
            }
            if (static_cast<unsigned char>(c) < 0x20 || FLine.size() > 256) continue;
            FLine += c;
            Print(FFd, std::string(1, c));
        }
    }

private:
    void Run()
    {
        std::string cmd = FLine;
        while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
        while (!cmd.empty() && cmd.front() == ' ') cmd.erase(0, 1);
        if (cmd.empty()) return;
        if (cmd.rfind("loady", 0) != 0) {
            Print(FFd, "Unknown command '" + cmd.substr(0, cmd.find(' ')) + "' - try 'loady'\r\n");
            return;
        }
        Print(FFd, "## Ready for binary (ymodem) download to 0x82000000 at 115200 bps...\r\n");
        std::vector<std::uint8_t> got;
        std::string why;
        const bool ok = ReceiveYmodem(FFd, got, why);
        // The sender's last bytes and a pause, before the console talks again.
        Purge(FFd, 100);
        if (!ok) {
            Print(FFd, "## Binary (ymodem) download aborted: " + why + "\r\n");
            return;
        }
        char line[160];
        std::snprintf(line, sizeof line, "## Total Size      = 0x%08zx = %zu Bytes\r\n## CRC32 = 0x%08x\r\n",
                      got.size(), got.size(), CalCRC32(got.data(), static_cast<int>(got.size())));
        Print(FFd, line);
    }

    int FFd;
    std::string FLine;
    bool FLastCr = false;
};

// Answers command lines like a modem with echo off.
class AtPeer {
public:
    AtPeer(int fd, long errorEvery) : FFd(fd), FErrorEvery(errorEvery) {}
    void Feed(const std::uint8_t* data, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            const char c = static_cast<char>(data[i]);
            if (c != '\r' && c != '\n') {
                if (FLine.size() < 4096) FLine += c;
                continue;
            }
            if (FLine.empty()) continue;
            ++FCount;
            const bool at = FLine.size() >= 2 && (FLine[0] == 'A' || FLine[0] == 'a') &&
                            (FLine[1] == 'T' || FLine[1] == 't');
            const bool error = !at || (FErrorEvery > 0 && FCount % FErrorEvery == 0);
            const char* reply = error ? "\r\nERROR\r\n" : "\r\nOK\r\n";
            WriteAll(FFd, reply, std::strlen(reply));
            FLine.clear();
        }
    }

private:
    int FFd;
    long FErrorEvery;
    long FCount = 0;
    std::string FLine;
};

// The boot of an ESP32 as its ROM and ESP-IDF print it: plain ROM lines, then log lines in
// the colours of their level (I green, W yellow, E red).
std::string EspLine(char level, long ms, const char* tag, const std::string& text)
{
    const char* colour = level == 'E' ? "31" : level == 'W' ? "33" : "32";
    char head[96];
    std::snprintf(head, sizeof head, "\x1b[0;%sm%c (%ld) %s: ", colour, level, ms, tag);
    return head + text + "\x1b[0m\r\n";
}

std::string EspBoot()
{
    std::string out = "ets Jun  8 2016 00:22:57\r\n\r\n"
                      "rst:0x1 (POWERON_RESET),boot:0x13 (SPI_FAST_FLASH_BOOT)\r\n"
                      "configsip: 0, SPIWP:0xee\r\n"
                      "mode:DIO, clock div:2\r\n"
                      "entry 0x40080400\r\n";
    out += EspLine('I', 29, "boot", "ESP-IDF v5.1.2 2nd stage bootloader");
    out += EspLine('I', 29, "boot", "compile time 10:12:03");
    out += EspLine('I', 31, "boot", "chip revision: v3.0");
    out += EspLine('I', 58, "boot", "Loaded app from partition at offset 0x10000");
    out += EspLine('I', 312, "cpu_start", "Starting scheduler on PRO CPU.");
    out += EspLine('I', 318, "cpu_start", "Starting scheduler on APP CPU.");
    out += EspLine('W', 402, "wifi", "esf_buf: t=2 l=76 max:32, alloc:32 no eb");
    out += EspLine('I', 455, "main", "sensor task started");
    return out;
}

std::string EspTick(long n)
{
    const long ms = 1000 + n * 100;
    char text[96];
    switch (n % 10) {
    case 3: return EspLine('W', ms, "wifi", "state: run -> init (0x200)");
    case 7: return EspLine('E', ms, "sensor", "read failed (ESP_ERR_TIMEOUT)");
    default:
        std::snprintf(text, sizeof text, "temperature %.1f C, humidity %ld %%", 21.0 + double(n % 37) / 10.0,
                      40 + n % 20);
        return EspLine('I', ms, "main", text);
    }
}

// A line-editing shell as small devices have (U-Boot, Zephyr, NuttX): it echoes what it is
// sent and redraws its line, so a terminal that sends keys as typed can be tried on it.
class SimShell {
public:
    explicit SimShell(int fd) : FFd(fd) {}
    void Start() { Write("\r\nCorvane simulated shell. Type 'help'.\r\n" + Prompt()); }
    void Feed(const std::uint8_t* p, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) Byte(p[i]);
    }

private:
    static std::string Prompt() { return "\x1b[1;32msim:~$ \x1b[0m"; }
    static constexpr std::size_t kPromptColumns = 7;

    void Write(const std::string& s) { WriteAll(FFd, s.data(), s.size()); }

    // Terminal columns of a UTF-8 text: CJK and the like take two.
    static std::size_t Columns(const std::string& s, std::size_t from, std::size_t to)
    {
        std::size_t cols = 0;
        for (std::size_t i = from; i < to; ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            if ((c & 0xC0) == 0x80) continue;
            cols += c >= 0xE3 ? 2 : 1; // from U+3000 on (CJK) as two
        }
        return cols;
    }
    std::size_t PrevChar(std::size_t at) const
    {
        do --at;
        while (at > 0 && (static_cast<unsigned char>(FLine[at]) & 0xC0) == 0x80);
        return at;
    }
    std::size_t NextChar(std::size_t at) const
    {
        do ++at;
        while (at < FLine.size() && (static_cast<unsigned char>(FLine[at]) & 0xC0) == 0x80);
        return at;
    }
    // The line drawn again from the prompt, the cursor put back where it stands.
    void Redraw()
    {
        std::string s = "\r" + Prompt() + FLine + "\x1b[K";
        const std::size_t back = Columns(FLine, FCursor, FLine.size());
        if (back > 0) s += "\x1b[" + std::to_string(back) + "D";
        Write(s);
    }
    void SetLine(const std::string& line)
    {
        FLine = line;
        FCursor = line.size();
        Redraw();
    }

    void Byte(std::uint8_t b)
    {
        if (FEsc == 1) {
            FEsc = (b == '[' || b == 'O') ? 2 : 0;
            FEscArg.clear();
            return;
        }
        if (FEsc == 2) {
            if (b >= '0' && b <= '9') {
                FEscArg += char(b);
                return;
            }
            FEsc = 0;
            Key(b, FEscArg);
            return;
        }
        if (b == '\n' && FLastCr) {
            FLastCr = false;
            return;
        }
        FLastCr = b == '\r';
        switch (b) {
        case 0x1B: FEsc = 1; return;
        case '\r':
        case '\n': Enter(); return;
        case 0x7F:
        case 0x08:
            if (FCursor > 0) {
                const std::size_t at = PrevChar(FCursor);
                FLine.erase(at, FCursor - at);
                FCursor = at;
                Redraw();
            }
            return;
        case 0x03:
            Write("^C\r\n" + Prompt());
            FLine.clear();
            FCursor = 0;
            return;
        case 0x01:
            FCursor = 0;
            Redraw();
            return;
        case 0x05:
            FCursor = FLine.size();
            Redraw();
            return;
        case 0x15: SetLine(""); return;
        case 0x0C:
            Write("\x1b[H\x1b[2J");
            Redraw();
            return;
        case '\t': Complete(); return;
        default: break;
        }
        if (b < 0x20) return;
        FLine.insert(FCursor, 1, char(b));
        ++FCursor;
        // At the end of the line a byte is only echoed; inside it the line is drawn again,
        // once a UTF-8 character is no longer just its first byte.
        if (FCursor == FLine.size()) Write(std::string(1, char(b)));
        else if ((b & 0xC0) != 0xC0) Redraw();
    }

    void Key(std::uint8_t final, const std::string& arg)
    {
        if (final == 'D' && FCursor > 0) {
            const std::size_t at = PrevChar(FCursor);
            Write("\x1b[" + std::to_string(Columns(FLine, at, FCursor)) + "D");
            FCursor = at;
        } else if (final == 'C' && FCursor < FLine.size()) {
            const std::size_t at = NextChar(FCursor);
            Write("\x1b[" + std::to_string(Columns(FLine, FCursor, at)) + "C");
            FCursor = at;
        } else if (final == 'H' || (final == '~' && (arg == "1" || arg == "7"))) {
            FCursor = 0;
            Redraw();
        } else if (final == 'F' || (final == '~' && (arg == "4" || arg == "8"))) {
            FCursor = FLine.size();
            Redraw();
        } else if (final == '~' && arg == "3" && FCursor < FLine.size()) {
            FLine.erase(FCursor, NextChar(FCursor) - FCursor);
            Redraw();
        } else if (final == 'A' && !FHistory.empty()) {
            if (FBrowse > 0) --FBrowse;
            SetLine(FHistory[FBrowse]);
        } else if (final == 'B' && !FHistory.empty()) {
            if (FBrowse + 1 < FHistory.size()) SetLine(FHistory[++FBrowse]);
            else {
                FBrowse = FHistory.size();
                SetLine("");
            }
        }
    }

    void Complete()
    {
        std::string match;
        int found = 0;
        for (const char* c : kCommands)
            if (FCursor == FLine.size() && FLine.find(' ') == std::string::npos &&
                std::string(c).compare(0, FLine.size(), FLine) == 0) {
                match = c;
                ++found;
            }
        if (found == 1) SetLine(match + " ");
        else Write("\a");
    }

    void Enter()
    {
        Write("\r\n");
        std::string line = FLine;
        FLine.clear();
        FCursor = 0;
        if (!line.empty()) FHistory.push_back(line);
        FBrowse = FHistory.size();
        Run(line);
        Write(Prompt());
    }

    void Run(const std::string& line)
    {
        const std::size_t space = line.find(' ');
        const std::string cmd = line.substr(0, space);
        const std::string args = space == std::string::npos ? "" : line.substr(space + 1);
        if (cmd.empty()) return;
        if (cmd == "help") {
            Write("Commands:\r\n"
                  "  help      this list\r\n"
                  "  echo ...  prints its words\r\n"
                  "  colors    the 16 colours and a few attributes\r\n"
                  "  ls        the files of the device\r\n"
                  "  clear     clears the screen\r\n"
                  "  uptime    time since start\r\n");
        } else if (cmd == "echo") {
            Write(args + "\r\n");
        } else if (cmd == "colors") {
            static const char* const kNames[8] = {"black", "red",     "green", "yellow",
                                                  "blue",  "magenta", "cyan",  "white"};
            std::string out;
            for (int bright = 0; bright < 2; ++bright) {
                for (int i = 0; i < 8; ++i)
                    out += "\x1b[" + std::to_string((bright ? 90 : 30) + i) + "m" + kNames[i] + "\x1b[0m ";
                out += "\r\n";
            }
            out += "\x1b[1mbold\x1b[0m \x1b[4munderline\x1b[0m \x1b[7minverse\x1b[0m "
                   "\x1b[38;5;208m256-colour orange\x1b[0m \x1b[38;2;0;128;255m24-bit blue\x1b[0m\r\n";
            Write(out);
        } else if (cmd == "ls") {
            Write("\x1b[1;34mdata\x1b[0m  boot.bin  config.txt  log.txt\r\n");
        } else if (cmd == "clear") {
            Write("\x1b[H\x1b[2J");
        } else if (cmd == "uptime") {
            const auto s =
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - FStart);
            Write("up " + std::to_string(s.count()) + " s\r\n");
        } else {
            Write("sim: command not found: " + cmd + "\r\n");
        }
    }

    static constexpr const char* kCommands[] = {"help", "echo", "colors", "ls", "clear", "uptime"};
    int FFd;
    std::string FLine;
    std::size_t FCursor = 0;
    int FEsc = 0;
    std::string FEscArg;
    bool FLastCr = false;
    std::vector<std::string> FHistory;
    std::size_t FBrowse = 0;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

} // namespace

int main(int argc, char** argv)
{
    std::string link, mode;
    long value = 0;
    int channels = 4;
    bool labels = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--link" && i + 1 < argc) link = argv[++i];
        else if (a == "--labels") labels = true;
        else if (a == "--channels" && i + 1 < argc) channels = int(std::strtol(argv[++i], nullptr, 10));
        else if (a == "--echo" || a == "--protocol" || a == "--at" || a == "--loady" || a == "--shell")
            mode = a;
        else if (a == "--error-every" && i + 1 < argc) value = std::strtol(argv[++i], nullptr, 10);
        else if ((a == "--lines" || a == "--sine" || a == "--burst" || a == "--rate" || a == "--plot" ||
                  a == "--esp-log") &&
                 i + 1 < argc) {
            mode = a;
            value = std::strtol(argv[++i], nullptr, 10);
        } else {
            Usage();
            return 2;
        }
    }
    if (mode.empty() ||
        (mode != "--echo" && mode != "--protocol" && mode != "--at" && mode != "--loady" &&
         mode != "--shell" && value <= 0) ||
        (mode == "--at" && value < 0) || channels < 1 || channels > 64) {
        Usage();
        return 2;
    }

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // Keeping the slave open means a closing terminal program does not hang up our side.
    std::string path = name;
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(name, link.c_str()) != 0) {
            std::perror("symlink");
            return 1;
        }
        path = link;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    ProtocolPeer peer(master);
    AtPeer modem(master, mode == "--at" ? value : 0);
    LoadyConsole console(master);
    if (mode == "--loady") console.Begin();
    SimShell shell(master);
    if (mode == "--shell") shell.Start();
    if (mode == "--esp-log") {
        const std::string boot = EspBoot();
        WriteAll(master, boot.data(), boot.size());
    }
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    long counter = 0;
    long burstLeft = mode == "--burst" ? value : 0;
    long rateSent = 0;
    std::uint32_t noise = 12345;
    std::vector<std::uint8_t> buf(65536);
    while (!gStop) {
        int timeout = 50;
        if (mode == "--rate" || mode == "--plot") timeout = 10;
        if (mode == "--lines" || mode == "--sine" || mode == "--esp-log") {
            auto now = std::chrono::steady_clock::now();
            timeout = static_cast<int>(std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()));
        }
        pollfd pf{master, POLLIN, 0};
        if (burstLeft > 0) {
            pf.events |= POLLOUT;
            timeout = 50;
        }
        ::poll(&pf, 1, timeout);
        if (pf.revents & POLLIN) {
            ssize_t n = ::read(master, buf.data(), buf.size());
            if (n > 0) {
                if (mode == "--echo") WriteAll(master, buf.data(), static_cast<std::size_t>(n));
                else if (mode == "--protocol") peer.Feed(buf.data(), static_cast<std::size_t>(n));
                else if (mode == "--at") modem.Feed(buf.data(), static_cast<std::size_t>(n));
                else if (mode == "--loady") console.Feed(buf.data(), static_cast<std::size_t>(n));
                else if (mode == "--shell") shell.Feed(buf.data(), static_cast<std::size_t>(n));
            }
        }
        if (burstLeft > 0 && (pf.revents & POLLOUT)) {
            std::size_t n =
                static_cast<std::size_t>(std::min<long>(burstLeft, static_cast<long>(buf.size())));
            for (std::size_t i = 0; i < n; ++i)
                buf[i] = static_cast<std::uint8_t>('A' + (value - burstLeft + static_cast<long>(i)) % 26);
            ssize_t w = ::write(master, buf.data(), n);
            if (w > 0) burstLeft -= w;
        }
        if (mode == "--rate") {
            // A steady stream: whatever the elapsed time allows, in order, byte values counting up.
            const double secs =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            long due = static_cast<long>(secs * static_cast<double>(value)) - rateSent;
            while (due > 0 && !gStop) {
                const std::size_t n =
                    static_cast<std::size_t>(std::min<long>(due, static_cast<long>(buf.size())));
                for (std::size_t i = 0; i < n; ++i)
                    buf[i] = static_cast<std::uint8_t>(rateSent + static_cast<long>(i));
                if (!WriteAll(master, buf.data(), n)) break;
                rateSent += static_cast<long>(n);
                due -= static_cast<long>(n);
            }
        }
        if (mode == "--plot") {
            // Whatever lines the elapsed time allows, written together.
            const double secs =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            long due = static_cast<long>(secs * static_cast<double>(value)) - counter;
            std::string lines;
            while (due-- > 0 && lines.size() < 65536) lines += PlotLine(counter++, channels, labels, noise);
            if (!lines.empty()) WriteAll(master, lines.data(), lines.size());
        }
        if ((mode == "--lines" || mode == "--sine" || mode == "--esp-log") &&
            std::chrono::steady_clock::now() >= next) {
            next += std::chrono::milliseconds(value);
            if (mode == "--esp-log") {
                const std::string line = EspTick(counter++);
                WriteAll(master, line.data(), line.size());
            } else if (mode == "--lines") {
                char line[64];
                const int len = std::snprintf(line, sizeof line, "line %ld\r\n", counter++);
                WriteAll(master, line, static_cast<std::size_t>(len));
            } else {
                const double y = 127.5 + 127.5 * std::sin(static_cast<double>(counter++) * 2 * M_PI / 64.0);
                const std::uint8_t b = static_cast<std::uint8_t>(std::lround(y));
                WriteAll(master, &b, 1);
            }
        }
    }
    if (!link.empty()) ::unlink(link.c_str());
    ::close(slave);
    ::close(master);
    return 0;
}
