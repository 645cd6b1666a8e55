#include "CvCommandLine.h"
#include "PtyPair.h"
#include "SysfsFixture.h"
#include "TCvComPortObj.h"
#include "TCvInstance.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList Lines(const TLogView* view)
{
    QStringList out;
    for (qint64 i = 0; i < view->Model().LineCount(); ++i) out << view->Model().Line(i);
    return out;
}

int Count(const QStringList& lines, const QString& part)
{
    return int(
        std::count_if(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.contains(part); }));
}

// The environment of a corvane started by the test: the test's folders, no display.
QProcessEnvironment ProgramEnvironment(const QString& root)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_s, root + u"/data"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, root + u"/config"_s);
    env.insert(u"XDG_RUNTIME_DIR"_s, root + u"/run"_s);
    env.insert(u"HOME"_s, root + u"/home"_s);
    env.remove(u"DISPLAY"_s);
    env.remove(u"WAYLAND_DISPLAY"_s);
    env.remove(u"QT_QPA_PLATFORM"_s);
    return env;
}

struct Run {
    int code = -1;
    QString out, err;
};

// Runs the program; the event loop turns meanwhile (a window of this test may be asked).
Run Corvane(const QStringList& args, const QString& root)
{
    QProcess p;
    p.setProcessEnvironment(ProgramEnvironment(root));
    p.start(QStringLiteral(CORVANE_BINARY), args);
    Run r;
    if (!p.waitForStarted(20000)) return r;
    if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 60000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// A runtime folder of the test's own, so no window of the user is ever asked.
struct RuntimeDir {
    QByteArray before = qgetenv("XDG_RUNTIME_DIR");
    explicit RuntimeDir(const QString& path)
    {
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", path.toUtf8());
    }
    ~RuntimeDir()
    {
        if (before.isEmpty()) qunsetenv("XDG_RUNTIME_DIR");
        else qputenv("XDG_RUNTIME_DIR", before);
    }
};

} // namespace

// The command line: what it accepts and refuses, what the program does with it (exit codes,
// --list without a display), the device opened at start, and a device handed to the window
// that runs already by a second start of the real program.
class TstCommandLine : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void parse_data();
    void parse();
    void refused_data();
    void refused();
    void exitCodes_data();
    void exitCodes();
    void listAgainstTheSysfsRoot();
    void openAtStart_data();
    void openAtStart();
    void handOverToTheRunningWindow();
    void oneListenerPerFolder();
    void helpTextsAgree();
    void scriptOption_data();
    void scriptOption();
    void lineOptionsAlone_data();
    void lineOptionsAlone();
};

void TstCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("workDir");
    QTest::addColumn<QStringList>("same"); // TCvCommandLine::Arguments() of what was understood
    QTest::addColumn<int>("baud");         // the index, -1: none given
    QTest::addColumn<QString>("flags");    // list, help, version, new-window as l h v n

    const QString dev = u"/dev/null"_s; // a character device; the port layer tells later that it is no tty
    QTest::newRow("nothing") << QStringList{u"corvane"_s} << QString() << QStringList{u"corvane"_s} << -1
                             << QString();
    QTest::newRow("device and baud") << QStringList{u"corvane"_s, dev, u"-b"_s, u"115200"_s} << QString()
                                     << QStringList{u"corvane"_s, dev, u"--baud"_s, u"115200"_s}
                                     << int(br115200) << QString();
    QTest::newRow("options first, compact")
        << QStringList{u"corvane"_s, u"-b9600"_s, dev} << QString()
        << QStringList{u"corvane"_s, dev, u"--baud"_s, u"9600"_s} << int(br9600) << QString();
    QTest::newRow("long with =") << QStringList{u"corvane"_s, u"--baud=57600"_s, dev} << QString()
                                 << QStringList{u"corvane"_s, dev, u"--baud"_s, u"57600"_s} << int(br57600)
                                 << QString();
    QTest::newRow("a rate not in the list")
        << QStringList{u"corvane"_s, dev, u"-b"_s, u"250000"_s} << QString()
        << QStringList{u"corvane"_s, dev, u"--baud"_s, u"250000"_s} << int(brCustom) << QString();
    QTest::newRow("every line setting")
        << QStringList{u"corvane"_s, dev,      u"-d"_s, u"7"_s,      u"-p"_s,        u"even"_s,
                       u"-s"_s,      u"1.5"_s, u"-f"_s, u"rtscts"_s, u"--receive"_s, u"hex"_s}
        << QString()
        << QStringList{u"corvane"_s,    dev,      u"--databits"_s, u"7"_s,      u"--parity"_s,  u"even"_s,
                       u"--stopbits"_s, u"1.5"_s, u"--flow"_s,     u"rtscts"_s, u"--receive"_s, u"hex"_s}
        << -1 << QString();
    QTest::newRow("values in any case")
        << QStringList{u"corvane"_s, dev, u"-p"_s, u"SPACE"_s, u"-f"_s, u"XonXoff"_s} << QString()
        << QStringList{u"corvane"_s, dev, u"--parity"_s, u"space"_s, u"--flow"_s, u"xonxoff"_s} << -1
        << QString();
    QTest::newRow("network port") << QStringList{u"corvane"_s, u"rfc2217://127.0.0.1:2217"_s, u"-b"_s,
                                                 u"9600"_s}
                                  << QString()
                                  << QStringList{u"corvane"_s, u"rfc2217://127.0.0.1:2217"_s, u"--baud"_s,
                                                 u"9600"_s}
                                  << int(br9600) << QString();
    QTest::newRow("TCP server") << QStringList{u"corvane"_s, u"tcp-server://127.0.0.1:5000"_s} << QString()
                                << QStringList{u"corvane"_s, u"tcp-server://127.0.0.1:5000"_s} << -1
                                << QString();
    QTest::newRow("a kernel name means /dev") << QStringList{u"corvane"_s, u"null"_s} << u"/tmp"_s
                                              << QStringList{u"corvane"_s, dev} << -1 << QString();
    QTest::newRow("a relative path") << QStringList{u"corvane"_s, u"../dev/./null"_s} << u"/tmp"_s
                                     << QStringList{u"corvane"_s, dev} << -1 << QString();
    QTest::newRow("Qt's own options are Qt's")
        << QStringList{u"corvane"_s, u"-platform"_s, u"offscreen"_s, u"-style=fusion"_s, u"-reverse"_s, dev}
        << QString() << QStringList{u"corvane"_s, dev} << -1 << QString();
    QTest::newRow("language") << QStringList{u"corvane"_s, u"--lang"_s, u"zh"_s} << QString()
                              << QStringList{u"corvane"_s, u"--lang"_s, u"zh"_s} << -1 << QString();
    QTest::newRow("list") << QStringList{u"corvane"_s, u"--list"_s} << QString() << QStringList{u"corvane"_s}
                          << -1 << u"l"_s;
    QTest::newRow("help") << QStringList{u"corvane"_s, u"-h"_s} << QString() << QStringList{u"corvane"_s}
                          << -1 << u"h"_s;
    QTest::newRow("version") << QStringList{u"corvane"_s, u"--version"_s} << QString()
                             << QStringList{u"corvane"_s} << -1 << u"v"_s;
    QTest::newRow("new window") << QStringList{u"corvane"_s, dev, u"--new-window"_s} << QString()
                                << QStringList{u"corvane"_s, dev, u"--new-window"_s} << -1 << u"n"_s;
}

void TstCommandLine::parse()
{
    QFETCH(QStringList, args);
    QFETCH(QString, workDir);
    QFETCH(QStringList, same);
    QFETCH(int, baud);
    QFETCH(QString, flags);
    const TCvCommandLineResult r = ParseCommandLine(args, workDir);
    QVERIFY2(r.Ok(), qPrintable(r.Error));
    QCOMPARE(r.Options.Arguments(), same);
    QCOMPARE(r.Options.BaudRate.value_or(-1), baud);
    QCOMPARE(r.Options.List, flags.contains(u'l'));
    QCOMPARE(r.Options.Help, flags.contains(u'h'));
    QCOMPARE(r.Options.Version, flags.contains(u'v'));
    QCOMPARE(r.Options.NewWindow, flags.contains(u'n'));
    // What is handed to a running window reads back as the same.
    const TCvCommandLineResult again = ParseCommandLine(same);
    QVERIFY2(again.Ok(), qPrintable(again.Error));
    QCOMPARE(again.Options.Arguments(), same);
}

void TstCommandLine::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    const QString dev = u"/dev/null"_s;
    const auto row = [](const char* name, const QStringList& args, const QString& error) {
        QStringList all{u"corvane"_s};
        all << args;
        QTest::newRow(name) << all << error;
    };
    row("unknown option", {u"--frob"_s}, u"Unknown option 'frob'."_s);
    row("option without its value", {dev, u"-b"_s}, u"Missing value after '-b'."_s);
    row("baud not a number", {dev, u"-b"_s, u"fast"_s},
        u"invalid value 'fast' for --baud (a whole number of bits per second, such as 115200)"_s);
    row("baud zero", {dev, u"-b"_s, u"0"_s}, u"invalid value '0' for --baud"_s);
    row("baud negative", {dev, u"--baud=-9600"_s}, u"invalid value '-9600' for --baud"_s);
    row("baud past 32 bits", {dev, u"-b"_s, u"99999999999"_s}, u"invalid value '99999999999' for --baud"_s);
    row("baud with a fraction", {dev, u"-b"_s, u"9600.5"_s}, u"invalid value '9600.5' for --baud"_s);
    row("nine data bits", {dev, u"-d"_s, u"9"_s}, u"invalid value '9' for --databits (5|6|7|8)"_s);
    row("parity", {dev, u"-p"_s, u"e"_s}, u"invalid value 'e' for --parity (none|odd|even|mark|space)"_s);
    row("three stop bits", {dev, u"-s"_s, u"3"_s}, u"invalid value '3' for --stopbits (1|1.5|2)"_s);
    row("flow", {dev, u"-f"_s, u"cts"_s}, u"invalid value 'cts' for --flow (rtscts|xonxoff|none)"_s);
    row("receive format", {dev, u"--receive"_s, u"graphic"_s},
        u"invalid value 'graphic' for --receive (ascii|hex)"_s);
    row("language", {u"--lang"_s, u"fr"_s}, u"invalid value 'fr' for --lang (en|zh)"_s);
    row("two devices", {dev, u"/dev/zero"_s}, u"one DEVICE at a time, not /dev/null /dev/zero"_s);
    row("settings without a device", {u"-b"_s, u"9600"_s}, u"the line settings need a DEVICE to apply to"_s);
    row("no such device", {u"/dev/corvane-none"_s}, u"/dev/corvane-none: no such device"_s);
    row("a folder", {u"/"_s}, u"/: not a serial port (not a character device)"_s);
    row("network port without a port", {u"tcp://host"_s}, u"tcp://host: not a network port name"_s);
    row("network port number too large", {u"rfc2217://h:70000"_s},
        u"rfc2217://h:70000: not a network port name"_s);
    row("an unknown scheme", {u"udp://h:1"_s}, u"udp://h:1: not a network port name"_s);
    row("list with a device", {u"--list"_s, dev}, u"--list takes no DEVICE"_s);
}

void TstCommandLine::refused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const TCvCommandLineResult r = ParseCommandLine(args);
    QVERIFY(!r.Ok());
    QVERIFY2(r.Error.startsWith(error), qPrintable(r.Error));
}

void TstCommandLine::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out"); // a part of standard output
    QTest::addColumn<QString>("err"); // a part of standard error
    QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"SYNOPSIS"_s << QString();
    QTest::newRow("version") << QStringList{u"--version"_s} << 0 << u"corvane 4.20\n"_s << QString();
    QTest::newRow("list") << QStringList{u"--list"_s} << 0 << u"Virtual Port ("_s << QString();
    QTest::newRow("unknown option") << QStringList{u"-x"_s} << 2 << QString()
                                    << u"corvane: Unknown option 'x'.\nTry 'corvane --help'"_s;
    QTest::newRow("no such device") << QStringList{u"/dev/corvane-none"_s, u"-b"_s, u"9600"_s} << 2
                                    << QString() << u"corvane: /dev/corvane-none: no such device"_s;
    QTest::newRow("bad value") << QStringList{u"/dev/null"_s, u"-p"_s, u"sometimes"_s} << 2 << QString()
                               << u"for --parity"_s;
}

// Everything here ends before a window would be made: no display is needed, none is there.
void TstCommandLine::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QTemporaryDir root;
    PtyPair pty;
    // A virtual port kept in the settings is listed.
    QDir().mkpath(root.path() + u"/data/My Corvane/Setting"_s);
    QFile ini(root.path() + u"/data/My Corvane/Setting/Corvane.ini"_s);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[VirtualPorts]\r\nCount=1\r\nPort1=" + pty.SlavePath().toUtf8() + "\r\n");
    ini.close();
    const Run r = Corvane(args, root.path());
    QCOMPARE(r.code, code);
    if (!out.isEmpty()) QVERIFY2(r.out.contains(out), qPrintable(r.out));
    if (!err.isEmpty()) QVERIFY2(r.err.contains(err), qPrintable(r.err));
    if (code != 0) QVERIFY(r.out.isEmpty());
    if (args == QStringList{u"--list"_s}) {
        QVERIFY(r.out.startsWith(u"PATH "_s));
        QVERIFY(r.out.contains(pty.SlavePath() + u' '));
    }
    // Nothing was written by a run that ended at its arguments.
    QVERIFY(!QFile::exists(root.path() + u"/data/My Corvane/Logs"_s));
}

// What --list prints, against a sysfs tree of the test with udev's links in a dev folder
// of its own, and the ports the settings file keeps.
void TstCommandLine::listAgainstTheSysfsRoot()
{
    QTemporaryDir root;
    SysfsFixture sys(root.path() + u"/sys"_s);
    FixtureUsb ftdi;
    ftdi.product = "FT232R USB UART\n";
    ftdi.serial = "A50285BI\n";
    FixtureUsb board;
    board.driver = "cdc_acm";
    board.busPath = u"1-2"_s;
    board.vendorId = "2e8a";
    board.productId = "000a";
    board.interfaceText = "Board CDC UART\n";
    QVERIFY(sys.Add({usbSerial(u"ttyUSB0"_s, ftdi), acm(u"ttyACM0"_s, board)}));
    const QString dev = root.path() + u"/dev"_s;
    QVERIFY(QDir().mkpath(dev + u"/serial/by-id"_s));
    const QString byId = dev + u"/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"_s;
    QVERIFY(QFile::link(u"../../ttyUSB0"_s, byId));
    PtyPair pty;
    const QString settings = root.path() + u"/Corvane.ini"_s;
    QFile ini(settings);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[VirtualPorts]\r\nCount=2\r\nPort1=" + pty.SlavePath().toUtf8() +
        "\r\nPort2=/dev/corvane-gone\r\n[NetworkPorts]\r\nCount=1\r\nPort1=rfc2217://10.0.0.7:2217\r\n");
    ini.close();

    const QStringList lines =
        ListDevicesText(sys.Root(), dev, settings, false).split(u'\n', Qt::SkipEmptyParts);
    const auto columns = [](const QString& line) { return line.simplified().split(u' '); };
    QCOMPARE(lines.size(), 5);
    QCOMPARE(columns(lines[0]).mid(0, 5),
             (QStringList{u"PATH"_s, u"USB"_s, u"SERIAL"_s, u"BY-ID"_s, u"NAME"_s}));
    QCOMPARE(columns(lines[1]).mid(0, 4), (QStringList{dev + u"/ttyACM0"_s, u"2e8a:000a"_s, u"-"_s, u"-"_s}));
    QVERIFY(lines[1].endsWith(u"Board CDC UART (ttyACM0)"_s));
    QCOMPARE(columns(lines[2]).mid(0, 4),
             (QStringList{dev + u"/ttyUSB0"_s, u"0403:6001"_s, u"A50285BI"_s, byId}));
    QVERIFY(lines[2].endsWith(u"FT232R USB UART (ttyUSB0)"_s));
    // A virtual port whose path is gone is not listed, as in the window.
    QCOMPARE(columns(lines[3]).mid(0, 4), (QStringList{pty.SlavePath(), u"-"_s, u"-"_s, u"-"_s}));
    QVERIFY(lines[3].endsWith(u"Virtual Port ("_s + pty.SlavePath() + u')'));
    QCOMPARE(columns(lines[4]).first(), u"rfc2217://10.0.0.7:2217"_s);
    QVERIFY(lines[4].endsWith(u"RFC 2217 (10.0.0.7:2217)"_s));
}

void TstCommandLine::openAtStart_data()
{
    QTest::addColumn<QStringList>("given"); // after the device
    QTest::addColumn<bool>("throughLink");  // the device named by a link to it, already listed
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("custom");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("receive");
    // The port's saved file says 19200, 7 data bits, even parity.
    QTest::newRow("only the baud rate given") << QStringList{u"-b"_s, u"115200"_s} << false << int(br115200)
                                              << 0 << int(dbSeven) << int(prEven) << int(rfAscii);
    QTest::newRow("everything given")
        << QStringList{u"-b"_s, u"250000"_s, u"-d"_s, u"8"_s, u"-p"_s, u"odd"_s, u"--receive"_s, u"hex"_s}
        << false << int(brCustom) << 250000 << int(dbEight) << int(prOdd) << int(rfHex);
    QTest::newRow("nothing given") << QStringList{} << false << int(br19200) << 0 << int(dbSeven)
                                   << int(prEven) << int(rfAscii);
    QTest::newRow("by a link to a listed port") << QStringList{u"-p"_s, u"none"_s} << true << int(br19200)
                                                << 0 << int(dbSeven) << int(prNone) << int(rfAscii);
}

void TstCommandLine::openAtStart()
{
    QFETCH(QStringList, given);
    QFETCH(bool, throughLink);
    QFETCH(int, baud);
    QFETCH(int, custom);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, receive);
    UiTestEnv env;
    PtyPair pty;
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    env.WriteSetting(SafeFileNamePart(name) + u".ini"_s,
                     "[]\r\nPort=x\r\nBaudRate=19200\r\nDataBits=7\r\nParity=Even\r\nStopBits=1\r\n");
    QString device = pty.SlavePath();
    if (throughLink) {
        device = env.tmp.filePath(u"board"_s);
        QVERIFY(QFile::link(pty.SlavePath(), device));
    }
    const TCvCommandLineResult parsed = ParseCommandLine(QStringList{u"corvane"_s, device} + given);
    QVERIFY2(parsed.Ok(), qPrintable(parsed.Error));

    auto w = UiTestEnv::Start("en_US");
    w->show();
    if (throughLink) QVERIFY(w->AddVirtualPort(pty.SlavePath()));
    QVERIFY(w->OpenFromCommandLine(parsed.Options));
    TCvComPortObj* obj = w->GetDeciceByFullName(name);
    QVERIFY(obj && obj->Connected());
    // Listed once: the link found the port that is there, it added none.
    QCOMPARE(w->VirtualPortPaths(), QStringList{pty.SlavePath()});
    QCOMPARE(obj->BaudRate(), baud);
    if (baud == brCustom) QCOMPARE(obj->CustomBaudRate(), custom);
    QCOMPARE(obj->DataBits(), dataBits);
    QCOMPARE(obj->Parity().FBits, parity);
    QCOMPARE(obj->FReceiveFormat.load(), receive);
    // The panel shows what it runs with, and the device is the one selected.
    QCOMPARE(w->GetCurrentDeviceName(), name);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox1"_s)->currentIndex(), baud);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox4"_s)->currentIndex(), parity);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->currentIndex(), receive);
    QCOMPARE(
        Count(Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)), u"Opening %1 as the command line asks."_s.arg(name)),
        1);
    // Data flows.
    QVERIFY(pty.Write("hello\r\n"));
    QTRY_COMPARE(obj->FComReceiveCount.load(), qint64(7));
    // What it ran with is its own from now on.
    w->close();
    const QByteArray saved = ReadFile(env.SettingDir() + SafeFileNamePart(name) + u".ini"_s);
    QVERIFY2(saved.contains("Parity=" + TCustomComPort::ParityTexts()[parity].toUtf8() + "\r\n"),
             saved.constData());
}

void TstCommandLine::handOverToTheRunningWindow()
{
    UiTestEnv env;
    RuntimeDir runtime(env.tmp.path() + u"/run"_s);
    PtyPair first, second;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    TCvInstanceServer server;
    QVERIFY2(server.Listen(w->CorvaneCfgDir), qPrintable(server.Error()));
    QCOMPARE(TCvInstanceServer::SocketPath(w->CorvaneCfgDir).section(u'/', 0, -2),
             env.tmp.path() + u"/run"_s);
    w->TakeRequestsFrom(&server);
    // The first device is open already in the window, the second comes from another start.
    QVERIFY(w->AddVirtualPort(first.SlavePath()));
    QVERIFY(w->OpenFromCommandLine(ParseCommandLine({u"corvane"_s, first.SlavePath()}).Options));

    const Run r =
        Corvane({second.SlavePath(), u"-b"_s, u"57600"_s, u"--receive"_s, u"hex"_s}, env.tmp.path());
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, u"corvane: %1 opens in the running Corvane window (pid %2).\n"_s.arg(second.SlavePath())
                        .arg(QCoreApplication::applicationPid()));
    const QString name = u"Virtual Port (%1)"_s.arg(second.SlavePath());
    TCvComPortObj* obj = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((obj = w->GetDeciceByFullName(name)) && obj->Connected(), 20000);
    QCOMPARE(obj->BaudRate(), int(br57600));
    QCOMPARE(obj->FReceiveFormat.load(), int(rfHex));
    // In a tab of its own, beside the first device's.
    const QStringList pages = Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCaptions();
    QCOMPARE(pages.mid(0, 2), (QStringList{u"Virtual Port (%1)"_s.arg(first.SlavePath()), name}));
    const QStringList main = Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s));
    QCOMPARE(Count(main, u"Another start of Corvane asks to open %1."_s.arg(second.SlavePath())), 1);
    QVERIFY(second.Write("AB"));
    QTRY_COMPARE(obj->FComReceiveCount.load(), qint64(2));

    // Asked again for it: it is open already, and nothing else happens.
    const Run again = Corvane({second.SlavePath()}, env.tmp.path());
    QCOMPARE(again.code, 0);
    QTRY_COMPARE(Count(Lines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)), u"Device %1 is open already."_s.arg(name)),
                 1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCaptions(), pages);
    QVERIFY(env.boxes.isEmpty());
}

void TstCommandLine::oneListenerPerFolder()
{
    QTemporaryDir root;
    RuntimeDir runtime(root.path() + u"/run"_s);
    const QString cfg = root.path() + u"/data/My Corvane/"_s;
    // Left behind by a window that did not end in order: taken over.
    QFile stale(TCvInstanceServer::SocketPath(cfg));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    TCvInstanceServer server;
    QVERIFY2(server.Listen(cfg), qPrintable(server.Error()));
    // A second one for the same folder does not take it from the first.
    TCvInstanceServer second;
    QVERIFY(!second.Listen(cfg));
    QVERIFY(second.Error().contains(u"another Corvane window listens"_s));
    // Another folder is another window.
    TCvInstanceServer other;
    QVERIFY(other.Listen(root.path() + u"/elsewhere/My Corvane/"_s));
    // Requests that are not what a start of Corvane sends are answered as such, and
    // nothing opens. (Sent from this thread without waiting: the server answers from it.)
    bool asked = false;
    connect(&server, &TCvInstanceServer::Requested, this, [&] { asked = true; });
    const auto ask = [&](const QByteArray& request) {
        QLocalSocket s;
        s.connectToServer(TCvInstanceServer::SocketPath(cfg));
        QByteArray answer;
        if (!QTest::qWaitFor([&] { return s.state() == QLocalSocket::ConnectedState; }, 10000)) return answer;
        s.write(request);
        if (!QTest::qWaitFor([&] { return (answer += s.readAll()).endsWith('\n'); }, 10000))
            answer += "(none)";
        return answer;
    };
    QCOMPARE(ask("{\"args\":[\"corvane\",\"--frob\"]}\n"), QByteArray("error Unknown option 'frob'.\n"));
    QCOMPARE(ask("garbage\n"), QByteArray("error not a request of Corvane\n"));
    QCOMPARE(ask("{\"args\":[\"corvane\",7]}\n"), QByteArray("error not a request of Corvane\n"));
    // Without a device there is nothing to open, but it is no error.
    QCOMPARE(ask("{\"args\":[\"corvane\"]}\n"),
             "ok " + QByteArray::number(QCoreApplication::applicationPid()) + '\n');
    QVERIFY(!asked);
    QString reply;
    QCOMPARE(HandOver(root.path() + u"/nobody/"_s, {u"corvane"_s}, &reply), THandOver::NoWindow);
}

namespace {
QString ReadText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
QSet<QString> LongOptions(const QString& text)
{
    static const QRegularExpression option(u"(?<![\\w-])--[a-z][a-z-]*"_s);
    QSet<QString> found;
    for (auto it = option.globalMatch(text); it.hasNext();) found.insert(it.next().captured());
    return found;
}
} // namespace

// --help, the help page's section and README's first section tell the same.
void TstCommandLine::helpTextsAgree()
{
    const QString help = CommandLineHelp();
    const QString html = ReadText(QStringLiteral(CORVANE_HELP_SOURCE));
    const QString readme = ReadText(QStringLiteral(CORVANE_SOURCE_DIR) + u"/README.md"_s);
    QVERIFY(!html.isEmpty() && !readme.isEmpty());
    const qsizetype from = html.indexOf(u"<h2>Command line</h2>"_s);
    QVERIFY(from >= 0);
    const QString section = html.mid(from, html.indexOf(u"<h2>"_s, from + 4) - from);
    const QSet<QString> options = LongOptions(help);
    QCOMPARE(options, (QSet<QString>{u"--baud"_s, u"--databits"_s, u"--parity"_s, u"--stopbits"_s,
                                     u"--flow"_s, u"--receive"_s, u"--lang"_s, u"--new-window"_s, u"--list"_s,
                                     u"--version"_s, u"--help"_s, u"--script"_s}));
    QCOMPARE(LongOptions(section), options);
    // Every option --help names is one the parser takes.
    for (const QString& o : options) {
        const bool takesValue =
            !(o == u"--list"_s || o == u"--version"_s || o == u"--help"_s || o == u"--new-window"_s);
        QStringList args{u"corvane"_s, o};
        if (takesValue) args << u"x"_s;
        const QString error = ParseCommandLine(args).Error;
        QVERIFY2(!error.startsWith(u"Unknown option"_s), qPrintable(o));
    }
    const QString firstSection = readme.left(readme.indexOf(u"\n## "_s));
    for (const QString& example : {u"corvane /dev/ttyUSB0 -b 115200"_s, u"corvane --list"_s}) {
        QVERIFY2(help.contains(example), qPrintable(example));
        QVERIFY2(section.contains(example), qPrintable(example));
        QVERIFY2(firstSection.contains(example), qPrintable(example));
    }
}

void TstCommandLine::scriptOption_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("script"); // as understood (in the folder of the test)
    QTest::addColumn<QString>("error");
    QTest::newRow("alone") << QStringList{u"--script"_s, u"check.js"_s} << u"/check.js"_s << QString();
    QTest::newRow("with a device and settings")
        << QStringList{u"--script"_s, u"check.js"_s, u"/dev/null"_s, u"-b"_s, u"9600"_s} << u"/check.js"_s
        << QString();
    QTest::newRow("no such script") << QStringList{u"--script"_s, u"none.js"_s} << QString()
                                    << u"none.js: no such script"_s;
    QTest::newRow("a folder") << QStringList{u"--script"_s, u"."_s} << QString()
                              << u".: not a readable file"_s;
    QTest::newRow("with --list") << QStringList{u"--script"_s, u"check.js"_s, u"--list"_s} << QString()
                                 << u"--script runs without a window and does not go with --list"_s;
    QTest::newRow("with --new-window")
        << QStringList{u"--script"_s, u"check.js"_s, u"--new-window"_s} << QString()
        << u"--script runs without a window and does not go with --new-window"_s;
    QTest::newRow("settings without a device")
        << QStringList{u"--script"_s, u"check.js"_s, u"-p"_s, u"even"_s} << QString()
        << u"the line settings need a DEVICE to apply to"_s;
}

void TstCommandLine::scriptOption()
{
    QFETCH(QStringList, args);
    QFETCH(QString, script);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QFile f(dir.filePath(u"check.js"_s));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const TCvCommandLineResult r = ParseCommandLine(QStringList{u"corvane"_s} + args, dir.path());
    QCOMPARE(r.Error, error);
    if (!error.isEmpty()) return;
    QCOMPARE(r.Options.Script, dir.path() + script);
    // A script run is never handed to a window.
    QVERIFY(!r.Options.Arguments().contains(u"--script"_s));
}

void TstCommandLine::lineOptionsAlone_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("error");
    QTest::newRow("none") << QStringList{} << -1 << -1 << QString();
    QTest::newRow("baud and parity") << QStringList{u"--baud"_s, u"19200"_s, u"--parity"_s, u"even"_s}
                                     << int(br19200) << int(prEven) << QString();
    QTest::newRow("a bad value") << QStringList{u"--parity"_s, u"often"_s} << -1 << -1
                                 << u"invalid value 'often' for --parity (none|odd|even|mark|space)"_s;
    QTest::newRow("no line setting") << QStringList{u"--list"_s} << -1 << -1
                                     << u"--list is not a line setting"_s;
    QTest::newRow("a device") << QStringList{u"/dev/null"_s} << -1 << -1 << u"unexpected '/dev/null'"_s;
}

void TstCommandLine::lineOptionsAlone()
{
    QFETCH(QStringList, options);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(QString, error);
    const TCvCommandLineResult r = ParseLineOptions(options);
    QCOMPARE(r.Error, error);
    if (!error.isEmpty()) return;
    QCOMPARE(r.Options.BaudRate.value_or(-1), baud);
    QCOMPARE(r.Options.Parity.value_or(-1), parity);
    QVERIFY(r.Options.Device.isEmpty());
}

QTEST_MAIN(TstCommandLine)
#include "tst_commandline.moc"
