#include "CvCommandLine.h"

#include "TComUIHandleHost.h"
#include "TCustomComPort.h"
#include "TNetworkAddress.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

#include <limits>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Qt takes these from the same command line (QApplication); they are its, not ours.
const QStringList kToolkitWithValue = {
    u"-platform"_s,        u"-platformpluginpath"_s, u"-platformtheme"_s, u"-plugin"_s,
    u"-style"_s,           u"-stylesheet"_s,         u"-display"_s,       u"-geometry"_s,
    u"-qwindowgeometry"_s, u"-qwindowicon"_s,        u"-qwindowtitle"_s,  u"-session"_s};
const QStringList kToolkitFlags = {u"-reverse"_s, u"-widgetcount"_s, u"-nograb"_s, u"-dograb"_s, u"-sync"_s};

bool IsToolkitOption(const QString& arg, bool* takesValue)
{
    for (const QString& o : kToolkitWithValue) {
        if (arg == o) {
            *takesValue = true;
            return true;
        }
        if (arg.startsWith(o + u'=')) {
            *takesValue = false;
            return true;
        }
    }
    *takesValue = false;
    return kToolkitFlags.contains(arg);
}

// The index of text in list (case does not matter), -1 when it is none of them.
int Choice(const QString& text, const QStringList& list)
{
    for (int i = 0; i < list.size(); ++i)
        if (list[i].compare(text, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QString Quoted(const QString& text)
{
    return u'\'' + text + u'\'';
}

const QStringList kParity = {u"none"_s, u"odd"_s, u"even"_s, u"mark"_s, u"space"_s};
const QStringList kDataBits = {u"5"_s, u"6"_s, u"7"_s, u"8"_s};
const QStringList kStopBits = {u"1"_s, u"1.5"_s, u"2"_s};
// In the order of TFlowControl's values where they have one.
const QStringList kFlow = {u"rtscts"_s, u"xonxoff"_s, u"none"_s};
const QStringList kReceive = {u"ascii"_s, u"hex"_s};

bool LooksLikeNetworkName(const QString& device)
{
    return device.contains(u"://"_s);
}

// A device path as the user gave it: absolute, and there.
QString CheckPath(const QString& device, const QString& workDir, QString* error)
{
    QString path = device;
    if (QFileInfo(path).isRelative()) {
        // A bare kernel name ("ttyUSB0") means the node in /dev, as every terminal takes it.
        if (!path.contains(u'/') && QFileInfo::exists(u"/dev/"_s + path)) path = u"/dev/"_s + path;
        else path = QDir(workDir.isEmpty() ? QDir::currentPath() : workDir).absoluteFilePath(path);
    }
    path = QDir::cleanPath(path);
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        *error = u"%1: no such device"_s.arg(device);
        return {};
    }
    if (!S_ISCHR(st.st_mode)) {
        *error = u"%1: not a serial port (not a character device)"_s.arg(device);
        return {};
    }
    return path;
}

} // namespace

bool TCvCommandLine::IsNetworkDevice() const
{
    return TNetworkAddress::Parse(Device).Kind != TNetworkKind::None;
}

void TCvCommandLine::ApplyTo(TCustomComPort& port) const
{
    port.BeginUpdate();
    if (BaudRate) {
        if (*BaudRate == brCustom) port.SetCustomBaudRate(CustomBaudRate);
        port.SetBaudRate(*BaudRate);
    }
    if (DataBits) port.SetDataBits(*DataBits);
    if (Parity) port.SetParityBits(*Parity);
    if (StopBits) port.SetStopBits(*StopBits);
    if (FlowControl) port.SetFlowControl(*FlowControl);
    port.EndUpdate();
}

QStringList TCvCommandLine::Arguments() const
{
    QStringList args{u"corvane"_s};
    if (!Device.isEmpty()) args << Device;
    if (BaudRate)
        args << u"--baud"_s
             << QString::number(*BaudRate == brCustom ? CustomBaudRate
                                                      : TCustomComPort::BaudRateValue(*BaudRate));
    if (DataBits) args << u"--databits"_s << kDataBits.value(*DataBits);
    if (Parity) args << u"--parity"_s << kParity.value(*Parity);
    if (StopBits) args << u"--stopbits"_s << kStopBits.value(*StopBits);
    if (FlowControl) args << u"--flow"_s << kFlow.value(*FlowControl);
    if (ReceiveFormat) args << u"--receive"_s << kReceive.value(*ReceiveFormat);
    if (!Language.isEmpty()) args << u"--lang"_s << (Language == u"CN"_s ? u"zh"_s : u"en"_s);
    if (NewWindow) args << u"--new-window"_s;
    return args;
}

namespace {

TCvCommandLineResult Parse(const QStringList& arguments, const QString& workDir, bool lineOptionsOnly)
{
    TCvCommandLineResult result;
    TCvCommandLine& o = result.Options;

    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        bool takesValue = false;
        if (i > 0 && IsToolkitOption(arguments[i], &takesValue)) {
            if (takesValue) ++i;
            continue;
        }
        ours << arguments[i];
    }
    if (ours.isEmpty()) ours << u"corvane"_s;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption baud({u"b"_s, u"baud"_s}, {}, u"BAUD"_s);
    const QCommandLineOption data({u"d"_s, u"databits"_s}, {}, u"BITS"_s);
    const QCommandLineOption parity({u"p"_s, u"parity"_s}, {}, u"PARITY"_s);
    const QCommandLineOption stop({u"s"_s, u"stopbits"_s}, {}, u"BITS"_s);
    const QCommandLineOption flow({u"f"_s, u"flow"_s}, {}, u"FLOW"_s);
    const QCommandLineOption receive(u"receive"_s, {}, u"FORMAT"_s);
    const QCommandLineOption lang(u"lang"_s, {}, u"LANGUAGE"_s);
    const QCommandLineOption list(u"list"_s);
    const QCommandLineOption version(u"version"_s);
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption newWindow(u"new-window"_s);
    const QCommandLineOption script(u"script"_s, {}, u"FILE"_s);
    parser.addOptions(
        {baud, data, parity, stop, flow, receive, lang, list, version, help, newWindow, script});
    if (!parser.parse(ours)) {
        result.Error = parser.errorText();
        return result;
    }
    if (lineOptionsOnly) {
        for (const QCommandLineOption* other :
             {&receive, &lang, &list, &version, &help, &newWindow, &script}) {
            if (parser.isSet(*other)) {
                result.Error = u"--%1 is not a line setting"_s.arg(other->names().constLast());
                return result;
            }
        }
        if (!parser.positionalArguments().isEmpty()) {
            result.Error = u"unexpected %1"_s.arg(Quoted(parser.positionalArguments().join(u' ')));
            return result;
        }
    }

    o.Help = parser.isSet(help);
    o.Version = parser.isSet(version);
    o.List = parser.isSet(list);
    o.NewWindow = parser.isSet(newWindow);

    const auto bad = [&result](const QString& option, const QString& value, const QString& want) {
        result.Error = u"invalid value %1 for %2 (%3)"_s.arg(Quoted(value), option, want);
    };
    if (parser.isSet(baud)) {
        const QString v = parser.value(baud);
        bool ok = false;
        const qlonglong rate = v.toLongLong(&ok);
        if (!ok || rate < 1 || rate > std::numeric_limits<int>::max() || v.startsWith(u'+')) {
            bad(u"--baud"_s, v, u"a whole number of bits per second, such as 115200"_s);
            return result;
        }
        const int index = Choice(QString::number(rate), TCustomComPort::BaudRateTexts());
        if (index > 0) {
            o.BaudRate = index;
        } else {
            o.BaudRate = brCustom;
            o.CustomBaudRate = int(rate);
        }
    }
    const auto pick = [&](const QCommandLineOption& option, const QString& name, const QStringList& choices,
                          std::optional<int>& into) {
        if (!parser.isSet(option)) return true;
        const QString v = parser.value(option);
        const int i = Choice(v, choices);
        if (i < 0) {
            bad(name, v, choices.join(u'|'));
            return false;
        }
        into = i;
        return true;
    };
    if (!pick(data, u"--databits"_s, kDataBits, o.DataBits)) return result;
    if (!pick(parity, u"--parity"_s, kParity, o.Parity)) return result;
    if (!pick(stop, u"--stopbits"_s, kStopBits, o.StopBits)) return result;
    if (!pick(flow, u"--flow"_s, kFlow, o.FlowControl)) return result;
    if (!pick(receive, u"--receive"_s, kReceive, o.ReceiveFormat)) return result;
    std::optional<int> language;
    if (!pick(lang, u"--lang"_s, {u"en"_s, u"zh"_s}, language)) return result;
    if (language) o.Language = *language == 0 ? u"EN"_s : u"CN"_s;

    if (!lineOptionsOnly && parser.isSet(script)) {
        const QString file = parser.value(script);
        const QFileInfo info(QDir(workDir.isEmpty() ? QDir::currentPath() : workDir), file);
        if (!info.exists()) {
            result.Error = u"%1: no such script"_s.arg(file);
            return result;
        }
        if (!info.isFile() || !info.isReadable()) {
            result.Error = u"%1: not a readable file"_s.arg(file);
            return result;
        }
        o.Script = info.absoluteFilePath();
        if (o.List || o.Help || o.Version || o.NewWindow) {
            result.Error = u"--script runs without a window and does not go with %1"_s.arg(
                o.List      ? u"--list"_s
                : o.Help    ? u"--help"_s
                : o.Version ? u"--version"_s
                            : u"--new-window"_s);
            return result;
        }
    }
    if (lineOptionsOnly) return result;

    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        result.Error = u"one DEVICE at a time, not %1"_s.arg(positional.join(u' '));
        return result;
    }
    const QString device = positional.value(0);
    if ((o.List || o.Help || o.Version) && !device.isEmpty()) {
        result.Error = u"%1 takes no DEVICE"_s.arg(o.List   ? u"--list"_s
                                                   : o.Help ? u"--help"_s
                                                            : u"--version"_s);
        return result;
    }
    const bool lineOptions =
        o.BaudRate || o.DataBits || o.Parity || o.StopBits || o.FlowControl || o.ReceiveFormat;
    if (lineOptions && device.isEmpty() && !o.Help && !o.Version && !o.List) {
        result.Error = u"the line settings need a DEVICE to apply to"_s;
        return result;
    }
    if (device.isEmpty()) return result;

    if (LooksLikeNetworkName(device)) {
        const TNetworkAddress address = TNetworkAddress::Parse(device);
        if (address.Kind == TNetworkKind::None || !address.IsValid()) {
            result.Error = u"%1: not a network port name (tcp://HOST:PORT, tcp-server://ADDRESS:PORT or "
                           u"rfc2217://HOST:PORT)"_s.arg(device);
            return result;
        }
        o.Device = address.PortName();
        return result;
    }
    QString error;
    o.Device = CheckPath(device, workDir, &error);
    if (!error.isEmpty()) result.Error = error;
    return result;
}

} // namespace

TCvCommandLineResult ParseCommandLine(const QStringList& arguments, const QString& workDir)
{
    return Parse(arguments, workDir, false);
}

TCvCommandLineResult ParseLineOptions(const QStringList& options)
{
    return Parse(QStringList{u"corvane"_s} + options, QString(), true);
}

QString CommandLineVersion()
{
    return u"corvane 4.20\n"_s;
}

QString CommandLineHelp()
{
    return uR"(NAME
    corvane - serial port terminal (CORVANE 科万串口终端)

SYNOPSIS
    corvane [DEVICE] [-b BAUD] [-d 5|6|7|8] [-p none|odd|even|mark|space]
            [-s 1|1.5|2] [-f none|rtscts|xonxoff] [--receive ascii|hex]
            [--lang en|zh] [--new-window]
    corvane --script FILE [DEVICE] [line settings]
    corvane --list
    corvane --version
    corvane --help

DESCRIPTION
    Starts the Corvane window. Without arguments it starts as it always has.

    With DEVICE, that port is opened at start in a tab of its own, with the
    settings given here; every setting not given comes from the port's own
    saved settings, and what it runs with is saved for it again when it is
    closed. DEVICE is one of:
        a serial port's path                  /dev/ttyUSB0, /dev/ttyACM0
        a link udev makes for it              /dev/serial/by-id/usb-FTDI_...-if00-port0
                                              /dev/serial/by-path/...
        a virtual port's path                 /dev/pts/3, a socat link
        a network port                        tcp://HOST:PORT
                                              tcp-server://ADDRESS:PORT
                                              rfc2217://HOST:PORT
    A path that is not in the device list yet is added to it as a virtual port,
    a network port as a network port.

    When a Corvane window runs already, DEVICE is handed to that window, which
    opens it in a new tab, and this command ends; so two windows never write
    the same settings files. --new-window starts a second window instead.

    A port another program holds is not opened: the window names the program
    and its pid, and the fix for ModemManager and brltty.

OPTIONS
    -b, --baud BAUD
        Line speed in bits per second: 115200, 9600, or any other whole number
        (a custom rate).
    -d, --databits 5|6|7|8
        Data bits.
    -p, --parity none|odd|even|mark|space
        Parity.
    -s, --stopbits 1|1.5|2
        Stop bits (Linux has no 1.5; 2 are used, and the log says so).
    -f, --flow none|rtscts|xonxoff
        Flow control: none, hardware (RTS/CTS) or software (XON/XOFF).
    --receive ascii|hex
        How received bytes are shown: as text, or as a hex dump.
    --lang en|zh
        The window's language, English or Chinese, instead of the system's.
    --new-window
        Start a window of its own even when one runs already.
    --script FILE
        Run the JavaScript program FILE without a window and without a display,
        for a test bench or a CI job. DEVICE, opened with the line settings
        given (9600 8N1 unless given), is the script's port; the window's saved
        port settings and answer rules are not used. The ports' log lines are
        printed to standard output as they end, each with its date and time.
        The API and examples are in the help page (Scripts).
    --list
        Print the devices the window would list (serial ports with their path,
        USB vendor:product, serial number and /dev/serial/by-id link, then the
        virtual, network and HID devices) and end. Needs no display.
    --version
        Print the version and end.
    -h, --help
        Print this text and end.
    Qt's own options (-platform, -style, ...) are passed to Qt.

EXIT STATUS
    0   the window ran and was closed, DEVICE was handed to the running
        window, or --list, --version or --help printed what was asked;
        with --script: the script passed.
    1   with --script: the script failed, an expect timed out, or it was
        stopped (SIGINT, SIGTERM).
    2   a bad argument: an unknown option, a value out of its choices, or a
        DEVICE that does not exist. Nothing was started. With --script also
        a bad script (a syntax error, an unknown name, a call made wrong), a
        script file that cannot be read, or a DEVICE that cannot be opened.

FILES
    ~/.local/share/My Corvane/Setting/Corvane.ini      the window's settings
    ~/.local/share/My Corvane/Setting/<device>.ini     each port's own settings
    ~/.local/share/My Corvane/Logs/                    the saved logs
    /run/lock/LCK..<device>                            the lock of an open port

EXAMPLES
    corvane /dev/ttyUSB0 -b 115200
    corvane --list
    corvane /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 -b 9600 -p even
    corvane rfc2217://192.168.1.20:2217 -b 57600 --receive hex
    corvane --script at-check.js /dev/ttyUSB0 -b 115200
)"_s;
}
