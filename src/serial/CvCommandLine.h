#pragma once

// The command line: `corvane [DEVICE] [-b BAUD] [-d 5|6|7|8] [-p PARITY] [-s 1|1.5|2]
// [-f FLOW] [--receive ascii|hex] [--lang en|zh] [--new-window]`, `--script FILE [DEVICE]
// [line options]` (a script run without a window), `--list`, `--version` and `--help`.
// Without arguments nothing changes: the window starts as it always has.

#include <QString>
#include <QStringList>

#include <optional>

class TCustomComPort;

// What the command line asks for. Each setting is optional: what is not given comes from
// the port's own settings file.
struct TCvCommandLine {
    // A device path (made absolute), a link to one, or a network port name; empty: none.
    QString Device;
    // An index of the port layer's lists (TBaudRate with CustomBaudRate for brCustom,
    // TDataBits, TParityBits, TStopBits, TFlowControl), and a receive format (rfAscii, rfHex).
    std::optional<int> BaudRate;
    int CustomBaudRate = 0;
    std::optional<int> DataBits;
    std::optional<int> Parity;
    std::optional<int> StopBits;
    std::optional<int> FlowControl;
    std::optional<int> ReceiveFormat;
    // "EN" or "CN"; empty: the system's language decides.
    QString Language;
    // A script to run without a window (absolute path); empty: the window starts.
    QString Script;
    bool List = false;
    bool Version = false;
    bool Help = false;
    bool NewWindow = false;

    bool IsNetworkDevice() const;
    // The line settings given, onto a port; the others stay as its settings file made them.
    void ApplyTo(TCustomComPort& port) const;
    // Arguments that ask for the same (handed to a window that runs already).
    QStringList Arguments() const;
};

struct TCvCommandLineResult {
    TCvCommandLine Options;
    // Empty when all is well; else what is wrong, for the user (the exit code is then
    // kExitBadArguments and nothing starts).
    QString Error;
    bool Ok() const { return Error.isEmpty(); }
};

inline constexpr int kExitBadArguments = 2;
// A script run: it passed; it failed, timed out or was stopped (bad script or argument: 2).
inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;

// arguments[0] is the program. Options Qt itself takes (-platform, -style ...) are left to
// it. A DEVICE that is a path must exist; a relative one is taken from workDir.
TCvCommandLineResult ParseCommandLine(const QStringList& arguments, const QString& workDir = QString());
// Line options alone (--baud 9600 --parity even ...), as a script names them for a port it
// opens: the same values and messages as on the command line; no DEVICE, no other option.
TCvCommandLineResult ParseLineOptions(const QStringList& options);
// What --help prints, in the form of a manual page.
QString CommandLineHelp();
// What --version prints.
QString CommandLineVersion();
