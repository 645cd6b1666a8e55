#include "IniFile.h"
#include "PtyPair.h"
#include "SerialLine.h"
#include "TCustomComPort.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <cerrno>

class TstComPort : public QObject {
    Q_OBJECT
private slots:
    void writeReachesPeer();
    void queuedWrites();
    void receiveEventsOnGuiThread();
    void closeStopsEvents();
    void vanishedPeerClosesPort();
    void customBaudApplied();
    void lineSettingsApplied_data();
    void lineSettingsApplied();
    void openFailures_data();
    void openFailures();
    void secondOpenIsBusy();
    void readStrIsBytewiseWriteStrEncodes();
    void compositeFlowControl();
    void queueSizes();
    void loadSettings_data();
    void loadSettings();
    void storeSettings();
    void garbageSettingsFileGivesDefaults();
};

void TstComPort::writeReachesPeer()
{
    PtyPair pty;
    QVERIFY(pty.IsValid());
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    QVERIFY(port.Connected());
    QCOMPARE(port.Write("hello", 5), 5);
    QCOMPARE(pty.Read(5), QByteArray("hello"));
}

// Queued writes end in order, each saying how much went out and why it stopped; a write
// queued by a completion while others are cancelled is kept, and a close cancels too.
void TstComPort::queuedWrites()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    QList<QPair<qint64, int>> ends;
    const auto note = [&](qint64 n, int e) { ends << qMakePair(n, e); };
    port.WriteAsync(QByteArray(1 << 20, 'a'), [&](qint64 n, int e) {
        note(n, e);
        port.WriteAsync("next", note);
    });
    port.WriteAsync("tail", note);
    // The device holds back: both wait, and the call has returned.
    QCOMPARE(port.PendingWrites(), 2);
    port.CancelWrites();
    QCOMPARE(ends.size(), 2);
    const qint64 taken = ends[0].first;
    QVERIFY(taken > 0 && taken < (1 << 20));
    QCOMPARE(ends[0].second, ECANCELED);
    QCOMPARE(ends[1], qMakePair(qint64(0), ECANCELED));
    const QByteArray got = pty.Read(int(taken) + 4);
    QCOMPARE(got.size(), taken + 4);
    QCOMPARE(got.right(4), QByteArray("next"));
    QTRY_COMPARE(ends.size(), 3);
    QCOMPARE(ends[2], qMakePair(qint64(4), 0));

    port.WriteAsync(QByteArray(1 << 20, 'b'), note);
    port.Close();
    QCOMPARE(ends.size(), 4);
    QCOMPARE(ends[3].second, ECANCELED);
    port.WriteAsync("closed", note);
    QCOMPARE(ends.last(), qMakePair(qint64(0), EBADF));
}

void TstComPort::receiveEventsOnGuiThread()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    qint64 total = 0;
    bool onGui = true, nested = false, inHandler = false;
    QByteArray got;
    port.SetOnRxChar([&](TCustomComPort* sender, int count) {
        nested |= inHandler;
        inHandler = true;
        onGui &= QThread::currentThread() == QCoreApplication::instance()->thread();
        QCOMPARE(count, sender->InputCount());
        QByteArray buf(count, 0);
        total += sender->Read(buf.data(), count);
        got += buf;
        QTest::qWait(1); // a turn of the event loop inside the handler must not raise another event
        inHandler = false;
    });
    port.Open();
    QByteArray data;
    for (int i = 0; i < 5000; ++i) data += char('A' + i % 26);
    QVERIFY(pty.Write(data));
    QTRY_COMPARE(total, qint64(data.size()));
    QCOMPARE(got, data);
    QVERIFY(onGui);
    QVERIFY(!nested);
}

void TstComPort::closeStopsEvents()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    int events = 0;
    port.SetOnRxChar([&](TCustomComPort* s, int c) {
        ++events;
        QByteArray b(c, 0);
        s->Read(b.data(), c);
    });
    port.Open();
    pty.Write("x");
    QTRY_COMPARE(events, 1);
    port.Close();
    QVERIFY(!port.Connected());
    pty.Write("more");
    QTest::qWait(100);
    QCOMPARE(events, 1);
    QCOMPARE(port.Write("a", 1), 0);
    char c;
    QCOMPARE(port.Read(&c, 1), 0);
}

void TstComPort::vanishedPeerClosesPort()
{
    auto pty = std::make_unique<PtyPair>();
    TComPort port;
    port.SetPort(pty->SlavePath());
    port.SetOnRxChar([](TCustomComPort* s, int c) {
        QByteArray b(c, 0);
        s->Read(b.data(), c);
    });
    QSignalSpy lost(&port, &TCustomComPort::DeviceLost);
    port.Open();
    pty.reset();
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!port.Connected());
    QCOMPARE(port.Handle(), -1);
    // Nothing keeps firing once it is closed.
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1);
}

void TstComPort::customBaudApplied()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.Open();
    QCOMPARE(ReadLineSpeed(port.Handle()), 250000);
    // Setters re-apply while open.
    port.SetBaudRate(br115200);
    QCOMPARE(ReadLineSpeed(port.Handle()), 115200);
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(1234567);
    QCOMPARE(ReadLineSpeed(port.Handle()), 1234567);
}

void TstComPort::lineSettingsApplied_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("flow");
    QTest::addColumn<int>("wantData");
    QTest::addColumn<int>("wantStop");
    QTest::addColumn<bool>("wantCts");
    QTest::addColumn<bool>("wantXon");
    QTest::newRow("8N1 none") << int(dbEight) << int(sbOneStopBit) << int(prNone) << int(fcNone) << 8 << 1
                              << false << false;
    QTest::newRow("7E2 hardware") << int(dbSeven) << int(sbTwoStopBits) << int(prEven) << int(fcHardware) << 7
                                  << 2 << true << false;
    QTest::newRow("5O1.5 software") << int(dbFive) << int(sbOne5StopBits) << int(prOdd) << int(fcSoftware)
                                    << 5 << 2 << false << true;
    QTest::newRow("6 mark") << int(dbSix) << int(sbOneStopBit) << int(prMark) << int(fcNone) << 6 << 1
                            << false << false;
    QTest::newRow("8 space") << int(dbEight) << int(sbOneStopBit) << int(prSpace) << int(fcNone) << 8 << 1
                             << false << false;
}

void TstComPort::lineSettingsApplied()
{
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    QFETCH(int, flow);
    QFETCH(int, wantData);
    QFETCH(int, wantStop);
    QFETCH(bool, wantCts);
    QFETCH(bool, wantXon);
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    port.BeginUpdate();
    port.SetDataBits(dataBits);
    port.SetStopBits(stopBits);
    port.SetParityBits(parity);
    port.SetFlowControl(flow);
    port.EndUpdate();
    // Pseudo-terminals force 8 data bits and no parity: the encoding itself is checked without one.
    const TLineSettings s = LineSettingsRoundTrip(port.LineSettings());
    TLineSettings onPty;
    QVERIFY(ReadLineSettings(port.Handle(), onPty));
    QCOMPARE(onPty.stopBits, wantStop);
    QCOMPARE(onPty.ctsFlow, wantCts);
    QCOMPARE(onPty.xonXoffIn && onPty.xonXoffOut, wantXon);
    QCOMPARE(s.dataBits, wantData);
    QCOMPARE(s.stopBits, wantStop);
    QCOMPARE(s.parity, parity);
    QCOMPARE(s.ctsFlow, wantCts);
    QCOMPARE(s.xonXoffIn && s.xonXoffOut, wantXon);
}

void TstComPort::openFailures_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("sysError");
    QTest::newRow("missing") << QStringLiteral("/dev/ttyCORVANE_NONE") << ENOENT;
    QTest::newRow("not a tty") << QStringLiteral("/dev/null") << ENOTTY;
    QTest::newRow("empty") << QString() << ENOENT;
    QTest::newRow("climbing") << QStringLiteral("../etc/passwd") << ENOENT;
}

void TstComPort::openFailures()
{
    QFETCH(QString, port);
    QFETCH(int, sysError);
    TComPort p;
    p.SetPort(port);
    try {
        p.Open();
        QFAIL("open succeeded");
    } catch (const EComPort& e) {
        QCOMPARE(e.Code(), 1);
        QCOMPARE(e.WinCode(), sysError);
        // The classic text, the number and the system's words for it.
        QCOMPARE(e.Message(), QStringLiteral("Unable to open com port (Error: %1, %2)")
                                  .arg(sysError)
                                  .arg(QString::fromLocal8Bit(::strerror(sysError))));
        QVERIFY(!e.Hint().isEmpty());
    }
    QVERIFY(!p.Connected());
    QCOMPARE(EComPort(13, EACCES).Hint().contains(QLatin1String("dialout")), true);
    QCOMPARE(QString::fromUtf8(EComPort(24, -1).what()), QStringLiteral("Port Not Open"));
}

void TstComPort::secondOpenIsBusy()
{
    PtyPair pty;
    TComPort a, b;
    a.SetPort(pty.SlavePath());
    b.SetPort(pty.SlavePath());
    a.Open();
    try {
        b.Open();
        QFAIL("second open succeeded");
    } catch (const EComPort& e) {
        QCOMPARE(e.Code(), 1);
        QCOMPARE(e.WinCode(), EBUSY);
    }
    a.Close();
    b.Open();
    QVERIFY(b.Connected());
}

void TstComPort::readStrIsBytewiseWriteStrEncodes()
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Open();
    pty.Write(QByteArray("\x41\xE9", 2));
    QTRY_COMPARE(port.InputCount(), 2);
    QString s;
    QCOMPARE(port.ReadStr(s, 2), 2);
    QCOMPARE(s.size(), 2);
    QCOMPARE(s.at(0).unicode(), 0x41);
    QCOMPARE(s.at(1).unicode(), 0xE9);
    // Text goes out in the port's encoding, never cut to its low 8 bits.
    QCOMPARE(port.WriteStr(QString(QChar(0x4E2D))), 3);
    QCOMPARE(pty.Read(3), QByteArray("\xE4\xB8\xAD"));
    port.SetTextEncoding(TTextEncoding::Bytes);
    QCOMPARE(port.WriteStr(QString(QChar(0x4E2D))), -1);
    QCOMPARE(port.WriteStr(QString(QChar(0xE9))), 1);
    QCOMPARE(pty.Read(1), QByteArray("\xE9"));
}

void TstComPort::compositeFlowControl()
{
    TComPort port;
    TComFlowControl f = port.FlowControl();
    f.FOutDSRFlow = true;
    f.FControlDTR = dtrHandshake;
    port.SetFlowControlFlags(f);
    port.SetFlowControl(fcHardware);
    QCOMPARE(port.FlowControl().FOutDSRFlow, true);
    QCOMPARE(port.FlowControl().FControlDTR, int(dtrHandshake));
    QCOMPARE(port.GetFlowControl(), int(fcHardware));
    port.SetFlowControl(fcSoftware);
    QCOMPARE(port.GetFlowControl(), int(fcSoftware));
    QCOMPARE(port.FlowControl().FControlRTS, int(rtsDisable));
    port.SetFlowControl(fcCustom); // changes no flag
    QCOMPARE(port.GetFlowControl(), int(fcSoftware));
    f = port.FlowControl();
    f.FXonXoffIn = false;
    port.SetFlowControlFlags(f);
    QCOMPARE(port.GetFlowControl(), int(fcCustom));
    port.SetFlowControl(fcNone);
    QCOMPARE(port.GetFlowControl(), int(fcNone));
}

void TstComPort::queueSizes()
{
    TComPort port;
    QCOMPARE(port.InputSize(), 1024);
    port.SetInputSize(2097153);
    QCOMPARE(port.InputSize(), 2097152);
    port.SetOutputSize(7);
    QCOMPARE(port.OutputSize(), 6);
}

void TstComPort::loadSettings_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("custom");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("flow");
    QTest::newRow("example") << QByteArray("[]\r\nPort=COM3\r\nBaudRate=115200\r\nStopBits=1\r\nDataBits="
                                           "8\r\nParity=None\r\nFlowControl=None\r\n")
                             << int(br115200) << 9600 << 0 << 3 << 0 << int(fcNone);
    QTest::newRow("unknown baud") << QByteArray("[]\nBaudRate=abc\n") << int(br9600) << 9600 << 0 << 3 << 0
                                  << int(fcNone);
    QTest::newRow("custom any case") << QByteArray("[]\nbaudrate=cUsToM\nCustomBaudRate=250000\n")
                                     << int(brCustom) << 250000 << 0 << 3 << 0 << int(fcNone);
    QTest::newRow("custom without rate")
        << QByteArray("[]\nBaudRate=Custom\n") << int(brCustom) << 9600 << 0 << 3 << 0 << int(fcNone);
    QTest::newRow("texts any case") << QByteArray(
                                           "[]\nStopBits=2\nDataBits=7\nParity=even\nFlowControl=HARDWARE\n")
                                    << int(br9600) << 9600 << 2 << 2 << 2 << int(fcHardware);
    QTest::newRow("bad texts") << QByteArray("[]\nStopBits=9\nDataBits=x\nParity=?\nFlowControl=zz\n")
                               << int(br9600) << 9600 << 0 << 3 << 0 << int(fcNone);
}

void TstComPort::loadSettings()
{
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("port.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    TComPort port;
    port.SetFlowControl(fcNone);
    port.LoadSettings(stIniFile, path);
    QTEST(port.BaudRate(), "baud");
    QTEST(port.CustomBaudRate(), "custom");
    QTEST(port.StopBits(), "stop");
    QTEST(port.DataBits(), "data");
    QTEST(port.Parity().FBits, "parity");
    QTEST(port.GetFlowControl(), "flow");
}

void TstComPort::storeSettings()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("USB Serial Port (COM3).ini"));
    TComPort port;
    port.SetPort(QStringLiteral("COM3"));
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetFlowControl(fcNone);
    port.StoreSettings(stIniFile, path);
    TIniFile ini;
    QVERIFY(ini.Load(path));
    QCOMPARE(ini.Keys(QString()), QStringList({"Port", "BaudRate", "CustomBaudRate", "StopBits", "DataBits",
                                               "Parity", "FlowControl"}));
    QCOMPARE(ini.ReadString(QString(), "CustomBaudRate"), QStringLiteral("250000"));
    // At 9600 the custom rate is not written, and the old line stays.
    port.SetBaudRate(br9600);
    port.StoreSettings(stIniFile, path);
    QVERIFY(ini.Load(path));
    QCOMPARE(ini.ReadString(QString(), "BaudRate"), QStringLiteral("9600"));
    QCOMPARE(ini.ReadString(QString(), "CustomBaudRate"), QStringLiteral("250000"));
    QFile raw(path);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().startsWith("[]\r\nPort=COM3\r\nBaudRate=9600\r\n"));
}

void TstComPort::garbageSettingsFileGivesDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("junk.ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QByteArray junk;
    for (int i = 0; i < 200000; ++i) junk += char((i * 7919) & 0xFF);
    junk += "\n[]\nBaudRate=\x01\xFF\n" + QByteArray(300000, 'x');
    f.write(junk);
    f.close();
    TComPort port;
    port.LoadSettings(stIniFile, path);
    QCOMPARE(port.BaudRate(), int(br9600));
    QCOMPARE(port.DataBits(), int(dbEight));
    QCOMPARE(port.Port(), QStringLiteral("COM1"));
}

QTEST_GUILESS_MAIN(TstComPort)
#include "tst_comport.moc"
