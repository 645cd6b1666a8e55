#include "Corvane_CRC.h"
#include "CvProtocol.h"
#include "TCvComPortObj.h"
#include "TCvPortTransferLink.h"
#include "TCvXmodem.h"
#include "TLogMemo.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <csignal>

// The device simulator answers as a device would on a real pty.
class TstSimulator : public QObject {
    Q_OBJECT
private slots:
    void echo();
    void protocolPeer();
    void lines();
    void stopsCleanlyAndRemovesItsLink();
    void loadyTakesAYmodemFile();

private:
    // Starts the simulator and returns the device path it printed.
    QString Start(QProcess& p, const QStringList& args)
    {
        p.start(QStringLiteral(CORVANE_SIM), args);
        if (!p.waitForStarted(5000) || !p.waitForReadyRead(5000)) return QString();
        return QString::fromLocal8Bit(p.readLine()).trimmed();
    }
};

namespace {
std::unique_ptr<TCvComPortObj> Open(const QString& path, TLogMemo* memo, int format)
{
    auto obj = std::make_unique<TCvComPortObj>(nullptr, QStringLiteral("Virtual Port (%1)").arg(path));
    obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           format, memo, false, false, false, false, true);
    obj->Open();
    return obj;
}
QStringList Lines(TCvComPortObj& obj)
{
    obj.FlushUiQueue();
    QStringList out;
    for (qint64 i = 0; i < obj.LogView()->Model().LineCount(); ++i) out << obj.LogView()->Model().Line(i);
    return out;
}
} // namespace

void TstSimulator::echo()
{
    QProcess sim;
    const QString path = Start(sim, {"--echo"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    obj->TorvinComSendData_Common(QStringLiteral("hello"), sfAscii);
    // The echo ends its line: an empty line waits for what comes next.
    QTRY_COMPARE(Lines(*obj), QStringList({"hello", ""}));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::protocolPeer()
{
    QProcess sim;
    const QString path = Start(sim, {"--protocol"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfProtocol);
    obj->RequestProtocolConnection();
    QTRY_COMPARE(obj->GetPacks(), 1);
    QCOMPARE(obj->Protocol()->GetLastPackHead().TypeID, quint16(CvTypeAck));
    // A read on I2C is answered with data and the end of the transfer.
    quint8 request[7] = {4};
    obj->SendProtocolData(request, 7, 7, 50, false);
    QTRY_COMPARE(obj->GetPacks(), 3);
    QCOMPARE(obj->Protocol()->GetPackByIndex(2).TypeID, quint16(51));
    QCOMPARE(obj->Protocol()->GetPackByIndex(2).Length, quint16(4 + 12));
    // Acknowledged writes complete.
    quint8 data[600] = {};
    std::optional<bool> acked;
    QVERIFY(obj->SendProtocolData(data, sizeof data, sizeof data, 101, true, [&](bool ok) { acked = ok; }));
    QTRY_VERIFY_WITH_TIMEOUT(acked.has_value(), 15000);
    QVERIFY(*acked);
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::lines()
{
    QProcess sim;
    const QString path = Start(sim, {"--lines", "20"});
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    QTRY_VERIFY(Lines(*obj).size() >= 3);
    QVERIFY(Lines(*obj).first().startsWith(QLatin1String("line ")));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::stopsCleanlyAndRemovesItsLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttySIM"));
    QProcess sim;
    QCOMPARE(Start(sim, {"--link", link, "--sine", "5"}), link);
    QVERIFY(QFileInfo(link).isSymLink());
    ::kill(pid_t(sim.processId()), SIGINT);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    QProcess bad;
    bad.start(QStringLiteral(CORVANE_SIM), {"--nonsense"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
}

// The bootloader console: loady at its prompt, a YMODEM send, and the size and CRC-32 it
// prints afterwards, shown in the log as the port's own text again.
void TstSimulator::loadyTakesAYmodemFile()
{
    QProcess sim;
    const QString path = Start(sim, {"--loady"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    obj->TorvinComSendData_Common(QStringLiteral("loady"), sfAscii);
    QTRY_VERIFY_WITH_TIMEOUT(Lines(*obj).contains(QStringLiteral(
                                 "## Ready for binary (ymodem) download to 0x82000000 at 115200 bps...")),
                             10000);

    QTemporaryDir tmp;
    QByteArray data(70000, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i) data[i] = char(i * 31 + i / 7);
    const QString file = tmp.filePath(QStringLiteral("u-boot.itb"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    TCvPortTransferLink link(obj.get());
    TCvXmodemSender sender(&link, TCvXmodemSender::TMode::Ymodem, {{file, {}}});
    std::optional<TCvTransferResult> result;
    connect(&sender, &TCvTransfer::Finished, this, [&](const TCvTransferResult& r) { result = r; });
    link.Attach(&sender);
    sender.Start();
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 60000);
    QVERIFY2(result->End == TCvTransferEnd::Done, qPrintable(result->Reason));
    const quint32 crc = CalCRC32(reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size()));
    QTRY_VERIFY_WITH_TIMEOUT(
        Lines(*obj).contains(QStringLiteral("## CRC32 = 0x%1").arg(crc, 8, 16, QLatin1Char('0'))), 10000);
    // The C the console sent before the transfer took the line shows in front of it, as on a
    // terminal.
    QVERIFY(Lines(*obj).join(u'\n').contains(
        QStringLiteral("## Total Size      = 0x%1 = 70000 Bytes").arg(70000, 8, 16, QLatin1Char('0'))));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

QTEST_MAIN(TstSimulator)
#include "tst_simulator.moc"
