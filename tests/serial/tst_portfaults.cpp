#include "PortRig.h"
#include "UnreadableFile.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/resource.h>
#include <thread>

// Faults a port object must survive: the device going away mid-flood, a peer that stops reading,
// a settings file it cannot read.
class TstPortFaults : public QObject {
    Q_OBJECT
private slots:
    void deviceVanishesDuringFlood_data();
    void deviceVanishesDuringFlood();
    void peerStopsReading();
    void deviceVanishesWhileWaitingForAck_data();
    void deviceVanishesWhileWaitingForAck();
    void unreadableSettingsFileIsKept_data();
    void unreadableSettingsFileIsKept();
};

namespace {
double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
// What was received is shown before anything is measured: the worker asleep and nothing
// more shown for 100 ms (slow under a sanitizer).
void WaitUntilShown(TCvComPortObj& obj)
{
    QElapsedTimer t;
    t.start();
    qint64 last = -1;
    while (t.elapsed() < 30000) {
        const qint64 now = obj.FComProcessedCount.load();
        if (obj.UIHandleThread()->Suspended() && now == last) break;
        last = now;
        QTest::qWait(100);
    }
    obj.FlushUiQueue();
}
} // namespace

void TstPortFaults::deviceVanishesDuringFlood_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("hex") << int(rfHex);
    QTest::newRow("ascii with line numbers") << int(rfAscii);
    QTest::newRow("protocol") << int(rfProtocol);
}

void TstPortFaults::deviceVanishesDuringFlood()
{
    QFETCH(int, format);
    PortRig rig({format, sfAscii, true, false, false, false});
    QSignalSpy lost(rig.obj.get(), &TCustomComPort::DeviceLost);
    QByteArray chunk(65536, 'x');
    for (int i = 0; i < 8; ++i) rig.pty.Write(chunk, 100);
    rig.pty.CloseMaster();
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!rig.obj->Connected());
    QTRY_VERIFY(rig.Lines().join('\n').contains(QLatin1String("was removed.")));
    WaitUntilShown(*rig.obj);
    // Nothing spins on the dead descriptor.
    const double before = CpuSeconds();
    QTest::qWait(500);
    QVERIFY2(CpuSeconds() - before < 0.25, "CPU kept busy after the device vanished");
    // Sending now says the device is closed.
    rig.obj->TorvinComSendData_Common(QStringLiteral("x"), sfAscii);
    QVERIFY(rig.Lines().last().endsWith(QLatin1String("Device was closed,please open a device.")));
}

void TstPortFaults::peerStopsReading()
{
    PortRig rig({rfAscii, sfAscii, false, false, false, false});
    TComTimeouts t = rig.obj->Timeouts();
    t.FWriteTotalC = 300;
    t.FWriteTotalM = 0;
    rig.obj->SetTimeouts(t);
    QByteArray big(1 << 20, 'y');
    // Queued: the call returns while the device still holds back, and the failure follows.
    QVERIFY(rig.obj->TorvinComSendBuffer(reinterpret_cast<const quint8*>(big.constData()), int(big.size())));
    QVERIFY(rig.obj->PendingWrites() == 1);
    QTRY_VERIFY(!rig.Lines().isEmpty() &&
                rig.Lines().last().startsWith(QLatin1String("Sorry Write to device fail!!")));
    // What the device took is what the counter and the line say.
    const qint64 sent = rig.obj->FComSentCount.load();
    QVERIFY(sent > 0 && sent < big.size());
    QCOMPARE(rig.Lines().last(), TCvComPortObj::WriteFailureText(sent, big.size(), ETIMEDOUT));
    QCOMPARE(rig.Lines().last(),
             QStringLiteral("Sorry Write to device fail!! (Timed out: the device took no data) %1 of "
                            "1048576 bytes were written.")
                 .arg(sent));
    QCOMPARE(rig.pty.ReadFor(200).size(), sent);
}

void TstPortFaults::deviceVanishesWhileWaitingForAck_data()
{
    QTest::addColumn<bool>("unplugged");
    QTest::newRow("unplugged") << true;
    QTest::newRow("closed") << false;
}

void TstPortFaults::deviceVanishesWhileWaitingForAck()
{
    QFETCH(bool, unplugged);
    PortRig rig({rfProtocol, sfProtocol, false, false, false, false});
    // Far longer than the test waits: the transfer must end with the port, not time out.
    rig.obj->SetProtocolAckTimeout(600000);
    quint8 data[700] = {};
    std::optional<bool> result;
    QVERIFY(
        rig.obj->SendProtocolData(data, sizeof data, sizeof data, 101, true, [&](bool ok) { result = ok; }));
    // The wait does not hold the GUI thread: the device goes away from here.
    if (unplugged) rig.pty.CloseMaster();
    else rig.obj->Close();
    QTRY_VERIFY(!rig.obj->Connected());
    QTRY_VERIFY(result.has_value());
    QVERIFY(!*result);
}

void TstPortFaults::unreadableSettingsFileIsKept_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : UnreadableFile::Kinds()) QTest::newRow(qPrintable(kind)) << kind;
}

void TstPortFaults::unreadableSettingsFileIsKept()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Serial Port (ttyS9).ini"));
    QString skip;
    const QString why = UnreadableFile::Make(kind, path, &skip);
    if (!skip.isEmpty()) QSKIP(qPrintable(skip));
    QVERIFY(!why.isEmpty());
    const QByteArray before = UnreadableFile::State(path);

    PortRig rig({rfAscii, sfAscii, false, false, false, false});
    rig.obj->LoadSettings(stIniFile, path);
    rig.obj->SetBaudRate(br57600);
    rig.obj->StoreSettings(stIniFile, path);
    rig.obj->SetTextEncoding(TTextEncoding::Gb18030);
    rig.obj->StoreSettings(stIniFile, path);
    QVERIFY(UnreadableFile::State(path) == before);
    // Said once, with the file and the reason.
    const QStringList told = rig.Lines().filter(QStringLiteral("The settings of this port are not saved"));
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains(path) && told.first().contains(why), qPrintable(told.first()));

    // Once the file is readable again, it is saved as before.
    QFile::remove(path);
    rig.obj->StoreSettings(stIniFile, path);
    TIniFile ini;
    QVERIFY(ini.Load(path));
    QCOMPARE(ini.ReadString(QString(), QStringLiteral("BaudRate")), QStringLiteral("57600"));
}

QTEST_MAIN(TstPortFaults)
#include "tst_portfaults.moc"
