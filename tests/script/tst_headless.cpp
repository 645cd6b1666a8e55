// `corvane --script`: the real program, run as a test bench would, with no display at all,
// against the simulator and devices on ptys. Its exit code and what it prints.
#include "PtyPair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A script of the help page, as the page shows it.
QString HelpExample(const QString& id)
{
    QFile f(QStringLiteral(CORVANE_HELP));
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QString html = QString::fromUtf8(f.readAll());
    const QRegularExpression pre(u"<pre id=\"%1\">\\n(.*?)</pre>"_s.arg(id),
                                 QRegularExpression::DotMatchesEverythingOption);
    QString code = pre.match(html).captured(1);
    code.replace(u"&lt;"_s, u"<"_s)
        .replace(u"&gt;"_s, u">"_s)
        .replace(u"&quot;"_s, u"\""_s)
        .replace(u"&amp;"_s, u"&"_s);
    return code;
}

// The simulator, serving a pty until the test ends.
struct Sim {
    QProcess P;
    QString Path;
    explicit Sim(const QStringList& args)
    {
        P.start(QStringLiteral(CORVANE_SIM), args);
        if (P.waitForStarted(10000) && P.waitForReadyRead(10000))
            Path = QString::fromLocal8Bit(P.readLine()).trimmed();
    }
    ~Sim()
    {
        P.terminate();
        P.waitForFinished(10000);
    }
};

// A Modbus RTU device with two holding registers, 10 and 20, on the device side of a pty.
struct ModbusDevice {
    PtyPair Pty;
    QByteArray Heard;
    QSocketNotifier Notifier{Pty.MasterFd(), QSocketNotifier::Read};
    ModbusDevice()
    {
        QObject::connect(&Notifier, &QSocketNotifier::activated, &Notifier, [this] {
            char buf[256];
            const ssize_t n = ::read(Pty.MasterFd(), buf, sizeof buf);
            if (n > 0) Heard.append(buf, n);
            if (Heard == QByteArray("\x01\x03\x00\x00\x00\x02\xC4\x0B", 8)) {
                Heard.clear();
                const QByteArray reply("\x01\x03\x04\x00\x0A\x00\x14\xDA\x3E", 9);
                if (::write(Pty.MasterFd(), reply.constData(), 9) != 9) qWarning("the reply was not written");
            }
        });
    }
};

struct Result {
    int Code = -1;
    QStringList Out;
    QString Err;
};

class Bench {
public:
    Bench() { QVERIFY(FData.isValid()); }
    // Writes the script and runs corvane --script on it; the event loop turns meanwhile
    // (the devices of the test answer from it). stop: sends SIGTERM once it is running.
    Result Run(const QString& script, const QStringList& args, bool stop = false)
    {
        const QString file = FData.filePath(u"bench.js"_s);
        QFile f(file);
        if (f.open(QIODevice::WriteOnly)) f.write(script.toUtf8());
        f.close();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display of any kind: a bench or CI job has none.
        for (const QString& var : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s}) env.remove(var);
        env.insert(u"XDG_DATA_HOME"_s, FData.filePath(u"data"_s));
        env.insert(u"XDG_RUNTIME_DIR"_s, FData.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CORVANE_BIN), QStringList{u"--script"_s, file} + args);
        Result r;
        if (!p.waitForStarted(10000)) return r;
        QElapsedTimer clock;
        clock.start();
        bool stopped = false;
        QByteArray out;
        while (p.state() != QProcess::NotRunning && clock.elapsed() < 120000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            p.waitForFinished(10);
            out += p.readAllStandardOutput();
            // Stopped once the script has begun its work.
            if (stop && !stopped && out.contains("[script] begun")) {
                p.terminate();
                stopped = true;
            }
        }
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(10000);
            return r;
        }
        out += p.readAllStandardOutput();
        r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.Out = QString::fromUtf8(out).split(u'\n', Qt::SkipEmptyParts);
        r.Err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

private:
    QTemporaryDir FData;
};

const QRegularExpression kStamped(u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "_s);

} // namespace

class TstHeadless : public QObject {
    Q_OBJECT
private slots:
    void scripts_data();
    void scripts();
    void twoPorts();
    void signalStopsTheScript();
    void badArguments_data();
    void badArguments();
};

void TstHeadless::scripts_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("lastLine");

    const QString count33 = u"var failures = 0;\n"
                            "for (var i = 0; i < 100; ++i) {\n"
                            "    port.send(\"AT\\r\");\n"
                            "    if (port.expect(/OK|ERROR/, 5000)[0] !== \"OK\") ++failures;\n"
                            "}\n"
                            "pass(failures + \" failures\");\n"_s;
    QTest::newRow("help: an AT modem")
        << HelpExample(u"example-at"_s) << u"at"_s << 0 << u"[script] passed: the modem answers"_s;
    QTest::newRow("a modem that never answers") << u"port.send(\"AT\\r\");\nport.expect(\"OK\", 500);\n"_s
                                                << u"silent"_s << 1 << u"[script] failed at line 2: "_s;
    QTest::newRow("every third command fails")
        << count33 << u"at3"_s << 0 << u"[script] passed: 33 failures"_s;
    QTest::newRow("help: the soak, a good modem") << HelpExample(u"example-soak"_s) << u"at"_s << 0
                                                  << u"[script] passed: 1000 rounds without a failure"_s;
    QTest::newRow("help: the soak, every third fails")
        << HelpExample(u"example-soak"_s) << u"at3"_s << 1
        << u"[script] failed at line 13: 333 of 1000 rounds failed"_s;
    QTest::newRow("help: a Modbus read") << HelpExample(u"example-modbus"_s) << u"modbus"_s << 0
                                         << u"[script] passed: register 0 = 10, register 1 = 20"_s;
    QTest::newRow("a syntax error") << u"log(1);\nvar a = ;\n"_s << u"at"_s << 2
                                    << u"[script] error at line 2: SyntaxError"_s;
    QTest::newRow("no DEVICE, no port needed")
        << u"log(\"alone\");\n"_s << QString() << 0 << u"[script] passed."_s;
}

void TstHeadless::scripts()
{
    QFETCH(QString, script);
    QFETCH(QString, peer);
    QFETCH(int, code);
    QFETCH(QString, lastLine);
    QVERIFY(!script.isEmpty());
    std::unique_ptr<Sim> sim;
    std::unique_ptr<PtyPair> silent;
    std::unique_ptr<ModbusDevice> modbus;
    QString device;
    if (peer == u"at"_s || peer == u"at3"_s) {
        sim = std::make_unique<Sim>(peer == u"at"_s ? QStringList{u"--at"_s}
                                                    : QStringList{u"--at"_s, u"--error-every"_s, u"3"_s});
        device = sim->Path;
    } else if (peer == u"silent"_s) {
        silent = std::make_unique<PtyPair>();
        device = silent->SlavePath();
    } else if (peer == u"modbus"_s) {
        modbus = std::make_unique<ModbusDevice>();
        device = modbus->Pty.SlavePath();
    }
    if (!peer.isEmpty()) QVERIFY(!device.isEmpty());
    Bench bench;
    const Result r =
        bench.Run(script, device.isEmpty() ? QStringList() : QStringList{device, u"-b"_s, u"115200"_s});
    QVERIFY2(r.Code == code, qPrintable(u"exit %1\n%2\n%3"_s.arg(r.Code).arg(r.Out.join(u'\n'), r.Err)));
    QVERIFY(!r.Out.isEmpty());
    // Every line carries its time; the last says how the script ended.
    for (const QString& line : r.Out) QVERIFY2(kStamped.match(line).hasMatch(), qPrintable(line));
    QVERIFY2(r.Out.constLast().contains(lastLine), qPrintable(r.Out.constLast()));
}

void TstHeadless::twoPorts()
{
    Sim a({u"--at"_s});
    Sim b({u"--echo"_s});
    QVERIFY(!a.Path.isEmpty() && !b.Path.isEmpty());
    Bench bench;
    const Result r = bench.Run(u"var echo = openPort(\"%1\", {baud: 57600});\n"
                               "echo.send(\"ping\\r\\n\");\n"
                               "echo.expect(\"ping\", 5000);\n"
                               "port.send(\"AT\\r\");\n"
                               "port.expect(\"OK\", 5000);\n"_s.arg(b.Path),
                               {a.Path});
    QVERIFY2(r.Code == 0, qPrintable(r.Out.join(u'\n') + r.Err));
    // Each port's lines are printed with its name.
    const QString nameA = a.Path.mid(5), nameB = b.Path.mid(5);
    QVERIFY(!r.Out.filter(u"[%1] [script] > \"AT\\r\""_s.arg(nameA)).isEmpty());
    QVERIFY(!r.Out.filter(u"[%1] [script] > \"ping\\r\\n\""_s.arg(nameB)).isEmpty());
    QVERIFY(!r.Out.filter(u"[%1] OK"_s.arg(nameA)).isEmpty());
    QVERIFY(!r.Out.filter(u"[%1] ping"_s.arg(nameB)).isEmpty());
}

void TstHeadless::signalStopsTheScript()
{
    Sim sim({u"--at"_s});
    Bench bench;
    const Result r = bench.Run(u"log(\"begun\");\nwhile (true) {}\n"_s, {sim.Path}, true);
    QCOMPARE(r.Code, 1);
    QVERIFY2(r.Out.constLast().endsWith(u"[script] stopped."_s), qPrintable(r.Out.join(u'\n')));
}

void TstHeadless::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("no such device") << QStringList{u"/dev/no-such-port"_s} << u"no such device"_s;
    QTest::newRow("line settings without a DEVICE") << QStringList{u"-b"_s, u"9600"_s} << u"need a DEVICE"_s;
    QTest::newRow("with --new-window")
        << QStringList{u"--new-window"_s} << u"does not go with --new-window"_s;
    QTest::newRow("a device that is no serial port")
        << QStringList{u"/dev/null"_s} << u"can not open /dev/null"_s;
}

void TstHeadless::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    Bench bench;
    const Result r = bench.Run(u"pass();\n"_s, args);
    QCOMPARE(r.Code, 2);
    QVERIFY2(r.Err.contains(error), qPrintable(r.Err));

    // A script that is not there.
    QProcess p;
    p.start(QStringLiteral(CORVANE_BIN), {u"--script"_s, u"/no/such/script.js"_s});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("no such script"));
}

QTEST_MAIN(TstHeadless)
#include "tst_headless.moc"
