// Scripts against devices on real ptys: a modem that answers, one that does not, one that
// fails every third command; two ports at once; Stop wherever the script is; errors with
// their lines.
#include "CvCommandLine.h"
#include "CvMessages.h"
#include "CvScriptApi.h"
#include "PortRig.h"
#include "TCvScriptRun.h"

#include <QSocketNotifier>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using TKind = TCvScriptResult::TKind;

Q_DECLARE_METATYPE(TKind)

namespace {

// A modem without echo on the device side of a pty: each command line (ended by CR)
// gets "\r\nOK\r\n", or "\r\nERROR\r\n" when it is not an AT command or is every
// errorEvery-th one; a silent modem answers nothing.
class Modem : public QObject {
public:
    enum TMode { Answers, Silent };
    Modem(PtyPair& pty, TMode mode, int errorEvery = 0)
        : FFd(pty.MasterFd()), FMode(mode), FErrorEvery(errorEvery),
          FNotifier(new QSocketNotifier(pty.MasterFd(), QSocketNotifier::Read, this))
    {
        connect(FNotifier, &QSocketNotifier::activated, this, [this] { OnRead(); });
    }
    int Commands = 0;
    QByteArray Heard;

private:
    void OnRead()
    {
        char buf[4096];
        const ssize_t n = ::read(FFd, buf, sizeof buf);
        if (n <= 0) return;
        Heard.append(buf, n);
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\r') {
                FLine += buf[i];
                continue;
            }
            ++Commands;
            const bool error = !FLine.startsWith("AT") || (FErrorEvery > 0 && Commands % FErrorEvery == 0);
            FLine.clear();
            if (FMode == Silent) continue;
            const QByteArray reply = error ? "\r\nERROR\r\n" : "\r\nOK\r\n";
            QVERIFY(::write(FFd, reply.constData(), size_t(reply.size())) == reply.size());
        }
    }
    int FFd;
    TMode FMode;
    int FErrorEvery;
    QSocketNotifier* FNotifier;
    QByteArray FLine;
};

// The window's part for the scripts: its ports by device path.
struct Host : TCvScriptHost {
    std::vector<PortRig*> Rigs;
    QStringList Messages;
    TCvComPortObj* OpenPort(const QString& name, const TCvCommandLine& options, QString* error) override
    {
        for (PortRig* rig : Rigs) {
            if (rig->pty.SlavePath() != name) continue;
            options.ApplyTo(*rig->obj);
            return rig->obj.get();
        }
        *error = Msg(u"no such device"_s);
        return nullptr;
    }
    void ScriptMessage(const QString& line) override { Messages << line; }
};

struct Rig : PortRig {
    Rig() : PortRig({rfAscii, sfAscii, false, false, false, false}) {}
};

TCvScriptResult RunToEnd(TCvScriptRun& run, const QString& source, TCvComPortObj* port)
{
    if (!run.Start(source, u"/tmp/check.js"_s, port)) return {TKind::Failed, u"did not start"_s, 0};
    if (!run.WaitFinished(60000)) return {TKind::Failed, u"did not end"_s, 0};
    return run.Result();
}

} // namespace

class TstScripts : public QObject {
    Q_OBJECT
private slots:
    void modemAnswers();
    void silentModemTimesOut();
    void countsTheFailuresOfASoak();
    void stopEndsTheScriptWhereverItIs_data();
    void stopEndsTheScriptWhereverItIs();
    void errorsWithTheirLines_data();
    void errorsWithTheirLines();
    void twoPorts();
    void bytesWithACrc();
    void whatAPtyCannotDo_data();
    void whatAPtyCannotDo();
    void aClosedPortFailsTheSend();
    void noPort();
    void textAndBytesReadOneStream_data();
    void textAndBytesReadOneStream();
};

void TstScripts::modemAnswers()
{
    Rig rig;
    Modem modem(rig.pty, Modem::Answers);
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r = RunToEnd(run,
                                       u"port.send(\"AT\\r\");\n"
                                       "var reply = port.expect(\"OK\", 5000);\n"
                                       "log(\"modem says \" + reply);\n"
                                       "pass(\"modem answers\");\n"
                                       "log(\"never here\");\n"_s,
                                       rig.obj.get());
    QCOMPARE(r.Kind, TKind::Passed);
    QCOMPARE(r.Message, u"modem answers"_s);
    QCOMPARE(r.ExitCode(), 0);
    QCOMPARE(modem.Heard, QByteArray("AT\r"));
    // The script's lines are marked in the port's log, among what the modem said.
    QTRY_VERIFY_WITH_TIMEOUT(rig.Lines().contains(Msg(u"[script] passed: %1"_s).arg(u"modem answers"_s)),
                             10000);
    const QStringList lines = rig.Lines();
    QVERIFY(lines.contains(Msg(u"[script] > %1"_s).arg(u"\"AT\\r\""_s)));
    QVERIFY(lines.contains(Msg(u"[script] %1"_s).arg(u"modem says OK"_s)));
    QVERIFY(lines.contains(u"OK"_s));
    QVERIFY(!lines.contains(Msg(u"[script] %1"_s).arg(u"never here"_s)));
}

void TstScripts::silentModemTimesOut()
{
    Rig rig;
    Modem modem(rig.pty, Modem::Silent);
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r =
        RunToEnd(run, u"port.send(\"AT\\r\");\nport.expect(\"OK\", 300);\n"_s, rig.obj.get());
    QCOMPARE(r.Kind, TKind::Failed);
    QCOMPARE(r.Line, 2);
    QCOMPARE(r.Message, Msg(u"%1: expected %2 within %3 ms; received %4"_s)
                            .arg(rig.obj->Port(), u"\"OK\""_s)
                            .arg(300)
                            .arg(Msg(u"nothing"_s)));
    QCOMPARE(r.ExitCode(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.Lines().contains(Msg(u"[script] failed at line %1: %2"_s).arg(2).arg(r.Message)), 10000);
}

// Every third command fails; the script catches nothing, it reads the answer and counts.
void TstScripts::countsTheFailuresOfASoak()
{
    Rig rig;
    Modem modem(rig.pty, Modem::Answers, 3);
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r = RunToEnd(run,
                                       u"var failures = 0;\n"
                                       "for (var i = 0; i < 100; ++i) {\n"
                                       "    port.send(\"AT+CSQ\\r\");\n"
                                       "    if (port.expect(/OK|ERROR/, 5000)[0] === \"ERROR\") ++failures;\n"
                                       "}\n"
                                       "pass(String(failures));\n"_s,
                                       rig.obj.get());
    QCOMPARE(r.Kind, TKind::Passed);
    QCOMPARE(r.Message, u"33"_s);
    QCOMPARE(modem.Commands, 100);
}

void TstScripts::stopEndsTheScriptWhereverItIs_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("a loop without end") << u"var n = 0;\nwhile (true) { ++n; }\n"_s;
    QTest::newRow("an empty loop") << u"while (true) {}\n"_s;
    QTest::newRow("a long sleep") << u"sleep(600000);\n"_s;
    QTest::newRow("a long expect") << u"port.expect(\"never\", 600000);\n"_s;
    QTest::newRow("a loop that catches everything")
        << u"while (true) { try { port.expect(\"never\", 600000); } catch (e) {} }\n"_s;
}

void TstScripts::stopEndsTheScriptWhereverItIs()
{
    QFETCH(QString, source);
    Rig rig;
    Host host;
    TCvScriptRun run(&host);
    QVERIFY(run.Start(source, u"/tmp/loop.js"_s, rig.obj.get()));
    QTest::qWait(200);
    QVERIFY(run.Running());
    // The window goes on meanwhile: the port still shows what arrives.
    rig.Receive("still here\r\n");
    run.Stop();
    QVERIFY(run.WaitFinished(20000));
    QCOMPARE(run.Result().Kind, TKind::Stopped);
    QCOMPARE(run.Result().ExitCode(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Lines().contains(Msg(u"[script] stopped."_s)), 10000);
    QVERIFY(rig.Lines().contains(u"still here"_s));
}

void TstScripts::errorsWithTheirLines_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<TKind>("kind");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("syntax error") << u"var a = 1;\nvar b = ;\nlog(a);\n"_s << TKind::BadScript << 2
                                  << u"SyntaxError: "_s;
    QTest::newRow("unknown name") << u"log(1);\n\nundefinedThing();\n"_s << TKind::BadScript << 3
                                  << u"ReferenceError: undefinedThing is not defined"_s;
    QTest::newRow("a call made wrong")
        << u"\nport.sendHex(\"01 0G\");\n"_s << TKind::BadScript << 2 << u"TypeError: sendHex: "_s;
    QTest::newRow("thrown by the script")
        << u"\n\nthrow new Error(\"no banner\");\n"_s << TKind::Failed << 3 << u"no banner"_s;
    QTest::newRow("fail() in a function")
        << u"function check(ok) {\n  if (!ok)\n    fail(\"bad answer\");\n}\ncheck(true);\ncheck(false);\n"_s
        << TKind::Failed << 3 << u"bad answer"_s;
    // pass() and fail() end the script even inside try: they are not errors to catch.
    QTest::newRow("fail() inside try") << u"try {\n  fail(\"stop here\");\n} catch (e) {}\npass();\n"_s
                                       << TKind::Failed << 2 << u"stop here"_s;
    QTest::newRow("runs to its end") << u"var x = crc16modbus([1, 3, 0, 0, 0, 2]);\n"_s << TKind::Passed << 0
                                     << QString();
}

void TstScripts::errorsWithTheirLines()
{
    QFETCH(QString, source);
    QFETCH(TKind, kind);
    QFETCH(int, line);
    QFETCH(QString, message);
    Rig rig;
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r = RunToEnd(run, source, rig.obj.get());
    QCOMPARE(r.Kind, kind);
    QCOMPARE(r.Line, line);
    QVERIFY2(r.Message.startsWith(message), qPrintable(r.Message));
    QCOMPARE(r.ExitCode(), kind == TKind::Passed ? 0 : kind == TKind::BadScript ? 2 : 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Lines().contains(r.Text()), 10000);
}

void TstScripts::twoPorts()
{
    Rig a, b;
    Modem modemA(a.pty, Modem::Answers);
    Modem modemB(b.pty, Modem::Answers);
    Host host;
    host.Rigs = {&a, &b};
    TCvScriptRun run(&host);
    const TCvScriptResult r = RunToEnd(run,
                                       u"var other = openPort(\"%1\", {baud: 9600, parity: \"even\"});\n"
                                       "port.send(\"AT\\r\");\n"
                                       "other.send(\"HELLO\\r\");\n"
                                       "other.expect(\"ERROR\", 5000);\n"
                                       "port.expect(\"OK\", 5000);\n"
                                       "if (port.read(200) !== \"\\r\\n\") fail(\"port A has more\");\n"
                                       "pass(other.name);\n"_s.arg(b.pty.SlavePath()),
                                       a.obj.get());
    QCOMPARE(r.Kind, TKind::Passed);
    QCOMPARE(r.Message, b.pty.SlavePath());
    QCOMPARE(modemA.Heard, QByteArray("AT\r"));
    QCOMPARE(modemB.Heard, QByteArray("HELLO\r"));
    // The options given took effect on the second port.
    QCOMPARE(b.obj->BaudRate(), int(br9600));
    QCOMPARE(b.obj->Parity().FBits, int(prEven));
    QTRY_VERIFY_WITH_TIMEOUT(b.Lines().contains(Msg(u"[script] > %1"_s).arg(u"\"HELLO\\r\""_s)), 10000);

    // A port that cannot be had fails the script; options made wrong are the script's error.
    TCvScriptRun missing(&host);
    const TCvScriptResult m = RunToEnd(missing, u"openPort(\"/dev/nothing-here\");\n"_s, a.obj.get());
    QCOMPARE(m.Kind, TKind::Failed);
    QCOMPARE(m.Message, Msg(u"openPort %1: %2"_s).arg(u"/dev/nothing-here"_s, Msg(u"no such device"_s)));
    TCvScriptRun wrong(&host);
    const TCvScriptResult w =
        RunToEnd(wrong, u"openPort(\"%1\", {baud: \"fast\"});\n"_s.arg(b.pty.SlavePath()), a.obj.get());
    QCOMPARE(w.Kind, TKind::BadScript);
    QVERIFY2(w.Message.contains(u"invalid value 'fast' for --baud"_s), qPrintable(w.Message));
}

// A Modbus read: the request with its CRC, the reply read as bytes and checked.
void TstScripts::bytesWithACrc()
{
    Rig rig;
    QSocketNotifier device(rig.pty.MasterFd(), QSocketNotifier::Read);
    QByteArray heard;
    connect(&device, &QSocketNotifier::activated, this, [&] {
        char buf[256];
        const ssize_t n = ::read(rig.pty.MasterFd(), buf, sizeof buf);
        if (n > 0) heard.append(buf, n);
        if (heard.size() == 8) {
            // Two registers, 10 and 20, with the reply's CRC (low byte first).
            const QByteArray reply("\x01\x03\x04\x00\x0A\x00\x14\xDA\x3E", 9);
            QVERIFY(::write(rig.pty.MasterFd(), reply.constData(), 9) == 9);
        }
    });
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r =
        RunToEnd(run,
                 u"var request = [0x01, 0x03, 0x00, 0x00, 0x00, 0x02];\n"
                 "var crc = crc16modbus(request);\n"
                 "request.push(crc & 0xFF, crc >> 8);\n"
                 "port.clear();\n"
                 "port.sendHex(request);\n"
                 "var reply = port.readBytes(9, 5000);\n"
                 "if (reply.length !== 9) fail(\"short reply: \" + toHex(reply));\n"
                 "var body = reply.slice(0, 7);\n"
                 "var c = crc16modbus(body);\n"
                 "if (reply[7] !== (c & 0xFF) || reply[8] !== (c >> 8)) fail(\"bad CRC\");\n"
                 "pass(String(reply[3] * 256 + reply[4]) + \",\" + (reply[5] * 256 + reply[6]));\n"_s,
                 rig.obj.get());
    QCOMPARE(r.Kind, TKind::Passed);
    QCOMPARE(r.Message, u"10,20"_s);
    QCOMPARE(heard, QByteArray("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8));
    QTRY_VERIFY_WITH_TIMEOUT(rig.Lines().contains(Msg(u"[script] > %1"_s).arg(u"01 03 00 00 00 02 C4 0B"_s)),
                             10000);
}

void TstScripts::whatAPtyCannotDo_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("message");
    QTest::newRow("DTR") << u"port.setDtr(true)"_s
                         << Msg(u"Can not set %1: this port has no modem lines."_s).arg(u"DTR"_s);
    QTest::newRow("RTS") << u"port.setRts(false)"_s
                         << Msg(u"Can not set %1: this port has no modem lines."_s).arg(u"RTS"_s);
    QTest::newRow("break") << u"port.sendBreak(100)"_s
                           << Msg(u"Can not send a break on %1: not possible on this kind of port."_s);
}

void TstScripts::whatAPtyCannotDo()
{
    QFETCH(QString, call);
    QFETCH(QString, message);
    Rig rig;
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r = RunToEnd(run, u"\n"_s + call + u";\n"_s, rig.obj.get());
    QCOMPARE(r.Kind, TKind::Failed);
    QCOMPARE(r.Line, 2);
    const QString expected = message.contains(u"%1"_s) ? message.arg(rig.obj->FComportFullName) : message;
    QVERIFY2(r.Message.endsWith(expected), qPrintable(r.Message));
}

void TstScripts::aClosedPortFailsTheSend()
{
    Rig rig;
    Host host;
    TCvScriptRun run(&host);
    rig.obj->Close();
    const TCvScriptResult r = RunToEnd(run, u"port.send(\"AT\\r\");\n"_s, rig.obj.get());
    QCOMPARE(r.Kind, TKind::Failed);
    QCOMPARE(r.Message, u"%1: %2"_s.arg(rig.obj->Port(),
                                        Msg(u"Device %1 is not open."_s).arg(rig.obj->FComportFullName)));
}

void TstScripts::noPort()
{
    Host host;
    TCvScriptRun run(&host);
    const TCvScriptResult r = RunToEnd(run, u"log(\"alone\");\nport.send(\"x\");\n"_s, nullptr);
    QCOMPARE(r.Kind, TKind::BadScript);
    QCOMPARE(r.Line, 2);
    QVERIFY(
        r.Message.endsWith(Msg(u"This script has no port: give a DEVICE, select one in the window, or use "
                               u"openPort(name)."_s)));
    // Its lines went to the host, the result last.
    QCOMPARE(host.Messages, QStringList({Msg(u"[script] %1"_s).arg(u"alone"_s), r.Text()}));
}

void TstScripts::textAndBytesReadOneStream_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<bool>("takeText");
    QTest::addColumn<int>("take");
    QTest::addColumn<QString>("textLeft");
    QTest::addColumn<QByteArray>("bytesLeft");
    const int utf8 = int(TTextEncoding::Utf8);
    QTest::newRow("text taken, bytes follow") << utf8 << QList<QByteArray>{"OK\r\n", "\x01\x02"} << true << 4
                                              << u"\x01\x02"_s << QByteArray("\x01\x02");
    QTest::newRow("inside a read") << utf8 << QList<QByteArray>{"AT\r\nOK"} << true << 2 << u"\r\nOK"_s
                                   << QByteArray("\r\nOK");
    QTest::newRow("bytes taken, text follows")
        << utf8 << QList<QByteArray>{"ab", "cd"} << false << 3 << u"d"_s << QByteArray("d");
    QTest::newRow("Chinese taken as text")
        << utf8 << QList<QByteArray>{"温度=5"} << true << 2 << u"=5"_s << QByteArray("=5");
    // Bytes taken in the middle of a character: the character stays, the text cannot go half.
    QTest::newRow("bytes inside a character")
        << utf8 << QList<QByteArray>{"温x"} << false << 1 << u"温x"_s << QByteArray("\xB8\xA9x");
    QTest::newRow("GB18030") << int(TTextEncoding::Gb18030) << QList<QByteArray>{"\xCE\xC2\xB6\xC8!"} << true
                             << 1 << u"度!"_s << QByteArray("\xB6\xC8!");
    // Bytes that are no text keep their whole read until the bytes are taken.
    QTest::newRow("invalid bytes") << utf8 << QList<QByteArray>{"\xFF\xFEok"} << true << 3 << u"k"_s
                                   << QByteArray("\xFF\xFEok");
}

void TstScripts::textAndBytesReadOneStream()
{
    QFETCH(int, encoding);
    QFETCH(QList<QByteArray>, reads);
    QFETCH(bool, takeText);
    QFETCH(int, take);
    QFETCH(QString, textLeft);
    QFETCH(QByteArray, bytesLeft);
    CvScript::TRxStream rx;
    TTextDecoder decoder{TTextEncoding(encoding)};
    for (const QByteArray& r : reads)
        rx.Push(r, decoder.Decode(r.constData(), r.size()), TTextEncoding(encoding));
    if (takeText) rx.TakeText(take);
    else rx.TakeBytes(take);
    QCOMPARE(rx.Text(), textLeft);
    QCOMPARE(rx.Bytes(), bytesLeft);
    rx.Clear();
    QVERIFY(rx.Text().isEmpty() && rx.Bytes().isEmpty());
}

QTEST_MAIN(TstScripts)
#include "tst_scripts.moc"
